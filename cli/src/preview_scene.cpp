#include "vantrel/cli/preview_scene.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cmath>
#include <cstring>
#include <fstream>
#include <sstream>

#include "vantrel/cli/raster.h"
#include "vantrel/host/scene_layers.h"

namespace vantrel::cli {

namespace fs = std::filesystem;
using nlohmann::json;
using nlohmann::ordered_json;

namespace {

// One line, with a space after each comma and colon as people write them.
std::string Flat(const ordered_json& v) {
  if (!v.is_structured()) return v.dump();
  const bool object = v.is_object();
  std::string out = object ? "{" : "[";
  for (auto it = v.begin(); it != v.end(); ++it) {
    if (it != v.begin()) out += ", ";
    if (object) out += json(it.key()).dump() + ": ";
    out += Flat(*it);
  }
  return out + (object ? "}" : "]");
}

// `v` starting at `column` of a line whose members are indented by `indent`.
void Format(const ordered_json& v, std::size_t indent, std::size_t column, std::size_t width,
            std::string& out) {
  const std::string flat = Flat(v);
  if (!v.is_structured() || v.empty() || column + flat.size() <= width) {
    out += flat;
    return;
  }
  const bool object = v.is_object();
  const std::string pad(indent + 2, ' ');
  out += object ? "{\n" : "[\n";
  for (auto it = v.begin(); it != v.end(); ++it) {
    if (it != v.begin()) out += ",\n";
    out += pad;
    std::string key;
    if (object) key = json(it.key()).dump() + ": ";
    out += key;
    Format(*it, indent + 2, pad.size() + key.size(), width, out);
  }
  out += '\n' + std::string(indent, ' ') + (object ? "}" : "]");
}

std::string ReadText(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) throw SceneError(path.string() + ": cannot be read");
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

// A name the client sent, quoted for a one-line reason: escaped as JSON, so a
// line break in it cannot start another line.
std::string Quoted(const std::string& name) {
  return json(name.substr(0, 64)).dump(-1, ' ', false, json::error_handler_t::replace);
}

// A layer value as the page shows it: the document's own, else the default.
json LayerValue(const ordered_json& layer, const char* key, json fallback) {
  if (layer.is_object() && layer.contains(key)) return json::parse(layer[key].dump());
  return fallback;
}

}  // namespace

std::string FormatSceneJson(const ordered_json& doc, std::size_t width) {
  std::string out;
  Format(doc, 0, 0, width, out);
  out += '\n';
  return out;
}

void WriteFileAtomically(const fs::path& path, const std::string& text) {
  const fs::path temp = PartialName(path);
  const int fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (fd < 0) throw std::runtime_error(temp.string() + ": " + std::strerror(errno));
  std::size_t written = 0;
  int error = 0;
  while (written < text.size()) {
    const ssize_t n = ::write(fd, text.data() + written, text.size() - written);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      error = n < 0 ? errno : ENOSPC;
      break;
    }
    written += static_cast<std::size_t>(n);
  }
  if (error == 0 && ::fsync(fd) != 0) error = errno;
  if (::close(fd) != 0 && error == 0) error = errno;
  if (error == 0 && std::rename(temp.c_str(), path.c_str()) != 0) error = errno;
  if (error != 0) {
    ::unlink(temp.c_str());
    throw std::runtime_error(path.string() + ": not saved: " + std::strerror(error));
  }
}

PreviewScene::PreviewScene(const host::LoadedModule& module, fs::path path)
    : module_(module), path_(std::move(path)) {
  controls_ = ReadModuleControls(module_.entry());
  disk_time_ = ModifiedTime();
  disk_text_ = ReadText(path_);
  SceneFile file = ParseSceneText(disk_text_, path_, controls_);
  Adopt(ordered_json::parse(disk_text_), std::move(file), true);
}

void PreviewScene::Adopt(ordered_json doc, SceneFile file, bool relayout) {
  const host::Scene& scene = file.scene;
  if (relayout || !layout_) layout_ = host::TextLayer(scene.layer, scene.comp).layout();
  // A copy of the layout shares its glyphs and rasterised images.
  auto layer =
      std::make_unique<host::TextLayer>(*layout_, host::TransformOf(scene.layer), scene.comp);
  renderer_ = std::make_shared<const host::FrameRenderer>(module_, scene, std::move(layer));
  declared_ = renderer_->declared_params();
  doc_ = std::move(doc);
  file_ = std::move(file);
  ++version_;
}

void PreviewScene::SetControl(const std::string& name, const json& value) {
  const ControlInfo* control = controls_.Find(name);
  if (control == nullptr) throw EditError("unknown control " + Quoted(name));
  double number = 0;
  json stored = value;
  switch (control->kind) {
    case ControlKind::kSlider:
      if (!value.is_number()) throw EditError("\"" + name + "\" takes a number");
      number = value.get<double>();
      if (!std::isfinite(number) || number < control->min || number > control->max) {
        throw EditError("\"" + name + "\" " + value.dump() + " is outside " +
                        FormatControlValue(*control, control->min) + " to " +
                        FormatControlValue(*control, control->max));
      }
      break;
    case ControlKind::kCheckbox:
      if (!value.is_boolean()) throw EditError("\"" + name + "\" takes true or false");
      number = value.get<bool>() ? 1 : 0;
      break;
    case ControlKind::kPopup: {
      const auto& choices = control->choices;
      if (value.is_number_integer() && value.get<long long>() >= 1 &&
          value.get<long long>() <= static_cast<long long>(choices.size())) {
        number = static_cast<double>(value.get<long long>());
      } else if (value.is_string()) {
        const auto it = std::find(choices.begin(), choices.end(), value.get<std::string>());
        if (it == choices.end())
          throw EditError("\"" + name + "\" has no choice " + Quoted(value.get<std::string>()));
        number = static_cast<double>(it - choices.begin() + 1);
      } else {
        throw EditError("\"" + name + "\" takes one of its choices");
      }
      stored = choices[static_cast<std::size_t>(number) - 1];
      break;
    }
  }
  ordered_json doc = doc_;
  if (!doc["effect"].is_object()) doc["effect"] = ordered_json::object();
  doc["effect"][name] = ordered_json::parse(stored.dump());
  SceneFile file = file_;
  file.scene.effect.controls[control->index] = host::Animated<double>::Constant(number);
  Adopt(std::move(doc), std::move(file), false);
}

void PreviewScene::SetLayer(const json& values) {
  if (!values.is_object()) throw EditError("layer values must be a JSON object");
  ordered_json doc = doc_;
  if (!doc["layer"].is_object()) doc["layer"] = ordered_json::object();
  for (const auto& [key, value] : values.items()) {
    if (key != "text" && key != "font" && key != "style" && key != "size" && key != "fill" &&
        key != "align") {
      throw EditError("the layer's " + Quoted(key) +
                      " cannot be edited here; expected text, font, style, size, fill or align");
    }
    // An empty style leaves the family's regular face (and lets a font file
    // be named).
    if (key == "style" && (value.is_null() || value == "")) {
      doc["layer"].erase("style");
      continue;
    }
    doc["layer"][key] = ordered_json::parse(value.dump());
  }
  // Read back as the file would be, so that a value the reader refuses is
  // refused here with the reader's own words.
  const std::string text = FormatSceneJson(doc);
  SceneFile file;
  try {
    file = ParseSceneText(text, path_, controls_);
  } catch (const SceneError& e) {
    // "file:line:column: reason", a line for each mistake: the first one's
    // reason, as the position is in text not yet saved.
    const std::string what = e.what();
    const std::string first = what.substr(0, what.find('\n'));
    const std::size_t colon = first.find(": ", path_.string().size());
    throw EditError(colon == std::string::npos ? first : first.substr(colon + 2));
  }
  try {
    Adopt(std::move(doc), std::move(file), true);
  } catch (const host::HostError& e) {
    throw EditError(e.what());
  }
}

void PreviewScene::Save() {
  if (!error_.empty()) {
    throw EditError("the scene file on disk has an error that a save would overwrite: " + error_);
  }
  const std::string text = FormatSceneJson(doc_);
  WriteFileAtomically(path_, text);
  disk_text_ = text;
  disk_time_ = ModifiedTime();
}

bool PreviewScene::Reload() {
  const auto time = ModifiedTime();
  if (time == disk_time_) return false;
  disk_time_ = time;
  std::string text;
  try {
    text = ReadText(path_);
  } catch (const SceneError& e) {
    error_ = e.what();
    return true;
  }
  if (text == disk_text_ && error_.empty()) return false;
  disk_text_ = text;
  try {
    SceneFile file = ParseSceneText(text, path_, controls_);
    Adopt(ordered_json::parse(text), std::move(file), true);
    error_.clear();
  } catch (const SceneError& e) {
    error_ = e.what();
  } catch (const host::HostError& e) {
    error_ = path_.string() + ": " + e.what();
  }
  return true;
}

std::optional<fs::file_time_type> PreviewScene::ModifiedTime() const {
  std::error_code ec;
  const auto time = fs::last_write_time(path_, ec);
  if (ec) return std::nullopt;
  return time;
}

json PreviewScene::Describe() const {
  const host::Scene& scene = file_.scene;
  json controls = json::array();
  // Groups as declared: a group start's flag says whether it starts folded.
  std::map<std::string, bool> folded;
  for (const host::DeclaredParam& p : declared_) {
    if (p.def.param_type == PF_Param_GROUP_START) {
      const std::string name(p.def.name, strnlen(p.def.name, sizeof p.def.name));
      folded[name] = (p.def.flags & PF_ParamFlag_START_COLLAPSED) != 0;
    }
  }
  const ordered_json& effect = doc_.contains("effect") ? doc_["effect"] : ordered_json();
  for (const ControlInfo& c : controls_.controls()) {
    json item{{"name", c.name},      {"group", c.group},           {"min", c.min},
              {"max", c.max},        {"default", c.default_value}, {"precision", c.precision},
              {"percent", c.percent}};
    item["kind"] = c.kind == ControlKind::kSlider  ? "slider"
                   : c.kind == ControlKind::kPopup ? "popup"
                                                   : "checkbox";
    if (c.kind == ControlKind::kPopup) item["choices"] = c.choices;
    const auto it = scene.effect.controls.find(c.index);
    const bool keyed = it != scene.effect.controls.end() && it->second.IsAnimated();
    item["keyframed"] = keyed;
    double value = c.default_value;
    if (it != scene.effect.controls.end()) value = it->second.keys.front().value;
    item["value"] = value;
    if (keyed) {
      json keys = json::array();
      for (const auto& k : it->second.keys) {
        keys.push_back({k.frame, k.value,
                        k.interpolation == host::Interpolation::kHold     ? "hold"
                        : k.interpolation == host::Interpolation::kLinear ? "linear"
                                                                          : "ease"});
      }
      item["keys"] = keys;
    }
    item["set"] = effect.is_object() && effect.contains(c.name);
    controls.push_back(std::move(item));
  }
  json groups = json::object();
  for (const auto& [name, starts_folded] : folded) groups[name] = {{"folded", starts_folded}};

  const ordered_json& layer = doc_.contains("layer") ? doc_["layer"] : ordered_json();
  char fill[8];
  std::snprintf(fill, sizeof fill, "#%02x%02x%02x", scene.layer.fill.red, scene.layer.fill.green,
                scene.layer.fill.blue);
  const char* align = scene.layer.align == host::TextAlign::kLeft     ? "left"
                      : scene.layer.align == host::TextAlign::kCenter ? "center"
                                                                      : "right";
  return json{
      {"file", path_.filename().string()},
      {"version", version_},
      {"error", error_},
      {"composition",
       {{"width", scene.comp.width},
        {"height", scene.comp.height},
        {"fps", static_cast<double>(scene.comp.fps_num) / scene.comp.fps_den},
        {"duration", scene.comp.duration_frames}}},
      {"controls", controls},
      {"groups", groups},
      {"layer",
       {{"text", scene.layer.text},
        {"font", LayerValue(layer, "font", "DejaVu Sans")},
        {"style", LayerValue(layer, "style", "")},
        {"size", scene.layer.font_size},
        {"fill", fill},
        {"align", align}}},
  };
}

}  // namespace vantrel::cli
