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
  // ann uploads "a,b.txt" that bob and "Zoë" fetch; a name with quotes and a comma.
  std::string Run(std::vector<std::string> args, int expectedStatus = 0) {
    args.push_back(downloads);
    args.push_back(uploads);
    std::ostringstream out, err;
    EXPECT_EQ(RunReportCommand(args, out, err), expectedStatus) << err.str();
    return expectedStatus == 0 ? out.str() : err.str();
  }

  testing::TempDir dir;
  std::string downloads = dir.Write("d.txt", testing::LogText({
                                                 {"d", "1.1.1.1", "c", "bob", "a,b.txt"},
                                                 {"d", "2.2.2.2", "c", "Zo\xC3\xAB", "a,b.txt"},
                                                 {"d", "3.3.3.3", "c", "ann", "a,b.txt"},
                                                 {"d", "4.4.4.4", "c", "say \"hi\", ok", "q"},
                                             }))
                              .string();
  std::string uploads =
      dir.Write("u.txt", testing::LogText({{"d", "1.1.1.9", "c", "ann", "a,b.txt"},
                                           {"d", "1.1.1.8", "c", "ann", "new\\file"}}))
          .string();
};

TEST_F(ReportFormats, CsvIsTheUsersTableQuotedWhereNeeded) {
  const std::string all =
      "user,downloads,uploads,ratio,credit,addresses\n"
      "ann,1,2,1/2.00,2,3\n"
      "bob,1,0,1.00/0,0,1\n"
      "\"say \"\"hi\"\", ok\",1,0,1.00/0,0,1\n"
      "Zo\xC3\xAB,1,0,1.00/0,0,1\n";
  EXPECT_EQ(Run({"--format", "csv"}), all);
  EXPECT_EQ(Run({"--users", "--format", "csv"}), all);
  // Named users only, in the order given, a stranger included.
  EXPECT_EQ(Run({"--format", "csv", "--user", "bob", "--user", "nobody", "--user", "ann"}),
            "user,downloads,uploads,ratio,credit,addresses\n"
            "bob,1,0,1.00/0,0,1\n"
            "nobody,0,0,0/.00,0,0\n"
            "ann,1,2,1/2.00,2,3\n");
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
                      "\"1/2.00\", \"credit\": 2, \"addresses\": 3},\n"),
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

TEST_F(ReportFormats, AnUnknownFormatIsAUsageError) {
  for (const char* format : {"xml", "CSV", ""}) {
    const std::string err = Run({"--format", format}, 2);
    EXPECT_NE(err.find("usage: quorvane-report"), std::string::npos) << format;
  }
}

}  // namespace
}  // namespace quorvane
