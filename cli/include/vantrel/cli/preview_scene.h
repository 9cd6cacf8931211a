// The scene a preview edits: the file's JSON document, what it reads as, and a
// renderer for it. Edits change the document, so that a save writes back the
// file as it was with only the edited values changed, and every edit is read
// again through the scene reader before it is rendered.
#ifndef VANTREL_CLI_PREVIEW_SCENE_H
#define VANTREL_CLI_PREVIEW_SCENE_H

#include <filesystem>
#include <memory>
#include <nlohmann/json.hpp>
#include <optional>
#include <stdexcept>
#include <string>

#include "vantrel/cli/controls.h"
#include "vantrel/cli/scene_file.h"
#include "vantrel/host/frame.h"
#include "vantrel/host/module_loader.h"
#include "vantrel/host/text_layout.h"

namespace vantrel::cli {

// An edit that cannot be applied; what() is one line saying why.
class EditError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// JSON text as scene files are written by hand: two-space indents, and any
// array or object that fits in `width` characters on one line.
std::string FormatSceneJson(const nlohmann::ordered_json& doc, std::size_t width = 80);

// Writes `text` to a temporary name beside `path` (PartialName), flushes it to
// disk and renames it over `path`: a reader sees the old file or the new one,
// never a part. Throws std::runtime_error naming the file; the temporary is
// removed on failure.
void WriteFileAtomically(const std::filesystem::path& path, const std::string& text);

class PreviewScene {
 public:
  // Reads the scene file; throws SceneError when it cannot be used, HostError
  // when its text cannot be laid out or the module fails its set-up.
  PreviewScene(const host::LoadedModule& module, std::filesystem::path path);

  // Sets a control to a constant (replacing keys, if any). `value` is a
  // number for a slider, a choice name (or 1-based number) for a pop-up and
  // true or false for a checkbox. Throws EditError.
  void SetControl(const std::string& name, const nlohmann::json& value);
  // Sets layer values ("text", "font", "size", "fill", "align"), checked as
  // the scene file reader checks them. Throws EditError.
  void SetLayer(const nlohmann::json& values);

  // Writes the document back to the scene file. Refused (EditError) while
  // the file on disk has an error, which the save would otherwise overwrite.
  void Save();
  // Re-reads the file when its modification time changed since it was last
  // read or written and its text differs. A file that cannot be used sets
  // error() and keeps the last good scene. Returns true when anything changed.
  bool Reload();

  // Bumped by every change of what a render shows.
  int version() const { return version_; }
  // "scene.json:3:7: ..." while the file on disk cannot be used, else empty.
  const std::string& error() const { return error_; }
  const host::Scene& scene() const { return file_.scene; }
  // The document a save writes (FormatSceneJson of it).
  const nlohmann::ordered_json& document() const { return doc_; }
  const ControlCatalog& controls() const { return controls_; }
  // Shared so that a render may outlive the next edit.
  std::shared_ptr<const host::FrameRenderer> renderer() const { return renderer_; }

  // The controls as the page builds its panel from them, with their current
  // values, the groups they sit in (and whether those start folded), the
  // layer's editable values and the composition.
  nlohmann::json Describe() const;

 private:
  void Adopt(nlohmann::ordered_json doc, SceneFile file, bool relayout);
  std::optional<std::filesystem::file_time_type> ModifiedTime() const;

  const host::LoadedModule& module_;
  std::filesystem::path path_;
  ControlCatalog controls_;
  std::vector<host::DeclaredParam> declared_;
  nlohmann::ordered_json doc_;
  SceneFile file_;
  std::optional<host::TextLayout> layout_;
  std::shared_ptr<const host::FrameRenderer> renderer_;
  std::string disk_text_;  // the file's text as last read or written
  std::optional<std::filesystem::file_time_type> disk_time_;
  std::string error_;
  int version_ = 0;
};

}  // namespace vantrel::cli

#endif  // VANTREL_CLI_PREVIEW_SCENE_H
