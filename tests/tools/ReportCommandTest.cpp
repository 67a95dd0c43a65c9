#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <sstream>
#include <string>
#include <vector>

#include "ReportCommand.h"
#include "support/TempLogs.h"

namespace quorvane {
namespace {

using testing::TempDir;

struct Outcome {
  int status;
  std::string out;
  std::string err;
};

Outcome Report(const std::vector<std::string>& args) {
  std::ostringstream out, err;
  const int status = RunReportCommand(args, out, err);
  return {status, out.str(), err.str()};
}

class ReportCommandTest : public ::testing::Test {
 protected:
  TempDir dir;
  std::string downloads =
      dir.Write("Download Log.txt", testing::LogText({
                                        {"d", "1.1.1.1", "c", "ann", "a.zip"},
                                        {"d", "1.1.1.1", "c", "ann", "b.zip"},
                                        {"d", "2.2.2.2", "c", "Bob", "c.zip"},
                                        {"d", "3.3.3.3", "c", "\xC3\xA9mile", "d.zip"},
                                    }))
          .string();
  std::string uploads = dir.Write("Upload Log.txt", testing::LogText({
                                                        {"d", "1.1.1.1", "c", "ann", "up one.txt"},
                                                        {"d", "9.9.9.9", "c", "zed", "z.txt"},
                                                    }))
                            .string();
};

TEST_F(ReportCommandTest, WritesTotalsAveragesUsersAndUserReports) {
  const Outcome run = Report({"--users", "--user", "ann", "--user", "nobody", downloads, uploads});
  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(run.err, "");
  EXPECT_EQ(run.out,
            "Total Downloads: 4\n"
            "Total Uploads: 2\n"
            "Total Ratio: 2.00/1\n"
            "Avg. Downloads: 1.50\n"
            "Avg. Uploads: 1.00\n"
            "Avg. Ratio: 1.50/1\n"
            "\n"
            "Users: 4\n"
            "ann\t2\t1\t2.00/1\n"
            "Bob\t1\t0\t1.00/0\n"
            "zed\t0\t1\t0/1.00\n"
            "\xC3\xA9mile\t1\t0\t1.00/0\n"  // folded case first, then code points: z < é
            "\n"
            "User Name: ann\n"
            "Downloads: 2\n"
            "Uploads: 1\n"
            "Ratio: 2.00/1\n"
            "Upload: up one.txt\n"
            "\n"
            "User Name: nobody\n"
            "Downloads: 0\n"
            "Uploads: 0\n"
            "Ratio: 0/.00\n");
}

TEST_F(ReportCommandTest, BadLogExitsOneWithFileAndLineOnStderrOnly) {
  const std::string bad = dir.Write("bad.txt", "h1\th2\th3\th4\th5\r\nx\ty\r\n").string();
  const Outcome run = Report({downloads, bad});
  EXPECT_EQ(run.status, 1);
  EXPECT_EQ(run.out, "");
  EXPECT_EQ(run.err.rfind("quorvane-report: upload log ", 0), 0u) << run.err;
  EXPECT_NE(run.err.find(bad), std::string::npos);
  EXPECT_NE(run.err.find("line 2"), std::string::npos);
  EXPECT_EQ(std::count(run.err.begin(), run.err.end(), '\n'), 1);

  // A file name that would break the line is written escaped.
  const std::string odd = (dir.Path() / "two\nlines\\.txt").string();
  const Outcome missing = Report({odd, uploads});
  EXPECT_EQ(missing.status, 1);
  EXPECT_EQ(missing.out, "");
  EXPECT_EQ(missing.err,
            "quorvane-report: download log " + dir.Path().string() +
                "/two\\nlines\\\\.txt: cannot open the file: " + std::strerror(ENOENT) + "\n");
}

TEST_F(ReportCommandTest, TextOutputEscapesControlCharactersBackslashesAndInvalidUtf8) {
  const std::string odd = dir.Write("odd.txt", testing::LogText({
                                                   {"d", "1.1.1.1", "c", "two\nlines", "a\x1B[1m"},
                                                   {"d", "2.2.2.2", "c", "back\\slash", "b"},
                                               }))
                              .string();
  // "-h" is the value of --user here, not a request for help.
  const Outcome run =
      Report({"--users", "--user", "two\nlines", "--user", "-h", "--user", "\xFF\x01", odd, odd});
  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(run.out.substr(run.out.find("\nUsers:")),
            "\nUsers: 2\n"
            "back\\\\slash\t1\t1\t1/1\n"
            "two\\nlines\t1\t1\t1/1\n"
            "\nUser Name: two\\nlines\nDownloads: 1\nUploads: 1\nRatio: 1/1\nUpload: a\\x1B[1m\n"
            "\nUser Name: -h\nDownloads: 0\nUploads: 0\nRatio: 0/.00\n"
            "\nUser Name: \xEF\xBF\xBD\\x01\nDownloads: 0\nUploads: 0\nRatio: 0/.00\n");
}

TEST_F(ReportCommandTest, EncodingOptionDecidesHowTheLogsAreRead) {
  const std::string latin =
      dir.Write("latin.txt", testing::LogText({{"d", "1.1.1.1", "c", "M\x9Fller", "f"}})).string();
  const Outcome macRoman = Report({"--users", "--encoding=mac-roman", latin, latin});
  EXPECT_NE(macRoman.out.find("\nM\xC3\xBCller\t1\t1\t"), std::string::npos) << macRoman.out;
  const Outcome utf8 = Report({"--encoding", "utf-8", downloads, latin});
  EXPECT_EQ(utf8.status, 1);
  EXPECT_NE(utf8.err.find("upload log " + latin + ": line 2: the line is not valid UTF-8"),
            std::string::npos)
      << utf8.err;
}

TEST_F(ReportCommandTest, UsageErrorsAndHelp) {
  for (const auto& args :
       std::vector<std::vector<std::string>>{{},
                                             {downloads},
                                             {downloads, uploads, uploads},
                                             {"--bogus", downloads, uploads},
                                             {downloads, uploads, "--user"},
                                             {"--encoding", "latin-9", downloads, uploads}}) {
    const Outcome run = Report(args);
    EXPECT_EQ(run.status, 2);
    EXPECT_EQ(run.out, "");
    EXPECT_NE(run.err.find("usage: quorvane-report"), std::string::npos);
  }
  const Outcome help = Report({"--help"});
  EXPECT_EQ(help.status, 0);
  EXPECT_EQ(help.out.rfind("usage: quorvane-report", 0), 0u);
  EXPECT_EQ(help.err, "");
}

#ifdef QUORVANE_REPORT_BINARY
TEST(ReportBinary, RunsOnTheSampleLogs) {
  const testing::ShellRun run = testing::RunShell(
      std::string("'") + QUORVANE_REPORT_BINARY + "' --users '" + QUORVANE_EXAMPLES_DIR +
      "/Download Log.txt' '" + QUORVANE_EXAMPLES_DIR + "/Upload Log.txt'");
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(run.out.rfind("Total Downloads: 40\nTotal Uploads: 16\nTotal Ratio: 2.50/1\n", 0), 0u)
      << run.out;
  EXPECT_NE(run.out.find("\nUsers: "), std::string::npos);
  EXPECT_NE(run.out.find("\ntobyk\t"), std::string::npos);
}

TEST(ReportBinary, AFailedWriteIsAFailure) {
  const std::string report = std::string("'") + QUORVANE_REPORT_BINARY + "' ";
  const std::string logs = std::string(" '") + QUORVANE_EXAMPLES_DIR + "/Download Log.txt' '" +
                           QUORVANE_EXAMPLES_DIR + "/Upload Log.txt'";
  for (const std::string& command :
       {report + "--users" + logs + " > /dev/full", report + "--help > /dev/full",
        report + "--users" + logs + " >&-"}) {
    const testing::ShellRun run = testing::RunShell(command);
    EXPECT_EQ(run.status, 1) << command;
    EXPECT_EQ(run.err.rfind("quorvane-report: cannot write the report: ", 0), 0u)
        << command << run.err;
    EXPECT_EQ(std::count(run.err.begin(), run.err.end(), '\n'), 1) << command;
  }
}
#endif

}  // namespace
}  // namespace quorvane
