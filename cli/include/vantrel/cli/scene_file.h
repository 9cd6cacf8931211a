// Scene files: a composition, one text layer and the effect's controls, as
// JSON. Reading checks everything a render needs before anything is written,
// and a refusal names the file, the line and column, and what was expected.
#ifndef VANTREL_CLI_SCENE_FILE_H
#define VANTREL_CLI_SCENE_FILE_H

#include <filesystem>
#include <stdexcept>
#include <string>
#include <vector>

#include "vantrel/cli/controls.h"
#include "vantrel/host/scene.h"

namespace vantrel::cli {

// A scene file that cannot be used. what() is the whole message, e.g.
// "intro.json:12:5: unknown control \"Dely (frames)\"; expected one of: ...".
class SceneError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

struct SceneFile {
  host::Scene scene;
  std::string description;  // the optional "description", one line
};

// Reads and checks a scene file. `label` is how messages name the file (by
// default its path as given). Controls are checked against `controls`: their
// names, choices and valid ranges. A font family (and style) is resolved
// through fontconfig; a font file relative to the scene file, then among the
// installed fonts when the name has no directory.
// Throws SceneError.
SceneFile ReadSceneFile(const std::filesystem::path& path, const ControlCatalog& controls);

// The same for scene text already in memory; `path` only names the file and
// anchors relative font paths.
SceneFile ParseSceneText(const std::string& text, const std::filesystem::path& path,
                         const ControlCatalog& controls);

}  // namespace vantrel::cli

#endif  // VANTREL_CLI_SCENE_FILE_H
