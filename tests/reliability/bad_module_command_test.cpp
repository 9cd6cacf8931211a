// What the vantrel command says about modules that are broken in every way a
// host can meet: each is a one-line error naming the file and the problem
// (or, for a module that misbehaves while rendering, the violations), with a
// non-zero exit, and the command never dies of it.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <algorithm>
#include <array>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;

struct Outcome {
  int exit_code = -1;  // -1: killed by a signal
  std::string errors;  // what the command wrote to stderr
};

Outcome RunVantrel(const std::string& arguments) {
  const std::string command =
      std::string("'") + VANTREL_COMMAND_PATH + "' " + arguments + " 2>&1 >/dev/null";
  Outcome outcome;
  FILE* pipe = popen(command.c_str(), "r");
  if (!pipe) return outcome;
  std::array<char, 4096> buffer;
  std::size_t n = 0;
  while ((n = fread(buffer.data(), 1, buffer.size(), pipe)) > 0) {
    outcome.errors.append(buffer.data(), n);
  }
  const int status = pclose(pipe);
  outcome.exit_code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return outcome;
}

std::vector<unsigned char> Bytes(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

void Write(const fs::path& path, const std::vector<unsigned char>& bytes) {
  std::ofstream out(path, std::ios::binary);
  out.write(reinterpret_cast<const char*>(bytes.data()),
            static_cast<std::streamsize>(bytes.size()));
}

// The probe module with `from` replaced by `to` (same length) in its file.
fs::path PatchedProbe(const fs::path& dir, const std::string& name, const std::string& from,
                      const std::string& to) {
  std::vector<unsigned char> image = Bytes(PROBE_PATH);
  auto at = std::search(image.begin(), image.end(), from.begin(), from.end());
  if (at == image.end()) return {};
  std::copy(to.begin(), to.end(), at);
  const fs::path path = dir / name;
  Write(path, image);
  return path;
}

class BadModules : public ::testing::Test {
 protected:
  void SetUp() override {
    // ctest runs the tests of this file in parallel: one folder per test.
    dir_ = fs::path(VANTREL_TEST_WORK_DIR) /
           (std::string("bad-modules-") +
            ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(dir_);
    fs::create_directories(dir_);
    std::ofstream(dir_ / "scene.json") << "{\"composition\": {\"duration\": 2}}";
  }
  void TearDown() override { fs::remove_all(dir_); }

  Outcome Render(const fs::path& module, const std::string& extra = "") {
    return RunVantrel("render '" + (dir_ / "scene.json").string() + "' --out '" +
                      (dir_ / "out").string() + "' --quiet --module '" + module.string() + "'" +
                      extra);
  }
  static Outcome Inspect(const fs::path& module) {
    return RunVantrel("inspect '" + module.string() + "'");
  }

  fs::path dir_;
};

// One line, starting "vantrel: <file>: ", holding `problem`.
void ExpectOneLineError(const Outcome& o, const fs::path& module, const std::string& problem) {
  EXPECT_EQ(o.exit_code, 1) << o.errors;
  EXPECT_EQ(o.errors.rfind("vantrel: " + module.string() + ": ", 0), 0u) << o.errors;
  EXPECT_NE(o.errors.find(problem), std::string::npos) << o.errors;
  EXPECT_EQ(std::count(o.errors.begin(), o.errors.end(), '\n'), 1) << o.errors;
}

TEST_F(BadModules, EachUnloadableModuleIsAOneLineErrorFromBothCommands) {
  std::ofstream(dir_ / "notes.so") << "just text\n";
  const fs::path no_entry =
      PatchedProbe(dir_, "no_entry.so", std::string("\x0C\0\0\0ProbeMain", 13),
                   std::string("\x0C\0\0\0XrobeMain", 13));
  const fs::path malformed =
      PatchedProbe(dir_, "malformed.so", std::string("\x01\0\0\0\0\0\x03\0\0\0MIB8dnik", 18),
                   std::string("\x01\0\0\0\0\0\xC8\0\0\0MIB8dnik", 18));
  ASSERT_FALSE(no_entry.empty());
  ASSERT_FALSE(malformed.empty());
  struct Case {
    fs::path module;
    std::string problem;
  };
  const std::vector<Case> cases = {
      {dir_ / "missing.so", "no such file"},
      {dir_ / "notes.so", "not a module"},
      {NO_RESOURCE_PATH, "no ELF section vantrel_pipl"},
      {malformed, "property resource"},
      {PROBE_NOT_EFFECT_PATH, "not an effect (kind AEgx)"},
      {no_entry, "no exported entry point XrobeMain"},
      {PROBE_THROWS_PATH, "an exception left EntryPointFunc (probe gave up)"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.module.string());
    ExpectOneLineError(Inspect(c.module), c.module, c.problem);
    ExpectOneLineError(Render(c.module), c.module, c.problem);
    EXPECT_FALSE(fs::exists(dir_ / "out"));
  }
}

TEST_F(BadModules, AModuleThatLeaksWhileRenderingIsReportedAndFailsAStrictRender) {
  const Outcome lenient = Render(PROBE_LEAKS_PATH, " --frames 0");
  EXPECT_EQ(lenient.exit_code, 0) << lenient.errors;
  EXPECT_NE(lenient.errors.find("frame 0: PF_Cmd_RENDER: suite \"AEGP World Suite\" v3 acquired "
                                "but not released (1 held)"),
            std::string::npos)
      << lenient.errors;
  EXPECT_NE(lenient.errors.find("not disposed of"), std::string::npos) << lenient.errors;

  const Outcome strict = Render(PROBE_LEAKS_PATH, " --frames 0 --strict");
  EXPECT_EQ(strict.exit_code, 1) << strict.errors;
  EXPECT_NE(strict.errors.find("AEGP World Suite"), std::string::npos) << strict.errors;
}

}  // namespace
