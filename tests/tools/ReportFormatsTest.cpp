#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

#include "ReportCommand.h"
#include "support/TempLogs.h"

namespace quorvane {
namespace {

class ReportFormats : public ::testing::Test {
 protected:
  // ann uploads "a,b.txt" that bob and "Zoë" fetch; a name with quotes and a comma. Dates in
  // several forms; bob's reads as January 3 unless the order is set to day first.
  std::string Run(std::vector<std::string> args, int expectedStatus = 0) {
    args.push_back(downloads);
    args.push_back(uploads);
    std::ostringstream out, err;
    EXPECT_EQ(RunReportCommand(args, out, err), expectedStatus) << err.str();
    return expectedStatus == 0 ? out.str() : err.str();
  }

  testing::TempDir dir;
  std::string downloads =
      dir.Write("d.txt", testing::LogText({
                             {"1/3/2026 10:00", "1.1.1.1", "c", "bob", "a,b.txt"},
                             {"2026-03-02", "2.2.2.2", "c", "Zo\xC3\xAB", "a,b.txt"},
                             {"March 5, 2026 1:02:03 PM", "3.3.3.3", "c", "ann", "a,b.txt"},
                             {"undated", "4.4.4.4", "c", "say \"hi\", ok", "q"},
                         }))
          .string();
  std::string uploads =
      dir.Write("u.txt",
                testing::LogText({{"2026-02-27 23:59:59", "1.1.1.9", "c", "ann", "a,b.txt"},
                                  {"garbage", "1.1.1.8", "c", "ann", "new\\file"}}))
          .string();
};

TEST_F(ReportFormats, CsvIsTheUsersTableQuotedWhereNeeded) {
  const std::string all =
      "user,downloads,uploads,ratio,credit,addresses,first_seen,last_seen\n"
      "ann,1,2,1/2.00,2,3,2026-02-27 23:59:59,2026-03-05 13:02:03\n"
      "bob,1,0,1.00/0,0,1,2026-03-01 10:00:00,2026-03-01 10:00:00\n"
      "\"say \"\"hi\"\", ok\",1,0,1.00/0,0,1,,\n"
      "Zo\xC3\xAB,1,0,1.00/0,0,1,2026-03-02 00:00:00,2026-03-02 00:00:00\n";
  EXPECT_EQ(Run({"--format", "csv", "--date-order", "dmy"}), all);
  EXPECT_NE(Run({"--users", "--format", "csv"}).find("\nbob,1,0,1.00/0,0,1,2026-01-03 10:00:00,"),
            std::string::npos);
  // Named users only, in the order given, a stranger included.
  EXPECT_EQ(Run({"--format", "csv", "--user", "bob", "--user", "nobody", "--user", "ann"}),
            "user,downloads,uploads,ratio,credit,addresses,first_seen,last_seen\n"
            "bob,1,0,1.00/0,0,1,2026-01-03 10:00:00,2026-01-03 10:00:00\n"
            "nobody,0,0,0/.00,0,0,,\n"
            "ann,1,2,1/2.00,2,3,2026-02-27 23:59:59,2026-03-05 13:02:03\n");
}

TEST_F(ReportFormats, JsonHoldsTotalsAveragesUsersAndReportsInThatOrder) {
  EXPECT_EQ(Run({"--format", "json"}),
            "{\n"
            "  \"totals\": {\"downloads\": 4, \"uploads\": 2, \"ratio\": \"2.00/1\"},\n"
            "  \"averages\": {\"downloads\": \"1.00\", \"uploads\": \"1.00\", \"ratio\": \"1/1\"}\n"
            "}\n");
  const std::string full =
      Run({"--format", "json", "--users", "--user", "ann", "--user", "say \"hi\", ok"});
  EXPECT_NE(full.find("  \"users\": [\n"
                      "    {\"user\": \"ann\", \"downloads\": 1, \"uploads\": 2, \"ratio\": "
                      "\"1/2.00\", \"credit\": 2, \"addresses\": 3, \"first_seen\": \"2026-02-27 "
                      "23:59:59\", \"last_seen\": \"2026-03-05 13:02:03\"},\n"),
            std::string::npos)
      << full;
  EXPECT_NE(full.find("  \"reports\": [\n"
                      "    {\"user\": \"ann\", \"downloads\": 1, \"uploads\": 2, \"ratio\": "
                      "\"1/2.00\", \"uploaded_files\": [\"a,b.txt\", \"new\\\\file\"]},\n"
                      "    {\"user\": \"say \\\"hi\\\", ok\", \"downloads\": 1, \"uploads\": 0, "
                      "\"ratio\": \"1.00/0\", \"uploaded_files\": []}\n"
                      "  ]\n}\n"),
            std::string::npos)
      << full;
  // A name that is not UTF-8 cannot break the document.
  EXPECT_NE(Run({"--format", "json", "--user", "a\xFF\x01"}).find("\"a\xEF\xBF\xBD\\u0001\""),
            std::string::npos);
}

// Every figure over the rows dated in the period; undated rows are counted and left out.
TEST_F(ReportFormats, APeriodTakesOnlyItsDatedRows) {
  EXPECT_EQ(Run({"--users", "--from", "2026-03-01", "--to", "2026-03-02", "--date-order", "dmy"}),
            "Period: 2026-03-01 to 2026-03-02\n"
            "Undated rows left out: 2\n"
            "\n"
            "Total Downloads: 2\n"
            "Total Uploads: 0\n"
            "Total Ratio: 2.00/0\n"
            "Avg. Downloads: 1.00\n"
            "Avg. Uploads: .00\n"
            "Avg. Ratio: 1.00/0\n"
            "\n"
            "Users: 2\n"
            "bob\t1\t0\t1.00/0\n"
            "Zo\xC3\xAB\t1\t0\t1.00/0\n");
  EXPECT_EQ(
      Run({"--format", "json", "--to", "2026-03-02"})
          .rfind(
              "{\n"
              "  \"period\": {\"from\": null, \"to\": \"2026-03-02\", \"undated_left_out\": 2},\n"
              "  \"totals\": {\"downloads\": 2, \"uploads\": 1, \"ratio\": \"2.00/1\"},\n"
              "  \"averages\":",
              0),
      0u);
}

TEST_F(ReportFormats, UnknownFormatsDatesAndOrdersAreUsageErrors) {
  for (const std::vector<std::string>& args :
       std::vector<std::vector<std::string>>{{"--format", "xml"},
                                             {"--format", "CSV"},
                                             {"--format", ""},
                                             {"--from", "2026-02-29"},
                                             {"--to", "2026-3-01"},
                                             {"--from", "2026-03-02", "--to", "2026-03-01"},
                                             {"--date-order", "ymd"}}) {
    const std::string err = Run(args, 2);
    EXPECT_NE(err.find("usage: quorvane-report"), std::string::npos) << args[1];
  }
}

}  // namespace
}  // namespace quorvane
