#include "vantrel/cli/preview_request.h"

#include <charconv>

#include "vantrel/cli/render_job.h"

namespace vantrel::cli {

using nlohmann::json;

namespace {

// Thrown inside the decoder only; DecodePreviewRequest answers it.
struct Refused {
  int status;
  std::string reason;
};

// A value the client sent, quoted for a reason: at most `limit` bytes, with
// quotes and control characters escaped so that the reason stays one line.
std::string Quote(std::string_view text, std::size_t limit = 20) {
  const std::string cut(text.substr(0, limit));
  return json(cut).dump(-1, ' ', false, json::error_handler_t::replace);
}

const std::string* Param(const QueryParams& query, const char* name) {
  const auto it = query.find(name);
  return it == query.end() ? nullptr : &it->second;
}

std::optional<int> ParseFrame(const QueryParams& query, int duration) {
  const std::string* text = Param(query, "frame");
  if (text == nullptr) return std::nullopt;
  int value = 0;
  const char* end = text->data() + text->size();
  const auto [stop, error] = std::from_chars(text->data(), end, value);
  if (text->empty() || error != std::errc() || stop != end || value < 0 || value >= duration) {
    throw Refused{400, "frame=" + Quote(*text) + ": expected a number from 0 to " +
                           std::to_string(duration - 1)};
  }
  return value;
}

host::Resolution ParseResolutionName(const std::string& name, const char* what) {
  try {
    return ParseResolution(name);
  } catch (const UsageError&) {
    throw Refused{400, std::string(what) + ": expected one of full, half, third, quarter"};
  }
}

json ParseBody(const std::string& body) {
  json parsed = json::parse(body, nullptr, false);
  if (parsed.is_discarded()) throw Refused{400, "the request body is not valid JSON"};
  if (!parsed.is_object()) throw Refused{400, "the request body must be a JSON object"};
  return parsed;
}

struct Route {
  std::string_view path;
  std::string_view method;
  PreviewAction action;
};

constexpr Route kRoutes[] = {
    {"/api/state", "GET", PreviewAction::kState},
    {"/api/frame", "GET", PreviewAction::kFrame},
    {"/api/pieces", "GET", PreviewAction::kPieces},
    {"/api/events", "GET", PreviewAction::kEvents},
    {"/api/control", "POST", PreviewAction::kControl},
    {"/api/layer", "POST", PreviewAction::kLayer},
    {"/api/save", "POST", PreviewAction::kSave},
    {"/api/export", "POST", PreviewAction::kExport},
    {"/api/export/cancel", "POST", PreviewAction::kCancelExport},
};

PreviewRequest Decode(std::string_view method, std::string_view path, const QueryParams& query,
                      const std::string& body, int duration, host::Resolution resolution) {
  const Route* route = nullptr;
  for (const Route& r : kRoutes) {
    if (r.path == path) route = &r;
  }
  if (route == nullptr) throw Refused{404, "no such page"};
  if (route->method != method) {
    throw Refused{405, std::string(path) + " takes " + std::string(route->method)};
  }
  PreviewRequest request;
  request.action = route->action;
  switch (route->action) {
    case PreviewAction::kFrame:
    case PreviewAction::kPieces:
    case PreviewAction::kControl:
    case PreviewAction::kLayer:
      // An edit asked to answer with a frame is refused before it is made
      // when that frame cannot be drawn.
      request.frame = ParseFrame(query, duration);
      if (!request.frame &&
          (route->action == PreviewAction::kFrame || route->action == PreviewAction::kPieces)) {
        request.frame = 0;
      }
      request.resolution = resolution;
      if (const std::string* res = Param(query, "res")) {
        request.resolution = ParseResolutionName(*res, "res");
      }
      if (const std::string* view = Param(query, "view")) request.view = view->substr(0, 64);
      break;
    default:
      break;
  }
  if (route->action == PreviewAction::kControl) {
    json parsed = ParseBody(body);
    const auto name = parsed.find("name");
    const auto value = parsed.find("value");
    if (name == parsed.end() || !name->is_string() || value == parsed.end()) {
      throw Refused{400, "expected {\"name\": control name, \"value\": value}"};
    }
    request.control = name->get<std::string>();
    request.value = std::move(*value);
  } else if (route->action == PreviewAction::kLayer) {
    request.value = ParseBody(body);
  } else if (route->action == PreviewAction::kExport) {
    request.resolution = host::Resolution::kFull;
    if (!body.empty()) {
      const json parsed = ParseBody(body);
      if (const auto res = parsed.find("resolution"); res != parsed.end()) {
        if (!res->is_string()) throw Refused{400, "resolution: expected a name"};
        request.resolution = ParseResolutionName(res->get<std::string>(), "resolution");
      }
      if (const auto video = parsed.find("video"); video != parsed.end()) {
        if (!video->is_boolean()) throw Refused{400, "video: expected true or false"};
        request.video = video->get<bool>();
      }
    }
  }
  return request;
}

}  // namespace

std::variant<PreviewRequest, RequestRefusal> DecodePreviewRequest(
    std::string_view method, std::string_view path, const QueryParams& query,
    const std::string& body, int duration_frames, host::Resolution resolution) {
  try {
    return Decode(method, path, query, body, duration_frames, resolution);
  } catch (const Refused& r) {
    return RequestRefusal{r.status, r.reason};
  }
}

}  // namespace vantrel::cli
