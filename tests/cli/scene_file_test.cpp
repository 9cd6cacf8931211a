// Scene files: what a good file turns into, and for each kind of bad input
// the message (file, line, column, what was expected) and that a render
// refusing it writes nothing.
#include "vantrel/cli/scene_file.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>

#include "test_support.h"
#include "vantrel/cli/json_locations.h"

namespace vantrel::cli {
namespace {

namespace fs = std::filesystem;
using testing::ModuleControls;

SceneFile Parse(const std::string& text) {
  return ParseSceneText(text, "scene.json", ModuleControls());
}

std::string RefusalOf(const std::string& text) {
  try {
    Parse(text);
  } catch (const SceneError& e) {
    return e.what();
  }
  return "(accepted)";
}

TEST(SceneFile, ReadsEveryPartOfAScene) {
  const SceneFile f = Parse(R"json({
  "description": "a test",
  "composition": {"width": 640, "height": 360, "fps": 29.97, "duration": 48,
                  "background": "#80102030"},
  "layer": {
    "text": "Two\nlines", "font": "DejaVuSans-Bold.ttf", "size": 64, "fill": "#ff8000",
    "tracking": 50, "leading": 70, "align": "right", "origin": [10, 80],
    "position": {"keys": [{"frame": 0, "value": [0, 0], "interpolation": "ease"},
                          {"frame": 12, "value": [320, 180], "interpolation": "hold"}]},
    "scale": 50
  },
  "effect": {
    "Delay (frames)": 2.5,
    "Order Modifier": "Random",
    "Enable Motion Blur": true,
    "Random Seed": {"keys": [{"frame": 0, "value": 7}, {"frame": 10, "value": 9}]}
  }
})json");
  const host::Scene& s = f.scene;
  EXPECT_EQ(f.description, "a test");
  EXPECT_EQ(s.comp.width, 640);
  EXPECT_EQ(s.comp.duration_frames, 48);
  EXPECT_EQ(s.comp.fps_num, 30000);
  EXPECT_EQ(s.comp.fps_den, 1001);
  EXPECT_EQ(s.comp.background.alpha, 0x80);
  EXPECT_EQ(s.comp.background.red, 0x10);
  EXPECT_EQ(s.comp.background.blue, 0x30);
  EXPECT_EQ(s.layer.text, "Two\nlines");
  EXPECT_EQ(s.layer.font_file.filename(), "DejaVuSans-Bold.ttf");
  EXPECT_TRUE(fs::exists(s.layer.font_file));
  EXPECT_EQ(s.layer.fill.alpha, 255);
  EXPECT_EQ(s.layer.fill.green, 0x80);
  EXPECT_EQ(s.layer.align, host::TextAlign::kRight);
  ASSERT_EQ(s.layer.position.keys.size(), 2u);
  EXPECT_EQ(s.layer.position.keys[0].interpolation, host::Interpolation::kEase);
  EXPECT_EQ(s.layer.position.keys[1].interpolation, host::Interpolation::kHold);
  EXPECT_EQ(s.layer.position.keys[1].value.x, 320);
  EXPECT_EQ(s.layer.scale.keys[0].value.y, 50);  // one number scales both axes
  // Anchor point left out: the composition's centre.
  EXPECT_EQ(s.layer.anchor_point.keys[0].value.x, 320);
  EXPECT_EQ(s.layer.anchor_point.keys[0].value.y, 180);

  // Controls by parameter index; pop-ups as 1-based choices, checkboxes 0/1.
  ASSERT_EQ(s.effect.controls.size(), 4u);
  EXPECT_EQ(s.effect.controls.at(1).keys[0].value, 2.5);
  EXPECT_EQ(s.effect.controls.at(3).keys[0].value, 3);
  EXPECT_EQ(s.effect.controls.at(14).keys[0].value, 1);
  const auto& seed = s.effect.controls.at(21);
  ASSERT_EQ(seed.keys.size(), 2u);
  EXPECT_EQ(seed.keys[1].frame, 10);
  EXPECT_EQ(seed.keys[1].interpolation, host::Interpolation::kLinear);
}

TEST(SceneFile, KeyframedChoicesHoldBetweenKeys) {
  const SceneFile f = Parse(R"json({"effect": {"Separation Mode": {"keys": [
      {"frame": 0, "value": "Character"}, {"frame": 5, "value": "Word"}]}}})json");
  const auto& mode = f.scene.effect.controls.at(2);
  EXPECT_EQ(mode.keys[0].interpolation, host::Interpolation::kHold);
  EXPECT_EQ(mode.keys[1].value, 2);
  EXPECT_NE(RefusalOf(R"json({"effect": {"Separation Mode": {"keys": [
      {"frame": 0, "value": "Word", "interpolation": "ease"}]}}})json"),
            "(accepted)");
}

TEST(SceneFile, AnEmptySceneUsesTheDefaults) {
  const SceneFile f = Parse("{}");
  EXPECT_TRUE(f.scene.effect.controls.empty());
  EXPECT_TRUE(f.scene.layer.font_file.empty());
  EXPECT_EQ(f.scene.layer.position.keys[0].value.x, f.scene.comp.width / 2.0);
}

TEST(SceneFile, NamesTheLineAndColumnOfTheOffendingValue) {
  EXPECT_EQ(RefusalOf("{\n  \"layer\": {\n    \"size\": \"big\"\n  }\n}"),
            "scene.json:3:13: \"size\" must be a number; found \"big\"");
  EXPECT_EQ(RefusalOf("{\"composition\": {\"widht\": 3}}"),
            "scene.json:1:18: unknown key \"widht\" in \"composition\"; expected one of: "
            "\"width\", \"height\", \"fps\", \"duration\", \"background\", \"pixel_aspect\"");
  EXPECT_EQ(RefusalOf("{\"layer\": {\"fill\": \"white\"}}"),
            "scene.json:1:20: \"fill\" must be a colour \"#rrggbb\" or \"#aarrggbb\"; found "
            "\"white\"");
  EXPECT_EQ(RefusalOf("{\"effect\": {\"Enable Range Guide\": 1}}"),
            "scene.json:1:35: \"Enable Range Guide\" must be true or false; found 1");
  // A byte order mark is not a column.
  EXPECT_EQ(RefusalOf("\xEF\xBB\xBF{\"layer\": {\"size\": \"big\"}}"),
            "scene.json:1:20: \"size\" must be a number; found \"big\"");
  // Columns count characters, not bytes.
  EXPECT_EQ(RefusalOf("{\"layer\": {\"text\": \"é\", \"size\": -1}}"),
            "scene.json:1:33: \"size\" must be from 1 to 2000; found -1");
}

// Every mistake is reported, located and in the order of the file, up to 20
// and then how many more.
TEST(SceneFile, ReportsEveryMistakeInFileOrder) {
  EXPECT_EQ(RefusalOf("{\"effect\": {\"Dely\": 1, \"Opacity\": 200},\n"
                      " \"layer\": {\"size\": \"big\", \"colour\": 1, \"align\": \"middle\"},\n"
                      " \"composition\": {\"width\": 0}}"),
            "scene.json:1:13: unknown control \"Dely\"; expected one of: \"Delay (frames)\", "
            "\"Separation Mode\", \"Order Modifier\", \"Range Start\", \"Range End\", \"Enable "
            "Range Guide\", \"Tracking Amount\", \"Tracking Alignment\", \"Enable Motion Blur\", "
            "\"Motion Blur Amount\", \"Separation Threshold\", \"Enable Separation Guide\", "
            "\"Opacity\", \"Random Seed\", \"Evaluate Tangents\"\n"
            "scene.json:1:35: \"Opacity\" must be from 0 to 100; found 200\n"
            "scene.json:2:20: \"size\" must be a number; found \"big\"\n"
            "scene.json:2:27: unknown key \"colour\" in \"layer\"; expected one of: \"text\", "
            "\"font\", \"style\", \"size\", \"fill\", \"tracking\", \"leading\", \"align\", "
            "\"origin\", \"position\", \"anchor_point\", \"scale\"\n"
            "scene.json:2:49: unknown \"align\" \"middle\"; expected one of: \"left\", \"center\", "
            "\"right\"\n"
            "scene.json:3:27: \"width\" must be from 1 to 16384; found 0");
  std::string many = "{\"layer\": {";
  for (int i = 0; i < 25; ++i) many += (i ? ", \"k" : "\"k") + std::to_string(i) + "\": 0";
  const std::string refusal = RefusalOf(many + "}}");
  EXPECT_EQ(std::count(refusal.begin(), refusal.end(), '\n'), 20) << refusal;
  EXPECT_EQ(refusal.substr(refusal.rfind('\n') + 1), "scene.json: 5 more errors not shown");
}

// A font by family and style, by fontconfig pattern or by file: the file it
// resolves to, or the start of the refusal.
TEST(SceneFile, FontsResolveByFamilyStyleOrFile) {
  struct Case {
    const char* layer;
    const char* file;     // expected file name; empty when refused
    const char* refusal;  // expected start of the message
  };
  const Case cases[] = {
      {R"("font": "DejaVu Sans", "style": "Bold")", "DejaVuSans-Bold.ttf", ""},
      {R"("font": "dejavu serif", "style": "bold italic")", "DejaVuSerif-BoldItalic.ttf", ""},
      {R"("font": "DejaVu Sans Mono:bold")", "DejaVuSansMono-Bold.ttf", ""},
      {R"("font": "WenQuanYi Micro Hei")", "wqy-microhei.ttc", ""},
      {R"("font": "DejaVuSerif.ttf")", "DejaVuSerif.ttf", ""},
      {R"("font": "/usr/share/fonts/truetype/dejavu/DejaVuSans.ttf")", "DejaVuSans.ttf", ""},
      {R"("font": "DejaVu Sanz")", "",
       "scene.json:1:20: font family \"DejaVu Sanz\" is not installed; closest installed: "
       "\"DejaVu Sans\", \"DejaVu Serif\""},
      {R"("font": "Helvetica Neue")", "",
       "scene.json:1:20: font family \"Helvetica Neue\" is not installed; closest installed: "},
      {R"("font": "DejaVu Sans", "style": "Heavy")", "",
       "scene.json:1:44: font family \"DejaVu Sans\" has no style \"Heavy\"; its styles: "
       "\"Bold\", \"Bold Oblique\", \"Book\""},
      {R"("font": "DejaVuSans.ttf", "style": "Bold")", "",
       "scene.json:1:47: \"style\" goes with a family name; the font file \"DejaVuSans.ttf\" is "
       "one style already"},
      {R"("style": "Bold")", "", "scene.json:1:21: \"style\" needs a \"font\" family"},
  };
  for (const Case& c : cases) {
    const std::string text = std::string(R"({"layer": {)") + c.layer + "}}";
    if (*c.file != '\0') {
      const SceneFile f = Parse(text);
      EXPECT_EQ(f.scene.layer.font_file.filename(), c.file) << c.layer;
      EXPECT_TRUE(fs::exists(f.scene.layer.font_file)) << c.layer;
    } else {
      const std::string message = RefusalOf(text);
      EXPECT_EQ(message.rfind(c.refusal, 0), 0u) << message;
      EXPECT_EQ(message.find('\n'), std::string::npos) << message;
    }
  }
}

// One bad scene per kind of mistake: the message it must produce (the file
// is named "scene.json" here; the command names it by its path).
struct BadScene {
  const char* name;
  const char* text;
  const char* message;
};

const BadScene kBadScenes[] = {
    {"InvalidJson", "{\n  \"composition\": {\"width\": 320,}\n}\n",
     "scene.json:2:32: not valid JSON: syntax error while parsing object key - unexpected '}'; "
     "expected string literal"},
    {"UnknownControl", "{\n  \"effect\": {\n    \"Dely (frames)\": 2\n  }\n}\n",
     "scene.json:3:5: unknown control \"Dely (frames)\"; expected one of: \"Delay (frames)\", "
     "\"Separation Mode\", \"Order Modifier\", \"Range Start\", \"Range End\", \"Enable Range "
     "Guide\", \"Tracking Amount\", \"Tracking Alignment\", \"Enable Motion Blur\", \"Motion "
     "Blur Amount\", \"Separation Threshold\", \"Enable Separation Guide\", \"Opacity\", "
     "\"Random Seed\", \"Evaluate Tangents\""},
    {"UnknownChoice", "{\n  \"effect\": {\"Order Modifier\": \"Randm\"}\n}\n",
     "scene.json:2:32: unknown choice \"Randm\" for \"Order Modifier\"; expected one of: "
     "\"None\", \"Reverse\", \"Random\", \"Increment\""},
    {"ValueOutOfRange", "{\n  \"effect\": {\n    \"Tracking Amount\": -150\n  }\n}\n",
     "scene.json:3:24: \"Tracking Amount\" must be from -100 to 100; found -150"},
    {"KeyframeValueOutOfRange",
     "{\"effect\": {\"Range End\": {\"keys\": [{\"frame\": 0, \"value\": 101}]}}}",
     "scene.json:1:58: \"Range End\" must be from 0 to 100; found 101"},
    {"MissingFontFile", "{\n  \"layer\": {\"font\": \"fonts/NoSuchFont.ttf\"}\n}\n",
     "scene.json:2:21: font file \"fonts/NoSuchFont.ttf\" not found; looked in \".\"; expected a "
     ".ttf or .otf file, relative to the scene file or absolute"},
    {"KeyframesOutOfOrder",
     "{\n  \"layer\": {\"position\": {\"keys\": [\n    {\"frame\": 10, \"value\": [0, 0]},\n"
     "    {\"frame\": 4, \"value\": [9, 9]}\n  ]}}\n}\n",
     "scene.json:4:15: \"position\" keyframes must be in increasing time order; frame 4 comes "
     "after frame 10"},
};

class SceneRefusal : public ::testing::TestWithParam<BadScene> {};

TEST_P(SceneRefusal, NamesThePlaceAndWhatWasExpected) {
  EXPECT_EQ(RefusalOf(GetParam().text), GetParam().message);
}

TEST_P(SceneRefusal, TheRenderCommandWritesNothing) {
  const fs::path dir = testing::FreshWorkDir(std::string("refusal-") + GetParam().name);
  const fs::path scene = dir / "scene.json";
  testing::WriteText(scene, GetParam().text);
  const fs::path out = dir / "out";
  const testing::CommandResult r =
      testing::RunVantrel("render '" + scene.string() + "' --out '" + out.string() + "'");
  EXPECT_EQ(r.exit_code, 2) << r.output;
  // The same message, with the file named by the path the command was given
  // (and a font looked for beside the scene).
  std::string expected = GetParam().message;
  expected.replace(0, std::string("scene.json").size(), scene.string());
  const std::string dot_folder = "looked in \".\"";
  if (auto at = expected.find(dot_folder); at != std::string::npos) {
    expected.replace(at, dot_folder.size(), "looked in \"" + dir.string() + "\"");
  }
  EXPECT_EQ(r.output, expected + "\n");
  EXPECT_FALSE(fs::exists(out));
}

INSTANTIATE_TEST_SUITE_P(BadScenes, SceneRefusal, ::testing::ValuesIn(kBadScenes),
                         [](const auto& info) { return std::string(info.param.name); });

// Strings holding quotes, braces, commas and slashes must not shift the
// positions of what follows them.
TEST(JsonLocations, FindEveryValueAndKeyPastTrickyStrings) {
  const std::string text =
      "{\"a/b\": \"x\\\"},[\", \"list\": [1, {\"k~\": [true, null]}],\n \"\\u00e9\": -2.5e3}";
  const auto where = LocateJsonValues(text);
  auto value_at = [&](const std::string& pointer) {
    return text.substr(where.at(pointer).value_offset, 4);
  };
  EXPECT_EQ(where.at("").value_offset, 0u);
  EXPECT_EQ(value_at("/a~1b"), "\"x\\\"");
  EXPECT_EQ(text.substr(where.at("/a~1b").key_offset, 5), "\"a/b\"");
  EXPECT_EQ(value_at("/list/0"), "1, {");
  EXPECT_EQ(where.at("/list/0").key_offset, std::string::npos);
  EXPECT_EQ(value_at("/list/1/k~0/0"), "true");
  EXPECT_EQ(value_at("/list/1/k~0/1"), "null");
  EXPECT_EQ(value_at("/\u00e9"), "-2.5");  // keys are decoded
  const TextPosition p = PositionOf(text, where.at("/\u00e9").key_offset);
  EXPECT_EQ(p.line, 2);
  EXPECT_EQ(p.column, 2);
}

TEST(SceneFile, ReadsFrameRatesAndRefusesWhatIsNotOne) {
  EXPECT_EQ(Parse(R"({"composition": {"fps": "24000/1001"}})").scene.comp.fps_num, 24000);
  EXPECT_EQ(Parse(R"({"composition": {"fps": 25}})").scene.comp.fps_den, 1);
  EXPECT_EQ(Parse(R"({"composition": {"fps": 59.94}})").scene.comp.fps_num, 60000);
  EXPECT_EQ(RefusalOf(R"({"composition": {"fps": "0/1"}})"),
            "scene.json:1:25: \"fps\" must be a frame rate such as 30, 29.97 or "
            "\"30000/1001\"; found \"0/1\"");
  EXPECT_EQ(RefusalOf(R"({"composition": {"pixel_aspect": 0.9}})"),
            "scene.json:1:34: only square pixels are supported; expected \"pixel_aspect\": 1; "
            "found 0.9");
  EXPECT_EQ(RefusalOf(R"({"composition": {"duration": 2.5}})"),
            "scene.json:1:30: \"duration\" (frames) must be a whole number; found 2.5");
}

// A number beyond the range of double is valid JSON that the JSON library
// cannot hold; it is refused at its place like any other bad value.
TEST(SceneFile, RefusesANumberBeyondDouble) {
  EXPECT_EQ(RefusalOf(R"({"layer": {"size": 1e400}})"),
            "scene.json:1:20: number overflow parsing '1e400'");
  EXPECT_EQ(RefusalOf("{\"composition\": {\"width\":\n  -1e999}}"),
            "scene.json:2:3: number overflow parsing '-1e999'");
}

// Nesting deep enough to exhaust the stack of a recursive reader is refused
// where it goes past the limit, brackets inside strings not counted.
TEST(SceneFile, RefusesDeepNesting) {
  const std::string deep =
      R"({"description": )" + std::string(200000, '[') + std::string(200000, ']') + "}";
  // The root is level 1, so the 64th '[' (offset 16 + 63) opens level 65.
  EXPECT_EQ(RefusalOf(deep), "scene.json:1:80: nested deeper than 64 levels of [...] and {...}");
  EXPECT_EQ(RefusalOf(R"({"description": [[["x]]]"]]]})"),
            "scene.json:1:17: \"description\" must be a string; found [[[\"x]]]\"]]]");
}

// A token, key or string of megabytes in each place the reader reports from
// is refused by the command in one located line that quotes only its start.
TEST(CheckCommand, MegabyteTokensGiveOneShortLocatedLine) {
  const std::string mb(3'000'000, '\t');
  const std::string digits(3'000'000, '7');
  const std::string letters(3'000'000, 'x');
  const struct {
    const char* name;
    std::string text;
    const char* message;
  } cases[] = {
      {"AfterAKey", "{\"layer\": {\"text\": \"x\"" + mb + "nope}}",
       ":1:3000024: not valid JSON: syntax error while parsing object - invalid literal; last "
       "read: '\"x\"<U+0009><U+0009><U+0009><U+0009><U+00…'; expected '}'"},
      {"InsideAnArray", "{\"layer\": {\"origin\": [1, " + digits + "e999]}}",
       ":1:26: number overflow parsing '7777777777777777777777777777777777777777…'"},
      {"AtTheEnd", "{\"description\": \"" + letters,
       ":1:3000018: not valid JSON: syntax error while parsing value - invalid string: missing "
       "closing quote; last read: '\"xxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxx…'"},
      {"AnUnknownKey", "{\"" + letters + "\\n\": 1}",
       ":1:2: unknown key \"xxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxx…\" in the scene; expected "
       "one of: \"description\", \"composition\", \"layer\", \"effect\""},
      {"AControlCharacterInAKey", "{\"a\\nb\": 1}",
       ":1:2: unknown key \"a\\nb\" in the scene; expected one of: \"description\", "
       "\"composition\", \"layer\", \"effect\""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const fs::path scene = testing::FreshWorkDir(std::string("long-") + c.name) / "scene.json";
    testing::WriteText(scene, c.text);
    const testing::CommandResult r = testing::RunVantrel("check '" + scene.string() + "'");
    EXPECT_EQ(r.exit_code, 2);
    EXPECT_EQ(r.output, scene.string() + c.message + "\n");
  }
}

TEST(SceneFile, AMissingSceneFileIsNamed) {
  try {
    ReadSceneFile("no/such/scene.json", ModuleControls());
    FAIL() << "accepted a missing file";
  } catch (const SceneError& e) {
    EXPECT_STREQ(e.what(), "no/such/scene.json: cannot open the scene file");
  }
}

}  // namespace
}  // namespace vantrel::cli
