// --output: the report written whole into a new file that replaces the old one, or nothing changed.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <atomic>
#include <cerrno>
#include <cstring>
#include <fstream>
#include <thread>

#include "OutputFile.h"
#include "ReportCommand.h"
#include "support/TempLogs.h"

namespace quorvane {
namespace {

namespace fs = std::filesystem;
using Names = std::vector<std::string>;

std::string Slurp(const fs::path& file) {
  std::ifstream in(file, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// Every file under the folder with its bytes, sorted, so that a file changed or left behind shows.
Names Listing(const fs::path& folder) {
  Names names;
  for (const auto& entry : fs::recursive_directory_iterator(folder))
    names.push_back(fs::relative(entry.path(), folder).string() + ": " +
                    (entry.is_regular_file() ? Slurp(entry.path()) : "a folder"));
  std::sort(names.begin(), names.end());
  return names;
}

testing::ShellRun Report(const Names& args) {
  std::ostringstream out, err;
  const int status = RunReportCommand(args, out, err);
  return {status, out.str(), err.str()};
}

class OutputOption : public ::testing::Test {
 protected:
  Names WithLogs(Names args) const {
    for (const char* log : {"/Download Log.txt", "/Upload Log.txt"})
      args.push_back(QUORVANE_EXAMPLES_DIR + std::string(log));
    return args;
  }
  testing::TempDir dir;
};

// In every format the file holds what standard output would have, byte for byte, in place of what
// it held; a new file gets the permissions the umask leaves, a replaced one keeps its own.
TEST_F(OutputOption, TheFileHoldsWhatStandardOutputWouldHave) {
  const fs::path page = dir.Write("report", "an old, longer report than any of these..........");
  for (const char* format : {"text", "csv", "json", "html"}) {
    const testing::ShellRun printed = Report(WithLogs({"--users", "--files", "--format", format}));
    const testing::ShellRun written =
        Report(WithLogs({"--users", "--files", "--format", format, "--output", page.string()}));
    EXPECT_EQ(written.status, 0) << written.err;
    EXPECT_EQ(written.out + written.err, "");
    EXPECT_EQ(Slurp(page), printed.out) << format;
  }
  EXPECT_EQ(Report(WithLogs({"--output", "-"})).out, Report(WithLogs({})).out);

  const mode_t mask = umask(027);
  const fs::path fresh = dir.Path() / "fresh";
  const int status = Report(WithLogs({"--output", fresh.string()})).status;
  const fs::perms made = fs::status(fresh).permissions();
  fs::permissions(fresh, fs::perms(0604));
  Report(WithLogs({"--output=" + fresh.string()}));
  umask(mask);
  EXPECT_EQ(status, 0);
  EXPECT_EQ(made, fs::perms(0640));
  EXPECT_EQ(fs::status(fresh).permissions(), fs::perms(0604));
  EXPECT_EQ(std::distance(fs::directory_iterator(dir.Path()), {}), 2) << "no file left beside them";
}

// A write that cannot be done leaves what was there as it was and nothing beside it, and says why
// in one line.
TEST_F(OutputOption, AFailedWriteChangesNothing) {
  const std::string examples = QUORVANE_EXAMPLES_DIR;
  const fs::path log = dir.Write("Download Log.txt", Slurp(examples + "/Download Log.txt"));
  dir.Write("a file", "kept");
  fs::create_directory(dir.Path() / "a folder");
  dir.Write("a folder/inside", "kept too");
  const std::string report = std::string(QUORVANE_REPORT_BINARY) + " --format html --download '" +
                             log.string() + "' --upload '" + examples +
                             "/Upload Log.txt' --output ";
  // The shell's set-up, the file, and why it cannot be written. The file size limit stands for a
  // full disk: with its signal ignored, a write past it fails half-way.
  const std::tuple<std::string, fs::path, std::string> cases[] = {
      {"", dir.Path() / "missing/page.html", std::strerror(ENOENT)},
      {"", dir.Path() / "a file/page.html", std::strerror(ENOTDIR)},
      {"", dir.Path() / "a folder", std::strerror(EISDIR)},
      {"", log, "it is one of the logs"},
      {"trap '' XFSZ; ulimit -f 1; ", dir.Write("page.html", "the old page"),
       std::strerror(EFBIG)}};
  for (const auto& [setUp, target, reason] : cases) {
    const Names before = Listing(dir.Path());
    const testing::ShellRun run = testing::RunShell(setUp + report + "'" + target.string() + "'");
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.out, "");
    EXPECT_EQ(run.err, "quorvane-report: " + target.string() +
                           ": cannot write the report: " + reason + "\n");
    EXPECT_EQ(Listing(dir.Path()), before);
  }
}

// While another thread replaces the file again and again, every read of it is the whole of one
// text or the other: never a start, never nothing.
TEST(WriteFileAtomically, AReaderSeesAWholeOldOrNewTextOnly) {
  const testing::TempDir dir;
  const fs::path file = dir.Path() / "page.html";
  const std::string texts[2] = {std::string(300000, 'a') + "end", std::string(200000, 'b')};
  ASSERT_EQ(WriteFileAtomically(file, texts[0]), std::nullopt);
  std::atomic<bool> done{false};
  std::thread writer([&] {
    for (int i = 1; i <= 200; ++i)
      EXPECT_EQ(WriteFileAtomically(file, texts[i % 2]), std::nullopt);
    done = true;
  });
  int reads = 0, torn = 0;
  for (; !done; ++reads) {
    const std::string seen = Slurp(file);
    torn += seen != texts[0] && seen != texts[1];
  }
  writer.join();
  EXPECT_EQ(torn, 0) << "of " << reads << " reads";
  EXPECT_GT(reads, 10);
  EXPECT_EQ(Listing(dir.Path()), Names({"page.html: " + texts[0]}));
}

}  // namespace
}  // namespace quorvane
