// Whole renders through the built vantrel command: frames compared with
// golden PNGs, the contact sheet, videos, and refusals that write nothing.
//
// Golden frames live in tests/golden/<scene>/frame_NNNN.png. Set
// VANTREL_UPDATE_GOLDEN=1 to rewrite them from the current render (and look
// at them before committing). A missing golden fails.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "test_support.h"
#include "vantrel/cli/contact_sheet.h"
#include "vantrel/cli/raster.h"
#include "vantrel/cli/render_job.h"
#include "vantrel/cli/scene_file.h"
#include "vantrel/host/module_loader.h"

namespace vantrel::cli {
namespace {

namespace fs = std::filesystem;

constexpr int kTolerance = 2;  // per channel, out of 255

bool UpdatingGoldens() {
  const char* v = std::getenv("VANTREL_UPDATE_GOLDEN");
  return v != nullptr && std::string(v) == "1";
}

// Compares `actual` with the golden file. On a difference writes
// <failures>/<stem>.actual.png and <stem>.diff.png (differing pixels in red
// over a dimmed copy) and returns a failure.
::testing::AssertionResult MatchesGolden(const fs::path& actual_file, const fs::path& golden,
                                         const fs::path& failures) {
  const Raster actual = ReadPng(actual_file);
  if (UpdatingGoldens()) {
    fs::create_directories(golden.parent_path());
    WritePng(golden, actual);
    return ::testing::AssertionSuccess() << "rewrote " << golden;
  }
  if (!fs::exists(golden)) {
    return ::testing::AssertionFailure()
           << "no golden frame " << golden << "; render it with VANTREL_UPDATE_GOLDEN=1";
  }
  const Raster expected = ReadPng(golden);
  if (expected.width != actual.width || expected.height != actual.height) {
    return ::testing::AssertionFailure()
           << actual_file << " is " << actual.width << "x" << actual.height << ", golden "
           << expected.width << "x" << expected.height;
  }
  int largest = 0;
  long differing = 0;
  Raster diff(actual.width, actual.height);
  for (int y = 0; y < actual.height; ++y) {
    for (int x = 0; x < actual.width; ++x) {
      const std::uint8_t* a = actual.At(x, y);
      const std::uint8_t* e = expected.At(x, y);
      int worst = 0;
      for (int c = 0; c < 4; ++c) worst = std::max(worst, std::abs(a[c] - e[c]));
      largest = std::max(largest, worst);
      std::uint8_t* d = diff.At(x, y);
      if (worst > kTolerance) {
        ++differing;
        d[0] = 255;
        d[1] = d[2] = 0;
      } else {
        d[0] = d[1] = d[2] = static_cast<std::uint8_t>(e[0] / 4 + e[1] / 4 + e[2] / 4);
      }
      d[3] = 255;
    }
  }
  if (differing == 0) return ::testing::AssertionSuccess();
  fs::create_directories(failures);
  const std::string stem = actual_file.stem().string();
  WritePng(failures / (stem + ".actual.png"), actual);
  WritePng(failures / (stem + ".diff.png"), diff);
  return ::testing::AssertionFailure()
         << actual_file.filename() << ": " << differing << " pixels differ from " << golden
         << " by more than " << kTolerance << " (largest error " << largest << "); see "
         << failures / (stem + ".actual.png") << " and " << failures / (stem + ".diff.png");
}

bool NoPartialFiles(const fs::path& dir) {
  for (const auto& entry : fs::directory_iterator(dir)) {
    if (entry.path().extension() == ".partial") return false;
  }
  return true;
}

fs::path Example(const char* name) {
  return fs::path(VANTREL_SOURCE_DIR) / "examples" / (std::string(name) + ".json");
}

TEST(GoldenFrames, TitleSlideAtQuarterResolution) {
  const fs::path dir = testing::FreshWorkDir("golden-01-title-slide");
  const fs::path out = dir / "out";
  const testing::CommandResult r =
      testing::RunVantrel("render '" + Example("01-title-slide").string() +
                          "' --frames 4,8,14 --resolution quarter "
                          "--out '" +
                          out.string() + "'");
  ASSERT_EQ(r.exit_code, 0) << r.output;
  // No progress line when not on a terminal: one summary line only.
  EXPECT_EQ(std::count(r.output.begin(), r.output.end(), '\n'), 1) << r.output;
  EXPECT_NE(r.output.find("3 frames of 01-title-slide.json at quarter resolution (320x180)"),
            std::string::npos)
      << r.output;
  const fs::path golden = fs::path(VANTREL_SOURCE_DIR) / "tests/golden/01-title-slide";
  for (const char* frame : {"frame_0004.png", "frame_0008.png", "frame_0014.png"}) {
    EXPECT_TRUE(MatchesGolden(out / frame, golden / frame, dir / "failures"));
  }
  const Raster sheet = ReadPng(out / "contact.png");
  const ContactSheetLayout l = LayOutContactSheet(3, 320, 180);
  EXPECT_EQ(sheet.width, l.width);
  EXPECT_EQ(sheet.height, l.height);
  EXPECT_TRUE(MatchesGolden(out / "contact.png", golden / "contact.png", dir / "failures"));
  EXPECT_TRUE(NoPartialFiles(out));
}

TEST(RenderCommand, RendersARangeIntoNumberedFrames) {
  const fs::path out = testing::FreshWorkDir("range") / "out";
  const testing::CommandResult r = testing::RunVantrel(
      "render '" + Example("04-range-guide").string() +
      "' --frames 10-13 --resolution quarter --jobs 3 --quiet --out '" + out.string() + "'");
  ASSERT_EQ(r.exit_code, 0) << r.output;
  EXPECT_EQ(r.output, "");
  std::vector<std::string> names;
  for (const auto& e : fs::directory_iterator(out)) names.push_back(e.path().filename().string());
  std::sort(names.begin(), names.end());
  EXPECT_EQ(names, (std::vector<std::string>{"contact.png", "frame_0010.png", "frame_0011.png",
                                             "frame_0012.png", "frame_0013.png"}));
  // Frames rendered in parallel are the frames rendered alone.
  const fs::path alone = testing::FreshWorkDir("range-alone") / "out";
  ASSERT_EQ(testing::RunVantrel("render '" + Example("04-range-guide").string() +
                                "' --frames 12 --resolution quarter --jobs 1 --quiet "
                                "--no-contact-sheet --out '" +
                                alone.string() + "'")
                .exit_code,
            0);
  EXPECT_EQ(ReadPng(alone / "frame_0012.png").rgba, ReadPng(out / "frame_0012.png").rgba);
  EXPECT_FALSE(fs::exists(alone / "contact.png"));
}

TEST(RenderCommand, WritesAGifThroughFfmpeg) {
  const fs::path dir = testing::FreshWorkDir("gif");
  const testing::CommandResult r = testing::RunVantrel(
      "render '" + Example("06-motion-blur").string() +
      "' --frames 2-5 --resolution quarter "
      "--quiet --out '" +
      (dir / "out").string() + "' --video '" + (dir / "clip.gif").string() + "'");
  if (r.exit_code == 1 && r.output.find("ffmpeg program") != std::string::npos) {
    GTEST_SKIP() << "ffmpeg is not installed";
  }
  ASSERT_EQ(r.exit_code, 0) << r.output;
  std::ifstream gif(dir / "clip.gif", std::ios::binary);
  char magic[6] = {};
  gif.read(magic, 6);
  EXPECT_EQ(std::string(magic, 6), "GIF89a");
  EXPECT_TRUE(NoPartialFiles(dir));
}

TEST(RenderCommand, AVideoWithoutFfmpegIsRefusedBeforeAnythingIsWritten) {
  const fs::path dir = testing::FreshWorkDir("no-ffmpeg");
  const testing::CommandResult r = testing::RunVantrel(
      "render '" + Example("06-motion-blur").string() + "' --out '" + (dir / "out").string() +
          "' --video '" + (dir / "clip.mp4").string() + "'",
      "PATH=/nonexistent");
  EXPECT_EQ(r.exit_code, 1);
  EXPECT_EQ(r.output,
            "vantrel: --video needs the ffmpeg program, which is not on PATH; install it (for "
            "example \"apt-get install ffmpeg\") or leave out --video\n");
  EXPECT_FALSE(fs::exists(dir / "out"));
}

TEST(RenderCommand, RefusesBadCommandLinesWithUsageErrors) {
  const fs::path dir = testing::FreshWorkDir("usage");
  const std::string scene = "'" + Example("01-title-slide").string() + "'";
  const std::string out = " --out '" + (dir / "out").string() + "'";
  struct Case {
    std::string arguments;
    std::string message;
  };
  const Case cases[] = {
      {"render " + scene + " --fast" + out, "vantrel: unknown option --fast\n"},
      {"render " + scene + " --frames 0-99" + out,
       "vantrel: --frames 0-99: frame 99 is outside the composition (frames 0 to 31)\n"},
      {"render " + scene + " --resolution double" + out,
       "vantrel: --resolution double: expected one of full, half, third, quarter\n"},
      {"render " + scene + " --video clip.mov" + out,
       "vantrel: --video clip.mov: expected a file name ending in .mp4 or .gif\n"},
      {"render " + scene + " --frames 1,5 --video clip.mp4" + out,
       "vantrel: --video needs a contiguous range of frames, such as 0-59\n"},
      {"render" + out, "vantrel: expected one scene file: vantrel render SCENE [options]\n"},
      {"draw " + scene, "vantrel: unknown command \"draw\"; try vantrel help\n"},
      {"render " + scene + out + " --module '" VANTREL_MODULE_PATH "' --jobs",
       "vantrel: --jobs needs a value\n"},
      {"render " + scene + " --jobs many" + out,
       "vantrel: --jobs: expected a number of threads from 1 to 4096; found \"many\"\n"},
      {"pieces " + scene + " --jobs 2" + out, "vantrel: unknown option --jobs\n"},
      {"check " + scene + " " + scene, "vantrel: expected one scene file: vantrel check SCENE\n"},
      {"preview " + scene + " --port 99999",
       "vantrel: --port: expected a port number from 0 to 65535; found \"99999\"\n"},
  };
  for (const Case& c : cases) {
    const testing::CommandResult r = testing::RunVantrel(c.arguments);
    EXPECT_EQ(r.exit_code, 2) << c.arguments;
    EXPECT_EQ(r.output, c.message) << c.arguments;
  }
  EXPECT_FALSE(fs::exists(dir / "out"));
}

TEST(RenderCommand, EveryCommandHasItsOwnHelp) {
  for (const char* command : {"render", "check", "controls", "pieces", "inspect", "fonts"}) {
    const testing::CommandResult r = testing::RunVantrel(std::string(command) + " --help");
    EXPECT_EQ(r.exit_code, 0) << command;
    EXPECT_NE(r.output.find(std::string("Usage: vantrel ") + command), std::string::npos)
        << r.output;
  }
}

TEST(RenderCommand, AModuleThatCannotBeLoadedIsAnError) {
  const fs::path dir = testing::FreshWorkDir("bad-module");
  testing::WriteText(dir / "fake.so", "not a module");
  const testing::CommandResult r = testing::RunVantrel(
      "render '" + Example("01-title-slide").string() + "' --out '" + (dir / "out").string() +
      "' --module '" + (dir / "fake.so").string() + "'");
  EXPECT_EQ(r.exit_code, 1) << r.output;
  EXPECT_EQ(r.output.rfind("vantrel: ", 0), 0u) << r.output;
  EXPECT_FALSE(fs::exists(dir / "out"));
}

TEST(RenderCommand, AFontFileThatIsNoFontIsAnErrorAndWritesNothing) {
  const fs::path dir = testing::FreshWorkDir("bad-font");
  testing::WriteText(dir / "broken.ttf", "not a font");
  testing::WriteText(dir / "scene.json", R"({"layer": {"font": "broken.ttf"}})");
  const testing::CommandResult r = testing::RunVantrel("render '" + (dir / "scene.json").string() +
                                                       "' --out '" + (dir / "out").string() + "'");
  EXPECT_EQ(r.exit_code, 1) << r.output;
  EXPECT_NE(r.output.find("broken.ttf"), std::string::npos) << r.output;
  EXPECT_FALSE(fs::exists(dir / "out"));
}

TEST(RenderCommand, CharactersNoFontHasAreNamedOnceAndTheRenderGoesOn) {
  const fs::path dir = testing::FreshWorkDir("missing-characters");
  // Private use U+E000 twice and U+F0000: no installed font has them.
  testing::WriteText(dir / "scene.json",
                     "{\"composition\": {\"width\": 64, \"height\": 32, "
                     "\"duration\": 1}, \"layer\": {\"text\": "
                     "\"A\xEE\x80\x80\xEE\x80\x80\xF3\xB0\x80\x80\"}}");
  const testing::CommandResult r =
      testing::RunVantrel("render '" + (dir / "scene.json").string() + "' --quiet --out '" +
                          (dir / "out").string() + "'");
  EXPECT_EQ(r.exit_code, 0) << r.output;
  EXPECT_EQ(r.output,
            "warning: no installed font has U+E000, U+F0000 (2 characters of the text); they draw "
            "nothing\n");
  EXPECT_TRUE(fs::exists(dir / "out" / "frame_0000.png"));
}

TEST(CheckCommand, SummarisesAGoodScene) {
  const testing::CommandResult r =
      testing::RunVantrel("check '" + Example("03-random-seed").string() + "'");
  EXPECT_EQ(r.exit_code, 0) << r.output;
  EXPECT_NE(r.output.find("1280x720, 40 frames at 30/1 fps, 4 controls set"), std::string::npos)
      << r.output;
}

TEST(ControlsCommand, ListsEveryControlWithItsRange) {
  const testing::CommandResult r = testing::RunVantrel("controls");
  ASSERT_EQ(r.exit_code, 0) << r.output;
  for (const char* expected :
       {"Delay (frames)", "None|Reverse|Random|Increment", "-100 to 100", "Evaluate Tangents"}) {
    EXPECT_NE(r.output.find(expected), std::string::npos) << expected;
  }
}

// A render told to stop hands out no further frame, reports the interruption,
// and leaves only complete files.
TEST(RenderScene, StopsBetweenFramesAndLeavesOnlyCompleteFiles) {
  const auto module = host::LoadedModule::Load(VANTREL_MODULE_PATH);
  const SceneFile scene = ReadSceneFile(Example("07-separation-guide"), testing::ModuleControls());
  RenderRequest request;
  request.frames = ParseFrameList("", scene.scene.comp.duration_frames);
  request.resolution = host::Resolution::kQuarter;
  request.out_dir = testing::FreshWorkDir("stop") / "out";
  request.jobs = 1;
  std::atomic<bool> stop{false};
  const RenderReport report = RenderScene(
      *module, scene.scene, request, [&](const RenderProgress&) { stop = true; }, &stop);
  EXPECT_TRUE(report.interrupted);
  EXPECT_GE(report.frames_written, 1);
  EXPECT_LT(report.frames_written, static_cast<int>(request.frames.size()));
  EXPECT_TRUE(report.contact_sheet.empty());
  int files = 0;
  for (const auto& e : fs::directory_iterator(request.out_dir)) {
    EXPECT_EQ(e.path().extension(), ".png") << e.path();
    EXPECT_EQ(ReadPng(e.path()).width, 320);
    ++files;
  }
  EXPECT_EQ(files, report.frames_written);
}

}  // namespace
}  // namespace vantrel::cli
