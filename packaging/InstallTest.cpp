#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <sstream>
#include <string>

#include "support/TempLogs.h"

namespace fs = std::filesystem;

namespace {

struct CommandResult {
  int status = -1;
  std::string output;
};

// Runs a shell command and collects what it writes to stdout and stderr.
CommandResult RunCommand(const std::string& command) {
  CommandResult run;
  FILE* pipe = popen((command + " 2>&1").c_str(), "r");
  if (pipe == nullptr)
    return run;
  char chunk[4096];
  for (std::size_t n; (n = std::fread(chunk, 1, sizeof chunk, pipe)) > 0;)
    run.output.append(chunk, n);
  const int status = pclose(pipe);
  run.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return run;
}

// For the shell, in single quotes (the paths here hold none themselves).
std::string Quoted(const fs::path& path) {
  std::string quoted(1, '\'');
  quoted.append(path.string());
  quoted.push_back('\'');
  return quoted;
}

// Width and height from a PNG's header chunk.
std::pair<int, int> PngSize(const fs::path& png) {
  std::ifstream in(png, std::ios::binary);
  unsigned char header[24] = {};
  in.read(reinterpret_cast<char*>(header), sizeof header);
  const auto big = [&](int at) {
    return (header[at] << 24) | (header[at + 1] << 16) | (header[at + 2] << 8) | header[at + 3];
  };
  return {big(16), big(20)};
}

std::map<std::string, std::string> DesktopEntry(const fs::path& file) {
  std::map<std::string, std::string> keys;
  std::ifstream in(file);
  for (std::string line; std::getline(in, line);) {
    const auto equals = line.find('=');
    if (equals != std::string::npos)
      keys[line.substr(0, equals)] = line.substr(equals + 1);
  }
  return keys;
}

class Install : public testing::Test {
 protected:
  static void SetUpTestSuite() {
    prefix_ = std::make_unique<quorvane::testing::TempDir>();
    install_ = RunCommand(std::string(QUORVANE_CMAKE_COMMAND) + " --install " +
                          Quoted(QUORVANE_BUILD_DIR) + " --prefix " + Quoted(prefix_->Path()));
  }
  static void TearDownTestSuite() { prefix_.reset(); }

  void SetUp() override { ASSERT_EQ(install_.status, 0) << install_.output; }

  static fs::path Installed(const std::string& relative) { return prefix_->Path() / relative; }

  static inline std::unique_ptr<quorvane::testing::TempDir> prefix_;
  static inline CommandResult install_;
};

TEST_F(Install, PutsTheProgramAndItsIconsWhereDesktopsLook) {
  const fs::path program = Installed("bin/quorvane");
  ASSERT_TRUE(fs::is_regular_file(program));
  EXPECT_NE(fs::status(program).permissions() & fs::perms::owner_exec, fs::perms::none);

  EXPECT_TRUE(fs::is_regular_file(Installed("share/icons/hicolor/scalable/apps/quorvane.svg")));
  for (const int size : {16, 32}) {
    const std::string dir = std::to_string(size) + "x" + std::to_string(size);
    const fs::path png = Installed("share/icons/hicolor/" + dir + "/apps/quorvane.png");
    ASSERT_TRUE(fs::is_regular_file(png)) << png;
    EXPECT_EQ(PngSize(png), std::make_pair(size, size)) << png;
  }
}

TEST_F(Install, MenuEntryStartsTheInstalledProgramWithItsIcon) {
  const fs::path entry = Installed("share/applications/quorvane.desktop");
  ASSERT_TRUE(fs::is_regular_file(entry));
  auto keys = DesktopEntry(entry);
  EXPECT_EQ(keys["Type"], "Application");
  EXPECT_EQ(keys["Name"], "Quorvane");
  // A file manager hands it the logs chosen (%F), as text files.
  EXPECT_EQ(keys["Exec"], "quorvane %F");
  EXPECT_TRUE(fs::is_regular_file(Installed("bin/quorvane")));
  EXPECT_EQ(keys["MimeType"], "text/plain;");
  EXPECT_TRUE(
      fs::is_regular_file(Installed("share/icons/hicolor/32x32/apps/" + keys["Icon"] + ".png")))
      << keys["Icon"];
  EXPECT_EQ(keys["Terminal"], "false");
}

TEST_F(Install, MenuEntryPassesTheDesktopFileValidator) {
  if (RunCommand("command -v desktop-file-validate").status != 0) {
    GTEST_SKIP() << "desktop-file-validate is not installed";
  }
  const CommandResult check = RunCommand("desktop-file-validate " +
                                         Quoted(Installed("share/applications/quorvane.desktop")));
  EXPECT_EQ(check.status, 0) << check.output;
  EXPECT_EQ(check.output, "") << "no errors, warnings or hints";
}

}  // namespace
