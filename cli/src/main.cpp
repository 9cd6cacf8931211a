// The vantrel command: renders scene files through an effect module loaded
// the way After Effects loads it, and describes modules and their controls.
#include <unistd.h>

#include <atomic>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <iostream>
#include <string>
#include <vector>

#include "vantrel/cli/controls.h"
#include "vantrel/cli/pieces.h"
#include "vantrel/cli/preview_server.h"
#include "vantrel/cli/render_job.h"
#include "vantrel/cli/scene_file.h"
#include "vantrel/cli/video.h"
#include "vantrel/host/inspect.h"
#include "vantrel/host/module_loader.h"
#include "vantrel/host/session.h"

namespace fs = std::filesystem;
using namespace vantrel;

namespace {

constexpr int kExitOk = 0;
constexpr int kExitFailed = 1;
constexpr int kExitUsage = 2;
constexpr int kExitInterrupted = 130;

constexpr const char* kUsage = R"(usage: vantrel <command> [options]

commands:
  render SCENE     render frames of a scene file into PNG files, a contact sheet
                   and optionally a video
  check SCENE      read a scene file and report what is wrong with it, if anything
  controls         list the effect's controls: ranges, defaults, choices
  pieces SCENE     show how the effect cut one frame's text into pieces: each
                   piece's box, time, opacity and placement, and an image of
                   the boxes over the layer
  preview SCENE    show the scene in the browser: scrub, play, change controls,
                   save the scene and export its frames
  inspect MODULE   describe a module file: its property resource, its answers to
                   the set-up commands and the controls it declares
  help             show this text

render options:
  --frames LIST        frames to render: 0-59, 12, 0,10,20 (default: all)
  --resolution RES     full, half, third or quarter (default: full)
  --out DIR            output folder (default: out/<scene name>)
  --video FILE         also write FILE.mp4 or FILE.gif with ffmpeg
  --jobs N             frames rendered at once (default: one per core)
  --no-contact-sheet   do not write contact.png
  --strict             exit with code 1 when the host found a protocol violation
  --quiet              no summary line

pieces options:
  --frame N            the frame to look at (default: the middle frame)
  --resolution RES     as for render
  --out FILE.png       where to write the boxes image (default:
                       out/<scene name>-pieces-<frame>.png)

preview options:
  --port N             the port to serve on (default: 8000; 0 picks a free one)
  --resolution RES     the page's starting resolution (default: full)
  --out DIR            where Export writes (default: out/<scene name>)
  --host ADDRESS       serve on another address than 127.0.0.1 (with a warning)
  --open               open the page in the browser

common options:
  --module PATH        the module to load (default: $VANTREL_MODULE, else the
                       module this build made)

exit codes: 0 done, 1 render or module error, 2 bad command line or scene file,
130 interrupted
)";

std::atomic<bool> g_stop{false};

extern "C" void OnSignal(int) { g_stop.store(true); }

// --module, then $VANTREL_MODULE, then the module built with this command.
fs::path ModulePath(const std::string& option) {
  if (!option.empty()) return option;
  if (const char* env = std::getenv("VANTREL_MODULE"); env != nullptr && *env != '\0') return env;
#ifdef VANTREL_DEFAULT_MODULE
  return VANTREL_DEFAULT_MODULE;
#else
  throw cli::UsageError("no module given: pass --module PATH or set VANTREL_MODULE");
#endif
}

struct Arguments {
  std::vector<std::string> positional;
  std::string module;
  std::string frames;
  std::string resolution = "full";
  std::string out;
  std::string video;
  int jobs = 0;
  bool contact_sheet = true;
  bool strict = false;
  bool quiet = false;
};

Arguments ParseArguments(const std::vector<std::string>& args, bool render_options) {
  Arguments a;
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string& arg = args[i];
    auto value = [&]() -> std::string {
      if (i + 1 >= args.size()) throw cli::UsageError(arg + " needs a value");
      return args[++i];
    };
    if (arg == "--module") {
      a.module = value();
    } else if (render_options && (arg == "--frames" || arg == "--frame")) {
      a.frames = value();
    } else if (render_options && arg == "--resolution") {
      a.resolution = value();
    } else if (render_options && arg == "--out") {
      a.out = value();
    } else if (render_options && arg == "--video") {
      a.video = value();
    } else if (render_options && arg == "--jobs") {
      const std::string v = value();
      try {
        std::size_t used = 0;
        a.jobs = std::stoi(v, &used);
        if (used != v.size() || a.jobs < 1) throw std::invalid_argument(v);
      } catch (const std::exception&) {
        throw cli::UsageError("--jobs " + v + ": expected a number of threads, 1 or more");
      }
    } else if (render_options && arg == "--no-contact-sheet") {
      a.contact_sheet = false;
    } else if (render_options && arg == "--strict") {
      a.strict = true;
    } else if (render_options && arg == "--quiet") {
      a.quiet = true;
    } else if (arg.size() > 1 && arg[0] == '-') {
      throw cli::UsageError("unknown option " + arg);
    } else {
      a.positional.push_back(arg);
    }
  }
  return a;
}

void RequirePositional(const Arguments& a, std::size_t count, const char* what) {
  if (a.positional.size() != count) throw cli::UsageError(std::string("expected ") + what);
}

int Controls(const Arguments& a) {
  RequirePositional(a, 0, "no arguments besides --module");
  const fs::path module = ModulePath(a.module);
  std::cout << host::FormatControls(host::DeclaredControls(module));
  return kExitOk;
}

int Inspect(const Arguments& a) {
  RequirePositional(a, 1, "one module file: vantrel inspect MODULE");
  const host::ModuleReport report = host::InspectModule(a.positional[0]);
  std::cout << report.text;
  if (report.problem.empty()) return kExitOk;
  // The description says what was found; the exit code lets a script see it.
  std::cerr << "vantrel: " << report.problem << "\n";
  return kExitFailed;
}

struct LoadedScene {
  std::unique_ptr<host::LoadedModule> module;
  cli::SceneFile file;
};

LoadedScene LoadScene(const Arguments& a) {
  LoadedScene s;
  s.module = host::LoadedModule::Load(ModulePath(a.module));
  cli::ControlCatalog controls;
  try {
    controls = cli::ReadModuleControls(s.module->entry());
  } catch (const host::HostError& e) {
    // Say which module failed its set-up: --module may name any file.
    throw host::HostError(s.module->path().string() + ": " + e.what());
  }
  s.file = cli::ReadSceneFile(a.positional[0], controls);
  return s;
}

int Check(const Arguments& a) {
  RequirePositional(a, 1, "one scene file: vantrel check SCENE");
  const LoadedScene s = LoadScene(a);
  const host::Composition& c = s.file.scene.comp;
  std::cout << a.positional[0] << ": " << c.width << "x" << c.height << ", " << c.duration_frames
            << " frames at " << c.fps_num << "/" << c.fps_den << " fps, "
            << s.file.scene.effect.controls.size() << " controls set\n";
  return kExitOk;
}

int Render(const Arguments& a) {
  RequirePositional(a, 1, "one scene file: vantrel render SCENE [options]");
  const fs::path scene_path = a.positional[0];
  // Everything is checked before the output folder is touched.
  cli::RenderRequest request;
  request.resolution = cli::ParseResolution(a.resolution);
  request.jobs = a.jobs;
  request.contact_sheet = a.contact_sheet;
  request.out_dir = a.out.empty() ? fs::path("out") / scene_path.stem() : fs::path(a.out);
  if (!a.video.empty()) {
    request.video = a.video;
    if (!cli::VideoFormatOf(request.video)) {
      throw cli::UsageError("--video " + a.video + ": expected a file name ending in .mp4 or .gif");
    }
  }
  const LoadedScene s = LoadScene(a);
  const host::Scene& scene = s.file.scene;
  request.frames = cli::ParseFrameList(a.frames, scene.comp.duration_frames);
  if (!request.video.empty()) {
    if (request.frames.back() - request.frames.front() + 1 !=
        static_cast<int>(request.frames.size())) {
      throw cli::UsageError("--video needs a contiguous range of frames, such as 0-59");
    }
    if (!cli::FindProgram("ffmpeg")) {
      std::cerr << "vantrel: " << cli::MissingFfmpegMessage() << "\n";
      return kExitFailed;
    }
  }

  const bool terminal = ::isatty(STDERR_FILENO) != 0;
  std::size_t shown = 0;
  double shown_at = -1;
  auto progress = [&](const cli::RenderProgress& p) {
    // At most ten updates a second, and always the last one.
    if (!terminal || (p.seconds - shown_at < 0.1 && p.done < p.total)) return;
    shown_at = p.seconds;
    const std::string line = cli::FormatProgress(p);
    std::fprintf(stderr, "\r%s%*s", line.c_str(),
                 static_cast<int>(shown > line.size() ? shown - line.size() : 0), "");
    std::fflush(stderr);
    shown = line.size();
  };
  std::signal(SIGINT, OnSignal);
  std::signal(SIGTERM, OnSignal);
  const cli::RenderReport report = cli::RenderScene(*s.module, scene, request, progress, &g_stop);
  if (terminal && shown > 0) std::fprintf(stderr, "\r%*s\r", static_cast<int>(shown), "");

  for (std::size_t i = 0; i < report.violations.size() && i < 20; ++i) {
    std::cerr << "warning: " << report.violations[i] << "\n";
  }
  if (report.violations.size() > 20) {
    std::cerr << "warning: ... and " << report.violations.size() - 20 << " more\n";
  }
  if (report.interrupted) {
    std::cerr << "vantrel: interrupted after " << report.frames_written << " of "
              << request.frames.size() << " frames; every file written is complete\n";
    return kExitInterrupted;
  }
  if (!a.quiet) {
    const int n = static_cast<int>(request.resolution);
    std::printf("%d frames of %s at %s resolution (%dx%d) in %.1f s into %s%s%s\n",
                report.frames_written, scene_path.filename().c_str(),
                cli::ResolutionName(request.resolution), (scene.comp.width + n - 1) / n,
                (scene.comp.height + n - 1) / n, report.seconds, request.out_dir.c_str(),
                request.video.empty() ? "" : ", video ", request.video.c_str());
  }
  return a.strict && !report.violations.empty() ? kExitFailed : kExitOk;
}

int Pieces(const Arguments& a) {
  RequirePositional(a, 1, "one scene file: vantrel pieces SCENE [--frame N]");
  const fs::path scene_path = a.positional[0];
  const host::Resolution resolution = cli::ParseResolution(a.resolution);
  const LoadedScene s = LoadScene(a);
  const host::Scene& scene = s.file.scene;
  int frame = scene.comp.duration_frames / 2;
  if (!a.frames.empty()) {
    const std::vector<int> frames = cli::ParseFrameList(a.frames, scene.comp.duration_frames);
    if (frames.size() != 1) throw cli::UsageError("--frame takes one frame number");
    frame = frames.front();
  }
  const fs::path out = a.out.empty() ? fs::path("out") / (scene_path.stem().string() + "-pieces-" +
                                                          std::to_string(frame) + ".png")
                                     : fs::path(a.out);
  const cli::PiecesView view = cli::ObservePieces(*s.module, scene, frame, resolution);
  std::cout << cli::FormatPieces(view, frame);
  if (!out.parent_path().empty()) fs::create_directories(out.parent_path());
  cli::WritePng(out, cli::DrawPieceBoxes(view));
  std::cout << "boxes drawn over the layer: " << out.string() << "\n";
  return view.result == PF_Err_NONE ? kExitOk : kExitFailed;
}

int Preview(const std::vector<std::string>& args) {
  cli::PreviewOptions options;
  std::vector<std::string> rest;
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string& arg = args[i];
    auto value = [&]() -> std::string {
      if (i + 1 >= args.size()) throw cli::UsageError(arg + " needs a value");
      return args[++i];
    };
    if (arg == "--port") {
      const std::string v = value();
      char* end = nullptr;
      const long port = std::strtol(v.c_str(), &end, 10);
      if (v.empty() || *end != '\0' || port < 0 || port > 65535) {
        throw cli::UsageError("--port " + v + ": expected a port number, 0 to 65535");
      }
      options.port = static_cast<int>(port);
    } else if (arg == "--host") {
      options.host = value();
    } else if (arg == "--open") {
      options.open = true;
    } else if (arg == "--module" || arg == "--resolution" || arg == "--out") {
      rest.push_back(arg);
      rest.push_back(value());
    } else if (arg.size() > 1 && arg[0] == '-') {
      throw cli::UsageError("unknown option " + arg + " for preview");
    } else {
      rest.push_back(arg);
    }
  }
  const Arguments a = ParseArguments(rest, true);
  RequirePositional(a, 1, "one scene file: vantrel preview SCENE [options]");
  options.scene = a.positional[0];
  options.module = ModulePath(a.module);
  options.resolution = cli::ParseResolution(a.resolution);
  options.out_dir = a.out;
  return cli::RunPreview(options);
}

int Run(const std::vector<std::string>& args) {
  if (args.empty() || args[0] == "help" || args[0] == "--help" || args[0] == "-h") {
    std::cout << kUsage;
    return args.empty() ? kExitUsage : kExitOk;
  }
  const std::string& command = args[0];
  const std::vector<std::string> rest(args.begin() + 1, args.end());
  if (command == "render") return Render(ParseArguments(rest, true));
  if (command == "check") return Check(ParseArguments(rest, false));
  if (command == "controls") return Controls(ParseArguments(rest, false));
  if (command == "pieces") return Pieces(ParseArguments(rest, true));
  if (command == "inspect") return Inspect(ParseArguments(rest, false));
  if (command == "preview") return Preview(rest);
  throw cli::UsageError("unknown command \"" + command + "\"; try vantrel help");
}

}  // namespace

int main(int argc, char** argv) {
  try {
    return Run(std::vector<std::string>(argv + 1, argv + argc));
  } catch (const cli::UsageError& e) {
    std::cerr << "vantrel: " << e.what() << "\n";
    return kExitUsage;
  } catch (const cli::SceneError& e) {
    std::cerr << e.what() << "\n";
    return kExitUsage;
  } catch (const host::HostError& e) {
    std::cerr << "vantrel: " << e.what() << "\n";
    return kExitFailed;
  } catch (const std::exception& e) {
    std::cerr << "vantrel: " << e.what() << "\n";
    return kExitFailed;
  }
}
