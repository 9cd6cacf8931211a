#include <fstream>
#include <nlohmann/json.hpp>

#include "vantrel/host/session.h"
#include "vantrel/host/text_layout.h"

namespace vantrel::host {
namespace {

using nlohmann::json;

PF_PathVertex VertexFromJson(const json& j) {
  const json& in = j.at("in");
  const json& out = j.at("out");
  if (!in.is_array() || in.size() != 2 || !out.is_array() || out.size() != 2) {
    throw HostError("\"in\" and \"out\" must be [x, y]");
  }
  return PF_PathVertex{j.at("x").get<double>(), j.at("y").get<double>(), in[0].get<double>(),
                       in[1].get<double>(),     out[0].get<double>(),    out[1].get<double>()};
}

json VertexToJson(const PF_PathVertex& v) {
  return json{{"x", v.x},
              {"y", v.y},
              {"in", json::array({v.tan_in_x, v.tan_in_y})},
              {"out", json::array({v.tan_out_x, v.tan_out_y})}};
}

}  // namespace

TextOutlineSet LoadOutlinesJson(const std::filesystem::path& path) {
  std::ifstream in(path);
  if (!in) throw HostError("cannot read outline file " + path.string());
  try {
    const json doc = json::parse(in);
    if (!doc.is_array()) throw HostError("the document must be a list of contours");
    TextOutlineSet set;
    for (const json& contour : doc) {
      OutlinePath outline;
      const json* vertices = &contour;
      if (contour.is_object()) {
        outline.open = contour.value("open", false);
        vertices = &contour.at("vertices");
      }
      if (!vertices->is_array()) throw HostError("a contour must be a list of vertices");
      for (const json& v : *vertices) outline.vertices.push_back(VertexFromJson(v));
      set.push_back(std::move(outline));
    }
    return set;
  } catch (const HostError& e) {
    throw HostError("outline file " + path.string() + ": " + e.what());
  } catch (const json::exception& e) {
    throw HostError("outline file " + path.string() + ": " + e.what());
  }
}

void SaveOutlinesJson(const TextOutlineSet& outlines, const std::filesystem::path& path) {
  json doc = json::array();
  for (const OutlinePath& outline : outlines) {
    json vertices = json::array();
    for (const PF_PathVertex& v : outline.vertices) vertices.push_back(VertexToJson(v));
    if (outline.open) {
      doc.push_back(json{{"open", true}, {"vertices", std::move(vertices)}});
    } else {
      doc.push_back(std::move(vertices));
    }
  }
  std::ofstream out(path);
  out << doc.dump(1) << '\n';
  if (!out) throw HostError("cannot write outline file " + path.string());
}

}  // namespace vantrel::host
