// The vantrel command: renders scene files through an effect module loaded
// the way After Effects loads it, and describes modules and their controls.
#include <unistd.h>

#include <CLI/CLI.hpp>
#include <atomic>
#include <cctype>
#include <charconv>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <iostream>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "vantrel/cli/controls.h"
#include "vantrel/cli/pieces.h"
#include "vantrel/cli/preview_server.h"
#include "vantrel/cli/render_job.h"
#include "vantrel/cli/scene_file.h"
#include "vantrel/cli/video.h"
#include "vantrel/host/fonts.h"
#include "vantrel/host/inspect.h"
#include "vantrel/host/module_loader.h"
#include "vantrel/host/scene_layers.h"
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
  fonts [PATTERN]  list the installed font families and their styles, all or
                   those matching a family name or fontconfig pattern
  help             show this text (vantrel COMMAND --help: one command's options)

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

// Lays the scene's text out as the render will and says which characters
// no installed font has: they draw nothing.
void WarnAboutText(const host::Scene& scene) {
  const host::TextLayer layer(scene.layer, scene.comp);
  const std::vector<uint32_t>& missing = layer.layout().MissingCharacters();
  if (missing.empty()) return;
  std::cerr << "warning: no installed font has " << host::FormatCodePoints(missing) << " ("
            << missing.size() << (missing.size() == 1 ? " character" : " characters")
            << " of the text); they draw nothing\n";
}

int Check(const Arguments& a) {
  RequirePositional(a, 1, "one scene file: vantrel check SCENE");
  const LoadedScene s = LoadScene(a);
  WarnAboutText(s.file.scene);
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
  WarnAboutText(scene);
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

int Fonts(const Arguments& a) {
  if (a.positional.size() > 1)
    throw cli::UsageError("expected at most one pattern: vantrel fonts [PATTERN]");
  const std::string pattern = a.positional.empty() ? "" : a.positional[0];
  // One line per family: its name and its styles.
  std::map<std::string, std::set<std::string>> families;
  std::vector<host::FontFace> faces = host::ListFonts(pattern);
  if (faces.empty() && !pattern.empty()) {
    // Not a family or pattern fontconfig knows: a part of a family's name,
    // as "dejavu" for the DejaVu families, in any case.
    const auto lower = [](std::string s) {
      for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
      return s;
    };
    for (host::FontFace& f : host::ListFonts()) {
      if (lower(f.family).find(lower(pattern)) != std::string::npos) faces.push_back(f);
    }
  }
  for (const host::FontFace& f : faces) families[f.family].insert(f.style);
  if (families.empty()) {
    std::cerr << "vantrel: no installed font matches \"" << pattern << "\"\n";
    return kExitFailed;
  }
  for (const auto& [family, styles] : families) {
    std::string line = family + ":";
    for (const std::string& style : styles) line += (line.back() == ':' ? " " : ", ") + style;
    std::cout << line << "\n";
  }
  return kExitOk;
}

// "abc" for an option that takes a whole number from min to max: the
// message names what was expected and what was found.
CLI::Validator WholeNumber(int min, int max, const std::string& what) {
  return CLI::Validator(
      [=](std::string& v) -> std::string {
        int n = 0;
        const auto [end, ec] = std::from_chars(v.data(), v.data() + v.size(), n);
        if (ec == std::errc() && end == v.data() + v.size() && n >= min && n <= max) return "";
        return "expected " + what + " from " + std::to_string(min) + " to " + std::to_string(max) +
               "; found \"" + v + "\"";
      },
      "");
}

// CLI11's wording of a refused command line, turned into one line that says
// what to do: "--jobs: 1 required INT missing" -> "--jobs needs a value".
std::string DescribeParseError(const CLI::ParseError& e) {
  const std::string what = e.what();
  if (dynamic_cast<const CLI::ArgumentMismatch*>(&e) != nullptr) {
    const std::size_t colon = what.find(": ");
    if (colon != std::string::npos && what.find("missing", colon) != std::string::npos) {
      return what.substr(0, colon) + " needs a value";
    }
  }
  return what;
}

int Run(const std::vector<std::string>& args) {
  if (args.empty() || args[0] == "help" || args[0] == "--help" || args[0] == "-h") {
    std::cout << kUsage;
    return args.empty() ? kExitUsage : kExitOk;
  }
  CLI::App app("renders scene files through the effect module", "vantrel");
  app.require_subcommand(1, 1);
  Arguments a;
  cli::PreviewOptions preview;
  const auto module_command = [&](const char* name, const char* description) {
    CLI::App* sub = app.add_subcommand(name, description);
    // A command that takes --module. Unknown options and extra arguments are
    // told apart after parsing.
    sub->allow_extras();
    sub->add_option("--module", a.module,
                    "the module to load (default: $VANTREL_MODULE, else "
                    "the module this build made)")
        ->type_name("PATH");
    return sub;
  };
  CLI::App* render = module_command("render",
                                    "render frames of a scene file into PNG files, a "
                                    "contact sheet and optionally a video");
  render->add_option("SCENE", a.positional, "the scene file")->type_name("");
  render
      ->add_option("--frames,--frame", a.frames,
                   "frames to render: 0-59, 12, 0,10,20 (default: all)")
      ->type_name("LIST");
  render->add_option("--resolution", a.resolution, "full, half, third or quarter (default: full)")
      ->type_name("RES");
  render->add_option("--out", a.out, "output folder (default: out/<scene name>)")->type_name("DIR");
  render->add_option("--video", a.video, "also write FILE.mp4 or FILE.gif with ffmpeg")
      ->type_name("FILE");
  render->add_option("--jobs", a.jobs, "frames rendered at once (default: one per core)")
      ->check(WholeNumber(1, 4096, "a number of threads"))
      ->type_name("N");
  bool no_contact_sheet = false;
  render->add_flag("--no-contact-sheet", no_contact_sheet, "do not write contact.png");
  render->add_flag("--strict", a.strict,
                   "exit with code 1 when the host found a protocol violation");
  render->add_flag("--quiet", a.quiet, "no summary line");

  CLI::App* check =
      module_command("check", "read a scene file and report everything wrong with it");
  check->add_option("SCENE", a.positional, "the scene file")->type_name("");

  CLI::App* controls =
      module_command("controls", "list the effect's controls: ranges, defaults, choices");

  CLI::App* pieces =
      module_command("pieces", "show how the effect cut one frame's text into pieces");
  pieces->add_option("SCENE", a.positional, "the scene file")->type_name("");
  pieces
      ->add_option("--frame,--frames", a.frames, "the frame to look at (default: the middle frame)")
      ->type_name("N");
  pieces->add_option("--resolution", a.resolution, "full, half, third or quarter (default: full)")
      ->type_name("RES");
  pieces
      ->add_option("--out", a.out,
                   "where to write the boxes image (default: "
                   "out/<scene name>-pieces-<frame>.png)")
      ->type_name("FILE.png");

  // inspect names its module as an argument; --module is taken and unused,
  // as it always was.
  CLI::App* inspect = module_command("inspect",
                                     "describe a module file: its property resource, "
                                     "its answers to the set-up commands and its controls");
  inspect->add_option("MODULE", a.positional, "the module file (.so or .aex)")->type_name("");

  CLI::App* fonts =
      app.add_subcommand("fonts", "list the installed font families and their styles");
  fonts->allow_extras();
  fonts->add_option("PATTERN", a.positional,
                    "a family name or fontconfig pattern, e.g. \"Noto Sans\" or \":lang=he\"");

  CLI::App* serve = module_command(
      "preview", "show the scene in the browser: scrub, play, change controls, save, export");
  serve->add_option("SCENE", a.positional, "the scene file")->type_name("");
  serve
      ->add_option("--port", preview.port,
                   "the port to serve on (default: 8000; 0 picks a free one)")
      ->check(WholeNumber(0, 65535, "a port number"))
      ->type_name("N");
  serve
      ->add_option("--host", preview.host,
                   "serve on another address than 127.0.0.1 (with a warning)")
      ->type_name("ADDRESS");
  std::string preview_resolution = "full";
  serve
      ->add_option("--resolution", preview_resolution,
                   "the page's starting resolution: full, half, third or quarter "
                   "(default: full)")
      ->type_name("RES");
  serve->add_option("--out", a.out, "where Export writes (default: out/<scene name>)")
      ->type_name("DIR");
  serve->add_flag("--open", preview.open, "open the page in a browser");

  const std::string& command = args[0];
  const std::vector<CLI::App*> commands =
      app.get_subcommands([&](CLI::App* sub) { return sub->get_name() == command; });
  if (commands.empty()) {
    throw cli::UsageError("unknown command \"" + command + "\"; try vantrel help");
  }
  std::vector<std::string> reversed(args.rbegin(), args.rend());  // CLI11 takes them last first
  try {
    app.parse(reversed);
  } catch (const CLI::CallForHelp&) {
    std::cout << app.help();
    return kExitOk;
  } catch (const CLI::ParseError& e) {
    throw cli::UsageError(DescribeParseError(e));
  }
  CLI::App* used = app.get_subcommands().front();
  for (const std::string& extra : used->remaining()) {
    if (extra.size() > 1 && extra[0] == '-') throw cli::UsageError("unknown option " + extra);
    a.positional.push_back(extra);
  }
  a.contact_sheet = !no_contact_sheet;
  if (used == render) return Render(a);
  if (used == check) return Check(a);
  if (used == controls) return Controls(a);
  if (used == pieces) return Pieces(a);
  if (used == inspect) return Inspect(a);
  if (used == fonts) return Fonts(a);
  RequirePositional(a, 1, "one scene file: vantrel preview SCENE [options]");
  preview.scene = a.positional[0];
  preview.module = ModulePath(a.module);
  preview.resolution = cli::ParseResolution(preview_resolution);
  preview.out_dir = a.out;
  return cli::RunPreview(preview);
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
