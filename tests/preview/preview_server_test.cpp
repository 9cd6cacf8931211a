// The preview server through an HTTP client: every endpoint, every kind of
// bad request answered with its 4xx while the server goes on serving, many
// clients at once, saving (also when the write is cut short), a scene file
// edited on disk, and an export.
#include "vantrel/cli/preview_server.h"

#include <gtest/gtest.h>
#include <httplib.h>
#include <sys/resource.h>

#include <chrono>
#include <csignal>
#include <fstream>
#include <nlohmann/json.hpp>
#include <sstream>
#include <thread>

#include "vantrel/cli/preview_scene.h"
#include "vantrel/cli/raster.h"
#include "vantrel/cli/render_job.h"

namespace vantrel::cli {
namespace {

namespace fs = std::filesystem;
using nlohmann::json;

std::string ReadText(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

void WriteText(const fs::path& path, const std::string& text) {
  std::ofstream(path, std::ios::binary) << text;
}

TEST(SceneJson, IsWrittenAsPeopleWriteItInTheOrderRead) {
  const struct {
    const char* json;
    const char* text;
  } cases[] = {
      {R"j({"b": 1, "a": [1, 2]})j", "{\"b\": 1, \"a\": [1, 2]}\n"},
      {R"j({"z": {"keys": [{"frame": 0, "value": 10}, {"frame": 16, "value": 640}]}, "a": "x"})j",
       "{\n  \"z\": {\n    \"keys\": [\n      {\"frame\": 0, \"value\": 10},\n      "
       "{\"frame\": 16, \"value\": 640}\n    ]\n  },\n  \"a\": \"x\"\n}\n"},
      {R"j({"effect": {"Delay (frames)": 2.5, "Opacity": {"keys": [{"frame": 0, "value": 0},
         {"frame": 10, "value": 100}, {"frame": 20, "value": 50}]}}, "e": {}})j",
       "{\n  \"effect\": {\n    \"Delay (frames)\": 2.5,\n    \"Opacity\": {\n      \"keys\": "
       "[\n        {\"frame\": 0, \"value\": 0},\n        {\"frame\": 10, \"value\": 100},\n   "
       "     {\"frame\": 20, \"value\": 50}\n      ]\n    }\n  },\n  \"e\": {}\n}\n"},
  };
  for (const auto& c : cases) {
    const auto doc = nlohmann::ordered_json::parse(c.json);
    const std::string text = FormatSceneJson(doc, 60);
    EXPECT_EQ(text, c.text);
    EXPECT_EQ(nlohmann::ordered_json::parse(text), doc);
  }
}

// A copy of the first example in a fresh folder, served on a free port.
class PreviewServerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
    dir_ = fs::path(VANTREL_TEST_WORK_DIR) / info->name();
    fs::remove_all(dir_);
    fs::create_directories(dir_);
    scene_ = dir_ / "title.json";
    fs::copy_file(fs::path(VANTREL_SOURCE_DIR) / "examples/01-title-slide.json", scene_);
    PreviewOptions options;
    options.scene = scene_;
    options.module = VANTREL_MODULE_PATH;
    options.port = 0;
    options.resolution = host::Resolution::kQuarter;
    options.out_dir = dir_ / "export";
    options.poll_milliseconds = 50;
    server_ = std::make_unique<PreviewServer>(options);
    port_ = server_->Start();
    options_ = options;
  }
  void TearDown() override { server_->Stop(); }

  httplib::Client Client() const {
    httplib::Client c("127.0.0.1", port_);
    c.set_read_timeout(std::chrono::seconds(60));
    return c;
  }
  json State() const {
    auto r = Client().Get("/api/state");
    EXPECT_TRUE(r && r->status == 200);
    return r ? json::parse(r->body) : json();
  }
  // Polls `ready` for up to a minute: the server's file watcher and export
  // run on their own threads, on a machine that may be busy.
  static bool Eventually(const std::function<bool()>& ready) {
    for (int i = 0; i < 600; ++i) {
      if (ready()) return true;
      std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    return false;
  }

  fs::path dir_;
  fs::path scene_;
  std::unique_ptr<PreviewServer> server_;
  PreviewOptions options_;
  int port_ = 0;
};

TEST_F(PreviewServerTest, AnswersEveryEndpointAndRefusesBadRequestsWithAReason) {
  const std::string port = std::to_string(port_);
  struct Case {
    const char* what;
    std::string method, path, body;
    httplib::Headers headers;
    int status;
    std::string contains;  // in the answer's body
  };
  const std::string oversized = "{\"text\": \"" + std::string(70000, 'x') + "\"}";
  // clang-format off
  const std::vector<Case> cases = {
      {"page", "GET", "/", "", {}, 200, "<!doctype html>"},
      {"script", "GET", "/app.js", "", {}, 200, "/api/frame"},
      {"style", "GET", "/style.css", "", {}, 200, "#panel"},
      {"state", "GET", "/api/state", "", {}, 200, "\"Delay (frames)\""},
      {"pieces", "GET", "/api/pieces?frame=20", "", {}, 200, "\"quad\""},
      {"slider", "POST", "/api/control", R"j({"name": "Delay (frames)", "value": 2.5})j", {},
       200, "version"},
      {"pop-up", "POST", "/api/control", R"j({"name": "Order Modifier", "value": "Reverse"})j",
       {}, 200, "version"},
      {"checkbox", "POST", "/api/control", R"j({"name": "Enable Range Guide", "value": true})j",
       {}, 200, "version"},
      {"an edit answered with its frame", "POST", "/api/control?frame=3&view=v",
       R"j({"name": "Range End", "value": 75})j", {}, 200, "\x10\x18\x20\xff"},  // the background's pixel
      {"layer", "POST", "/api/layer", R"j({"text": "FLOW", "size": 120, "align": "left"})j", {},
       200, "version"},
      {"save", "POST", "/api/save", "{}", {}, 200, "title.json"},
      {"bad JSON", "POST", "/api/control", "{\"name\": ", {}, 400, "not valid JSON"},
      {"not an object", "POST", "/api/layer", "[1]", {}, 400, "JSON object"},
      {"no value", "POST", "/api/control", R"j({"name": "Delay (frames)"})j", {}, 400, "expected"},
      {"unknown control", "POST", "/api/control", R"j({"name": "Dely", "value": 1})j", {}, 422,
       "unknown control \"Dely\""},
      {"out of range", "POST", "/api/control", R"j({"name": "Delay (frames)", "value": 51})j", {},
       422, "outside 0.00 to 50.00"},
      {"wrong type", "POST", "/api/control", R"j({"name": "Delay (frames)", "value": "2"})j", {},
       422, "takes a number"},
      {"unknown choice", "POST", "/api/control", R"j({"name": "Order Modifier", "value": "Up"})j",
       {}, 422, "no choice \"Up\""},
      {"layer key", "POST", "/api/layer", R"j({"position": [0, 0]})j", {}, 422, "cannot be edited"},
      {"layer value", "POST", "/api/layer", R"j({"size": 0})j", {}, 422, "\"size\" must be"},
      {"missing font", "POST", "/api/layer", R"j({"font": "NoSuchFont.ttf", "style": ""})j", {},
       422, "not found"},
      {"unknown family", "POST", "/api/layer", R"j({"font": "DejaVu Sanz"})j", {}, 422,
       "closest installed: \"DejaVu Sans\""},
      {"oversized", "POST", "/api/layer", oversized, {}, 413, "larger"},
      {"frame past the end", "GET", "/api/frame?frame=32", "", {}, 400, "0 to 31"},
      {"frame not a number", "GET", "/api/frame?frame=1x", "", {}, 400, "expected a number"},
      {"resolution", "GET", "/api/frame?res=eighth", "", {}, 400, "full, half"},
      {"unknown page", "GET", "/etc/passwd", "", {}, 404, "no such page"},
      {"unknown address", "GET", "/api/statee", "", {}, 404, "no such page"},
      {"wrong method", "POST", "/api/state", "{}", {}, 405, "/api/state takes GET"},
      // Refused before the edit is made: the state below keeps the earlier value.
      {"an edit's frame past the end", "POST", "/api/control?frame=40",
       R"j({"name": "Delay (frames)", "value": 7})j", {}, 400, "0 to 31"},
      {"a line break in a name", "POST", "/api/control", R"j({"name": "a\nb", "value": 1})j", {},
       422, R"(unknown control "a\nb")"},
      {"a layer edit with two mistakes", "POST", "/api/layer", R"j({"size": 0, "fill": "x"})j", {},
       422, "\"size\" must be"},
      {"export's video", "POST", "/api/export", R"j({"video": 1})j", {}, 400, "true or false"},
      {"foreign Host", "GET", "/api/state", "", {{"Host", "attacker.example:" + port}}, 403,
       "not this server's address"},
      {"foreign Origin", "POST", "/api/save", "{}", {{"Origin", "http://attacker.example"}}, 403,
       "not this server's page"},
      {"Origin on another port", "GET", "/api/state", "", {{"Origin", "http://127.0.0.1:1"}},
       403, "not this server's page"},
      {"own Origin", "GET", "/api/state", "", {{"Origin", "http://127.0.0.1:" + port}}, 200,
       "controls"},
      {"the same server by another name", "GET", "/api/state", "",
       {{"Host", "localhost:" + port}, {"Origin", "http://127.0.0.1:" + port}}, 403,
       "not this server's page"},
      {"no Host", "GET", "/api/state", "", {{"Host", ""}}, 403, "not this server's address"},
  };
  // clang-format on

  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    httplib::Client client = Client();
    const auto r = c.method == "GET"
                       ? client.Get(c.path.c_str(), c.headers)
                       : client.Post(c.path.c_str(), c.headers, c.body, "application/json");
    ASSERT_TRUE(r) << httplib::to_string(r.error());
    EXPECT_EQ(r->status, c.status) << r->body;
    EXPECT_NE(r->body.find(c.contains), std::string::npos) << r->body;
    // Refusals are one line.
    if (r->status >= 400) {
      EXPECT_EQ(r->body.find('\n'), r->body.size() - 1) << r->body;
    }
  }

  // The edits took: the state shows them, and the frame is the new one.
  const json state = State();
  EXPECT_EQ(state["layer"]["text"], "FLOW");
  for (const json& c : state["controls"]) {
    if (c["name"] == "Delay (frames)") {
      EXPECT_EQ(c["value"], 2.5);
    } else if (c["name"] == "Order Modifier") {
      EXPECT_EQ(c["value"], 2);
    }
  }
  const auto frame = Client().Get("/api/frame?frame=20");
  ASSERT_TRUE(frame && frame->status == 200);
  EXPECT_EQ(frame->get_header_value("X-Frame-Width"), "320");
  EXPECT_EQ(frame->body.size(), 320u * 180 * 4);

  // A second server on the same port is refused instead of sharing it.
  PreviewOptions again = options_;
  again.port = port_;
  PreviewServer second(again);
  EXPECT_THROW(second.Start(), std::runtime_error);
}

TEST_F(PreviewServerTest, SavesOnlyWhatChangedAndAnInterruptedSaveLeavesTheOldFile) {
  const json original = json::parse(ReadText(scene_));
  auto client = Client();
  ASSERT_EQ(client
                .Post("/api/control", R"j({"name": "Delay (frames)", "value": 4
})j",
                      "application/json")
                ->status,
            200);
  ASSERT_EQ(client.Post("/api/save", "{}", "application/json")->status, 200);
  json saved = json::parse(ReadText(scene_));
  EXPECT_EQ(saved["effect"]["Delay (frames)"], 4);
  saved["effect"]["Delay (frames)"] = original["effect"]["Delay (frames)"];
  EXPECT_EQ(saved, original) << "a key the page did not touch changed";

  // A write that the file size limit cuts short: the save fails, the old
  // file is whole and no temporary is left behind.
  ASSERT_EQ(client
                .Post("/api/layer", R"j({"text": "A MUCH LONGER TITLE THAN BEFORE"})j",
                      "application/json")
                ->status,
            200);
  const std::string before = ReadText(scene_);
  rlimit old{};
  ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &old), 0);
  const auto old_handler = std::signal(SIGXFSZ, SIG_IGN);
  rlimit small = old;
  small.rlim_cur = before.size() / 2;
  ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
  const auto failed = client.Post("/api/save", "{}", "application/json");
  setrlimit(RLIMIT_FSIZE, &old);
  std::signal(SIGXFSZ, old_handler);
  ASSERT_TRUE(failed);
  EXPECT_EQ(failed->status, 500);
  EXPECT_NE(failed->body.find("not saved"), std::string::npos) << failed->body;
  EXPECT_EQ(ReadText(scene_), before);
  EXPECT_FALSE(fs::exists(PartialName(scene_)));
  EXPECT_EQ(client.Post("/api/save", "{}", "application/json")->status, 200);
  EXPECT_NE(ReadText(scene_).find("A MUCH LONGER TITLE"), std::string::npos);
}

TEST_F(PreviewServerTest, FollowsTheFileOnDiskAndKeepsTheLastGoodSceneOnAnError) {
  std::string text = ReadText(scene_);
  const std::string from = "\"Delay (frames)\": 2";
  text.replace(text.find(from), from.size(), "\"Delay (frames)\": 7");
  WriteText(scene_, text);
  auto delay = [this] {
    const json state = State();
    for (const json& c : state["controls"]) {
      if (c["name"] == "Delay (frames)") return c["value"].get<double>();
    }
    return -1.0;
  };
  EXPECT_TRUE(Eventually([&] { return delay() == 7; }));

  // A broken file: its position is shown, the last good scene still renders,
  // and a save, which would overwrite the person's text, is refused.
  WriteText(scene_, text.substr(0, text.size() / 2));
  EXPECT_TRUE(Eventually([&] { return !State()["error"].get<std::string>().empty(); }));
  EXPECT_NE(State()["error"].get<std::string>().find("title.json:"), std::string::npos);
  EXPECT_EQ(delay(), 7);
  EXPECT_EQ(Client().Get("/api/frame?frame=5")->status, 200);
  EXPECT_EQ(Client().Post("/api/save", "{}", "application/json")->status, 422);
  WriteText(scene_, text);
  EXPECT_TRUE(Eventually([&] { return State()["error"].get<std::string>().empty(); }));
}

TEST_F(PreviewServerTest, ServesManyClientsAtOnce) {
  constexpr int kClients = 8;
  constexpr int kRequests = 200;
  std::atomic<int> ok{0};
  std::vector<std::thread> clients;
  for (int c = 0; c < kClients; ++c) {
    clients.emplace_back([&, c] {
      httplib::Client client = Client();
      for (int i = 0; i < kRequests; ++i) {
        const auto count = [&](const httplib::Result& r, int expected) {
          if (r && r->status == expected) ++ok;
        };
        // Frames for one shared view: a request still waiting when a newer
        // one comes is answered 409 at once, never left hanging.
        const auto frame_or_superseded = [&](const httplib::Result& r) {
          if (r && (r->status == 200 || r->status == 409)) ++ok;
        };
        switch (i % 4) {
          case 0:
            frame_or_superseded(client.Get(
                ("/api/frame?view=shared&frame=" + std::to_string((c + i) % 32)).c_str()));
            break;
          case 1:
            count(client.Post(
                      "/api/control",
                      json{{"name", "Delay (frames)"}, {"value", (c * kRequests + i) % 50}}.dump(),
                      "application/json"),
                  200);
            break;
          case 2:
            count(client.Get("/api/state"), 200);
            break;
          default:
            count(client.Post("/api/control", "{oops", "application/json"), 400);
        }
      }
    });
  }
  for (std::thread& t : clients) t.join();
  EXPECT_EQ(ok.load(), kClients * kRequests);
  EXPECT_EQ(Client().Get("/api/state")->status, 200);
}

TEST_F(PreviewServerTest, ExportsEveryFrameWithProgress) {
  auto client = Client();
  const auto started =
      client.Post("/api/export", R"j({"resolution": "quarter"})j", "application/json");
  ASSERT_TRUE(started);
  EXPECT_EQ(started->status, 202);
  EXPECT_TRUE(Eventually([&] { return fs::exists(dir_ / "export/contact.png"); }));
  for (int f = 0; f < 32; ++f) EXPECT_TRUE(fs::exists(dir_ / "export" / FrameFileName(f)));
  // The stream's latest export event is the finished one.
  std::string events;
  httplib::Client stream("127.0.0.1", port_);
  stream.Get("/api/events", [&](const char* data, std::size_t size) {
    events.append(data, size);
    return events.find("\"running\":false") == std::string::npos;
  });
  EXPECT_NE(events.find("\"done\":32"), std::string::npos) << events;
  EXPECT_EQ(client.Post("/api/export", R"j({"resolution": 4})j", "application/json")->status, 400);
}

}  // namespace
}  // namespace vantrel::cli
