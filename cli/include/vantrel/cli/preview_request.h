// What a request to the preview server asks for, decoded from its method,
// path, query and body before anything is done: either one action with its
// values checked (frame in range, resolution named, body a JSON object of the
// right shape), or a refusal with a 4xx status and a one-line reason. Whether
// an edit's values suit the scene is the scene's to say (EditError).
#ifndef VANTREL_CLI_PREVIEW_REQUEST_H
#define VANTREL_CLI_PREVIEW_REQUEST_H

#include <map>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <string_view>
#include <variant>

#include "vantrel/host/scene.h"

namespace vantrel::cli {

// The query's names and values, percent-decoded, as the HTTP library gives
// them.
using QueryParams = std::multimap<std::string, std::string>;

enum class PreviewAction {
  kState,         // GET /api/state
  kFrame,         // GET /api/frame
  kPieces,        // GET /api/pieces
  kEvents,        // GET /api/events
  kControl,       // POST /api/control {"name": ..., "value": ...}
  kLayer,         // POST /api/layer {key: value, ...}
  kSave,          // POST /api/save
  kExport,        // POST /api/export {"resolution": name, "video": bool}
  kCancelExport,  // POST /api/export/cancel
};

struct PreviewRequest {
  PreviewAction action = PreviewAction::kState;
  // kFrame and kPieces; an edit answers with this frame when one is asked for.
  std::optional<int> frame;
  host::Resolution resolution = host::Resolution::kFull;
  std::string view;  // a frame's view, at most 64 bytes
  std::string control;
  nlohmann::json value;  // kControl's value, kLayer's values
  bool video = false;    // kExport
};

struct RequestRefusal {
  int status = 400;
  std::string reason;  // one line
};

// `duration_frames` bounds the frame asked for; `resolution` is the one used
// when the query names none (an export's is full unless its body names one).
std::variant<PreviewRequest, RequestRefusal> DecodePreviewRequest(
    std::string_view method, std::string_view path, const QueryParams& query,
    const std::string& body, int duration_frames, host::Resolution resolution);

}  // namespace vantrel::cli

#endif  // VANTREL_CLI_PREVIEW_REQUEST_H
