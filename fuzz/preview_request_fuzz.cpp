// Fuzz target: the preview server's requests, decoded as the server decodes
// them and the edits among them made on a fresh copy of examples/01's scene,
// without a socket. An input is one or more requests, each
//   METHOD TARGET\n
//   body...
// separated by a line "---"; TARGET is a path with an optional ?query, both
// percent-decoded by the HTTP library as the server's are. Faults: a crash or
// sanitizer report; an exception other than a refusal escaping; a refusal
// that is not a 4xx with one short line of reason; an accepted request whose
// values are out of range; an accepted edit after which the document a save
// would write is refused by the scene reader or reads as another scene.
#include <httplib.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <filesystem>
#include <memory>
#include <string>
#include <string_view>

#include "module_path.h"
#include "vantrel/cli/preview_request.h"
#include "vantrel/cli/preview_scene.h"
#include "vantrel/cli/scene_file.h"
#include "vantrel/host/module_loader.h"

namespace {

namespace fs = std::filesystem;
using vantrel::cli::PreviewAction;
using vantrel::cli::PreviewRequest;
using vantrel::cli::PreviewScene;
using vantrel::cli::RequestRefusal;

[[noreturn]] void Fault(const std::string& what) {
  std::fprintf(stderr, "%s\n", what.c_str());
  std::abort();
}

// A reason goes to the page as the answer's one line.
void CheckReason(const std::string& reason, const std::string& context) {
  if (reason.empty() || reason.size() > 500 || reason.find_first_of("\r\n") != std::string::npos) {
    Fault(context + ": the reason is not one short line: " + reason);
  }
}

// The scene copied once into a folder of its own, removed at exit: nothing
// here writes to it, and nothing is written anywhere else.
struct Fixture {
  std::unique_ptr<vantrel::host::LoadedModule> module;
  fs::path folder;
  std::unique_ptr<PreviewScene> pristine;

  Fixture() {
    module = vantrel::host::LoadedModule::Load(vantrel::fuzz::ModulePath());
    std::string temp = (fs::temp_directory_path() / "vantrel-preview-fuzz-XXXXXX").string();
    if (::mkdtemp(temp.data()) == nullptr) Fault("cannot make a temporary folder");
    folder = temp;
    const fs::path scene = folder / "title.json";
    fs::copy_file(VANTREL_TITLE_SCENE, scene);
    pristine = std::make_unique<PreviewScene>(*module, scene);
  }
  ~Fixture() {
    pristine.reset();
    std::error_code ignored;
    fs::remove_all(folder, ignored);
  }
};

Fixture& Scene() {
  static Fixture fixture;
  return fixture;
}

// The next request of `input` from `at`: its first line and its body.
bool NextRequest(std::string_view input, std::size_t& at, std::string& line, std::string& body) {
  if (at > input.size()) return false;
  std::size_t end = input.find("\n---\n", at);
  if (end == std::string_view::npos) end = input.size();
  const std::string_view request = input.substr(at, end - at);
  at = end + 5;
  const std::size_t newline = request.find('\n');
  line = std::string(request.substr(0, newline));
  body = newline == std::string_view::npos ? "" : std::string(request.substr(newline + 1));
  return true;
}

// The document the edit left, written and read back as a save and a reload
// would: refused, or reading as another scene, is a fault.
void CheckSavedForm(const PreviewScene& scene, const std::string& context) {
  const std::string text = vantrel::cli::FormatSceneJson(scene.document());
  vantrel::cli::SceneFile file;
  try {
    file = vantrel::cli::ParseSceneText(text, "title.json", scene.controls());
  } catch (const std::exception& e) {
    Fault(context + ": the edited scene does not read back: " + e.what() + "\n" + text);
  }
  const vantrel::host::Scene& now = scene.scene();
  const vantrel::host::Scene& read = file.scene;
  bool same = read.layer.text == now.layer.text && read.layer.font_size == now.layer.font_size &&
              read.layer.align == now.layer.align &&
              read.effect.controls.size() == now.effect.controls.size();
  for (const auto& [index, value] : now.effect.controls) {
    const auto it = read.effect.controls.find(index);
    same = same && it != read.effect.controls.end() &&
           it->second.keys.size() == value.keys.size() &&
           it->second.keys.front().value == value.keys.front().value;
  }
  if (!same) Fault(context + ": the edited scene reads back as another scene:\n" + text);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
  Fixture& fixture = Scene();
  const std::string_view input(reinterpret_cast<const char*>(data), size);
  PreviewScene scene = *fixture.pristine;
  const int duration = scene.scene().comp.duration_frames;
  std::string line;
  std::string body;
  std::size_t at = 0;
  for (int n = 0; n < 8 && NextRequest(input, at, line, body); ++n) {
    const std::size_t space = line.find(' ');
    const std::string method = line.substr(0, space);
    const std::string target = space == std::string::npos ? "" : line.substr(space + 1);
    const std::size_t question = target.find('?');
    const std::string path = httplib::detail::decode_url(target.substr(0, question), false);
    vantrel::cli::QueryParams query;
    if (question != std::string::npos) {
      httplib::detail::parse_query_text(target.substr(question + 1), query);
    }
    const std::string context = "request " + std::to_string(n + 1) + " \"" + line + "\"";
    auto decoded = vantrel::cli::DecodePreviewRequest(method, path, query, body, duration,
                                                      vantrel::host::Resolution::kHalf);
    if (const auto* refusal = std::get_if<RequestRefusal>(&decoded)) {
      if (refusal->status < 400 || refusal->status > 499) {
        Fault(context + ": refused with status " + std::to_string(refusal->status));
      }
      CheckReason(refusal->reason, context);
      continue;
    }
    const PreviewRequest& request = std::get<PreviewRequest>(decoded);
    if ((request.frame && (*request.frame < 0 || *request.frame >= duration)) ||
        request.view.size() > 64) {
      Fault(context + ": accepted a frame or view out of range");
    }
    if (request.action != PreviewAction::kControl && request.action != PreviewAction::kLayer) {
      continue;
    }
    try {
      if (request.action == PreviewAction::kControl) {
        scene.SetControl(request.control, request.value);
      } else {
        scene.SetLayer(request.value);
      }
    } catch (const vantrel::cli::EditError& e) {
      CheckReason(e.what(), context);
      continue;
    } catch (const std::exception& e) {
      Fault(context + ": the edit escaped as " + e.what());
    }
    CheckSavedForm(scene, context);
  }
  return 0;
}
