// A desktop install into a scratch prefix, and the package metadata beside the program it
// describes.
#include <gtest/gtest.h>

#include <fstream>

#include "support/TempLogs.h"

namespace {

namespace fs = std::filesystem;
using quorvane::testing::RunShell;
using quorvane::testing::ShellRun;

std::string Slurp(const fs::path& file) {
  std::ifstream in(file, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// For the shell, in single quotes (the paths here hold none themselves).
std::string Quoted(const fs::path& path) {
  return '\'' + path.string() + '\'';
}

class Install : public testing::Test {
 protected:
  static void SetUpTestSuite() {
    prefix_ = std::make_unique<quorvane::testing::TempDir>();
    install_ = RunShell(std::string(QUORVANE_CMAKE_COMMAND) + " --install " +
                        Quoted(QUORVANE_BUILD_DIR) + " --prefix " + Quoted(prefix_->Path()));
  }
  static void TearDownTestSuite() { prefix_.reset(); }
  void SetUp() override { ASSERT_EQ(install_.status, 0) << install_.out << install_.err; }

  static fs::path Installed(const std::string& relative) { return prefix_->Path() / relative; }

  static inline std::unique_ptr<quorvane::testing::TempDir> prefix_;
  static inline ShellRun install_;
};

// The programs, the icons at their sizes, and a menu entry that starts
// the installed program with its icon and takes the files a file manager hands it as text (CI's
// package step runs desktop-file-validate on it).
TEST_F(Install, PutsTheProgramsIconsAndMenuEntryWhereDesktopsLook) {
  for (const char* program : {"bin/quorvane", "bin/quorvane-report"})
    EXPECT_NE(fs::status(Installed(program)).permissions() & fs::perms::owner_exec, fs::perms::none)
        << program;
  EXPECT_TRUE(fs::is_regular_file(Installed("share/icons/hicolor/scalable/apps/quorvane.svg")));
  for (const char* size : {"16x16", "32x32"})
    EXPECT_TRUE(fs::is_regular_file(
        Installed("share/icons/hicolor/" + std::string(size) + "/apps/quorvane.png")));
  std::map<std::string, std::string> keys;
  std::ifstream entry(Installed("share/applications/quorvane.desktop"));
  for (std::string line; std::getline(entry, line);) {
    if (const auto equals = line.find('='); equals != std::string::npos)
      keys[line.substr(0, equals)] = line.substr(equals + 1);
  }
  EXPECT_EQ(keys["Type"] + '|' + keys["Name"] + '|' + keys["Exec"] + '|' + keys["MimeType"] + '|' +
                keys["Terminal"],
            "Application|Quorvane|quorvane %F|text/plain;|false");
  EXPECT_TRUE(
      fs::is_regular_file(Installed("share/icons/hicolor/32x32/apps/" + keys["Icon"] + ".png")))
      << keys["Icon"];
}

// quorvane-report's systemd units run the program with the settings file installed; their command,
// as systemd hands it to sh, takes the settings as given and keeps a classic log's name whole.
TEST_F(Install, PutsTheSystemdUnitsAndTheirSettings) {
  const fs::path settings = Installed("etc/default/quorvane-report");
  std::string classic = Slurp(settings) + "QUORVANE_LOGS=\n";  // the pair's lines in use instead
  for (std::size_t at; (at = classic.find("\n#QUORVANE_")) != std::string::npos;)
    classic.erase(at + 1, 1);
  for (const std::string unit : {"quorvane-report.service", "quorvane-report-update.service"}) {
    const std::string text = Slurp(Installed("lib/systemd/system/" + unit));
    EXPECT_NE(text.find("\nEnvironmentFile=" + settings.string() + "\n"), std::string::npos);
    const std::string start =
        "\nExecStart=/bin/sh -fc 'exec " + Installed("bin/quorvane-report").string();
    const std::size_t from = text.find(start) + start.size();
    ASSERT_GT(from, start.size()) << unit;
    std::string command = "printf '[%s]'" + text.substr(from, text.find('\'', from) - from);
    for (std::size_t at = 0; (at = command.find("$$", at)) != std::string::npos; ++at)
      command.erase(at, 1);  // systemd's $$ is sh's $
    const quorvane::testing::TempDir dir;
    const auto run = [&](const std::string& script) {
      return RunShell("sh -f " + Quoted(dir.Write("run", script + '\n' + command))).out;
    };
    const bool follows = unit == "quorvane-report.service";
    EXPECT_EQ(run(Slurp(settings)),
              std::string(follows ? "[--follow]" : "") +
                  "[--history][/var/lib/quorvane/history][--format][html][--output][/run/quorvane/"
                  "index.html]" +
                  (follows ? "[--every][60]" : "") +
                  "[--users][--files][--log][/var/log/mobius/mobius.log]");
    EXPECT_TRUE(
        run(classic).ends_with("[--files][--download][/srv/hotline/Download Log.txt]"
                               "[--upload][/srv/hotline/Upload Log.txt]"))
        << unit;
  }
  const std::string timer = Slurp(Installed("lib/systemd/system/quorvane-report-update.timer"));
  EXPECT_NE(timer.find("\nWantedBy=timers.target\n"), std::string::npos);
}

// The one metainfo file has a release for this version and launches the desktop entry we ship.
TEST(Packaging, TheMetainfoDescribesThisVersionAndOurDesktopEntry) {
  const fs::path packaging = QUORVANE_PACKAGING_DIR;
  std::string metainfo;
  for (const auto& file : fs::directory_iterator(packaging / "metainfo")) {
    if (file.path().string().ends_with(".metainfo.xml")) {
      EXPECT_TRUE(metainfo.empty()) << "more than one metainfo file";
      metainfo = Slurp(file.path());
    }
  }
  EXPECT_NE(metainfo.find(std::string("<release version=\"") + QUORVANE_VERSION + "\""),
            std::string::npos)
      << "add a <release> for " << QUORVANE_VERSION << " to the metainfo";
  const std::string open = "<launchable type=\"desktop-id\">";
  const std::size_t from = metainfo.find(open);
  ASSERT_NE(from, std::string::npos);
  const std::string desktopId =
      metainfo.substr(from + open.size(), metainfo.find('<', from + 1) - from - open.size());
  EXPECT_TRUE(fs::is_regular_file(packaging / desktopId)) << desktopId << " is not in packaging/";
}

}  // namespace
