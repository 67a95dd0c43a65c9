#include <gtest/gtest.h>

#include <cstdio>
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

  const Outcome missing = Report({(dir.Path() / "missing.txt").string(), uploads});
  EXPECT_EQ(missing.status, 1);
  EXPECT_EQ(missing.out, "");
  EXPECT_NE(missing.err.find("download log"), std::string::npos);
}

TEST_F(ReportCommandTest, UsageErrorsAndHelp) {
  for (const auto& args : std::vector<std::vector<std::string>>{{},
                                                                {downloads},
                                                                {downloads, uploads, uploads},
                                                                {"--bogus", downloads, uploads},
                                                                {downloads, uploads, "--user"}}) {
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
  const std::string command = std::string("\"") + QUORVANE_REPORT_BINARY + "\" --users \"" +
                              QUORVANE_EXAMPLES_DIR + "/Download Log.txt\" \"" +
                              QUORVANE_EXAMPLES_DIR + "/Upload Log.txt\"";
  std::FILE* pipe = popen(command.c_str(), "r");
  ASSERT_NE(pipe, nullptr);
  std::string out;
  char buffer[4096];
  while (std::size_t got = std::fread(buffer, 1, sizeof buffer, pipe))
    out.append(buffer, got);
  const int status = pclose(pipe);
  EXPECT_EQ(status, 0);
  EXPECT_EQ(out.rfind("Total Downloads: 40\nTotal Uploads: 16\nTotal Ratio: 2.50/1\n", 0), 0u)
      << out;
  EXPECT_NE(out.find("\nUsers: "), std::string::npos);
  EXPECT_NE(out.find("\ntobyk\t"), std::string::npos);
}
#endif

}  // namespace
}  // namespace quorvane
