#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <locale>

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
      dir.Write("Download Log.txt",
                testing::LogText({{"d", "1.1.1.1", "c", "ann", "a.zip"},
                                  {"d", "1.1.1.1", "c", "ann", "b.zip"},
                                  {"d", "2.2.2.2", "c", "Bob", "c.zip"},
                                  {"d", "3.3.3.3", "c", "\xC3\xA9mile", "d.zip"}}))
          .string();
  std::string uploads =
      dir.Write("Upload Log.txt", testing::LogText({{"d", "1.1.1.1", "c", "ann", "up one.txt"},
                                                    {"d", "9.9.9.9", "c", "zed", "z.txt"}}))
          .string();
};

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

// Every user of the list in display order with their own downloads and uploads.
TEST_F(ReportCommandTest, UsersListsEachUsersCounts) {
  const Outcome run = Report({"--users", downloads, uploads});
  EXPECT_EQ(run.out.substr(run.out.find("\nUsers:")),
            "\nUsers: 4\nann\t2\t1\t2.00/1\nBob\t1\t0\t1.00/0\nzed\t0\t1\t0/1.00\n"
            "\xC3\xA9mile\t1\t0\t1.00/0\n");
}

// --top N: the most downloads first, equals in display order, cut at N (more than there are: all).
TEST_F(ReportCommandTest, TopKeepsTheUsersWithTheMostDownloads) {
  const std::string top = Report({"--users", "--top", "3", downloads, uploads}).out;
  EXPECT_EQ(top.substr(top.find("\nUsers:")),
            "\nUsers: 3\nann\t2\t1\t2.00/1\nBob\t1\t0\t1.00/0\n\xC3\xA9mile\t1\t0\t1.00/0\n");
  EXPECT_EQ(
      Report({"--format", "csv", "--top=1", "--user", "zed", "--user", "Bob", downloads, uploads})
          .out,
      "user,downloads,uploads,ratio,credit,addresses,first_seen,last_seen\n"
      "Bob,1,0,1.00/0,0,1,,\n");
  const Outcome all = Report({"--users", "--files", "--top", "99", downloads, uploads});
  EXPECT_EQ(all.out.substr(all.out.find("\nFiles:")),
            "\nFiles: 6\na.zip\t1\t1\t0\t\nb.zip\t1\t1\t0\t\nc.zip\t1\t1\t0\t\n"
            "d.zip\t1\t1\t0\t\nup one.txt\t0\t0\t1\tann\nz.txt\t0\t0\t1\tzed\n");
}

TEST_F(ReportCommandTest, TextOutputEscapesControlCharactersBackslashesAndInvalidUtf8) {
  const std::string rows = testing::LogText(
      {{"d", "1.1.1.1", "c", "two\nlines", "a\x1B[1m"}, {"d", "2.2.2.2", "c", "back\\slash", "b"}});
  const std::string odd = dir.Write("odd.txt", rows).string();
  // One file as both logs is refused, whatever the name it goes by the second time.
  const std::string again = (dir.Path() / "." / "odd.txt").string();
  const Outcome both = Report({"--download", odd, "--upload", again});
  EXPECT_EQ(both.status, 1);
  EXPECT_EQ(both.err,
            "quorvane-report: " + again + ": given as both a download log and an upload log\n");
  // "-h" is the value of --user here, not a request for help.
  const Outcome run = Report({"--users", "--user", "two\nlines", "--user", "-h", "--user",
                              "\xFF\x01", odd, dir.Write("odd up.txt", rows).string()});
  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(run.out.substr(run.out.find("\nUsers:")),
            "\nUsers: 2\n"
            "back\\\\slash\t1\t1\t1/1\n"
            "two\\nlines\t1\t1\t1/1\n"
            "\nUser Name: two\\nlines\nDownloads: 1\nUploads: 1\nRatio: 1/1\nUpload: a\\x1B[1m\n"
            "\nUser Name: -h\nDownloads: 0\nUploads: 0\nRatio: 0/.00\n"
            "\nUser Name: \xEF\xBF\xBD\\x01\nDownloads: 0\nUploads: 0\nRatio: 0/.00\n");
}

// Status 2, nothing on stdout and the usage on stderr; --help alone succeeds.
TEST_F(ReportCommandTest, UsageErrorsAndHelp) {
  using Args = std::vector<std::string>;
  // clang-format off
  const std::vector<Args> wrong = {
      {"--bogus"}, {"--encoding", "latin-9"}, {"--format", "CSV"}, {"--format", ""},
      {"--from", "2026-02-29"}, {"--to", "2026-3-01"}, {"--from", "2026-03-02", "--to", "2026-03-01"},
      {"--date-order", "ymd"}, {uploads}, {"--user"}, {"--top", "0"}, {"--top", "-1"},
      {"--top", "+2"}, {"--top", "2x"}, {"--top", ""}, {"--top", "18446744073709551616"},
      {"--format", "HTML"}};
  // clang-format on
  for (const Args& options : wrong) {
    Args args = {downloads};
    args.insert(args.end(), options.begin(), options.end());
    if (options[0] != "--user")
      args.push_back(uploads);
    const Outcome run = Report(args);
    EXPECT_EQ(run.status, 2) << options[0];
    EXPECT_EQ(run.out, "");
    EXPECT_NE(run.err.find("usage: quorvane-report"), std::string::npos);
  }
  EXPECT_EQ(Report({downloads}).status, 2);
  const Outcome help = Report({"--help"});
  EXPECT_EQ(help.status, 0);
  EXPECT_EQ(help.out.rfind("usage: quorvane-report", 0), 0u);
  EXPECT_EQ(help.err, "");
  const Outcome version = Report({downloads, "--version"});
  EXPECT_EQ(version.status, 0);
  EXPECT_EQ(version.out, "Quorvane " QUORVANE_VERSION "\n");
  EXPECT_EQ(Report({"--user", "--version", downloads, uploads}).out.find("Quorvane"),
            std::string::npos)
      << "a value, not a request for the version";
}

// --opt=value and --opt value are one; a repeated option's last value counts; after -- every
// argument is a log, whatever it looks like.
TEST_F(ReportCommandTest, OptionSyntaxBeyondTheHappyPath) {
  using Args = std::vector<std::string>;
  const std::vector<std::pair<Args, Args>> same = {
      {{"--top=2", "--users"}, {"--users", "--top", "2"}},
      {{"--format=csv"}, {"--format", "csv"}},
      {{"--format", "json", "--format", "csv"}, {"--format", "csv"}},
      {{"--date-order=dmy", "--format=json"}, {"--date-order", "dmy", "--format", "json"}},
      {{"--from=0001-01-01", "--to=9999-12-31"}, {"--from", "0001-01-01", "--to", "9999-12-31"}},
      {{"--user=ann", "--user="}, {"--user", "ann", "--user", ""}},
      {{"--encoding=utf-8", "--files"}, {"--files", "--encoding", "utf-8"}}};
  for (const auto& [a, b] : same) {
    Args first = a, second = b;
    first.insert(first.end(), {downloads, uploads});
    second.insert(second.begin(), {"--download=" + downloads, "--upload", uploads});
    const Outcome one = Report(first), other = Report(second);
    EXPECT_EQ(one.status, 0) << a[0] << one.err;
    EXPECT_EQ(one.out, other.out) << a[0];
  }
  // Each option that takes a value, given none at the end; values and flags given the other way.
  for (const char* option : {"--user", "--encoding", "--format", "--from", "--to", "--date-order",
                             "--top", "--download", "--upload", "--log", "--output"}) {
    const Outcome run = Report({downloads, uploads, option});
    EXPECT_EQ(run.status, 2) << option;
    EXPECT_EQ(run.err.rfind(std::string("quorvane-report: ") + option + " needs a value\n", 0), 0u)
        << run.err;
  }
  for (const char* wrong :
       {"--top=", "--format=", "--output=", "--users=yes", "--follow=1", "-x", "--to=2026-02-30",
        "--from=2026-02-29", "--top=0", "--top=1.5", "--date-order=DMY"}) {
    const Outcome run = Report({downloads, uploads, wrong});
    EXPECT_EQ(run.status, 2) << wrong;
    EXPECT_EQ(run.out, "") << wrong;
  }
  // --top at, just under and just over the number of users (four).
  for (const auto& [top, shown] : {std::pair{"3", "3"}, {"4", "4"}, {"5", "4"}}) {
    const std::string out = Report({"--users", "--top", top, downloads, uploads}).out;
    EXPECT_NE(out.find(std::string("\nUsers: ") + shown + "\n"), std::string::npos) << top;
    // JSON's users are every user, cut alike, whoever has a report.
    const std::string json = Report({"--format=json", "--users", "--user", "zed",
                                     "--top=" + std::string(top), downloads, uploads})
                                 .out;
    EXPECT_EQ(std::to_string(std::count(json.begin(), json.end(), '{') - 6), shown) << top;
  }
#ifdef QUORVANE_REPORT_BINARY
  // Logs named like options, in the current folder: only after -- are they logs.
  dir.Write("-d.txt", testing::LogText({{"d", "1.1.1.1", "c", "dash", "f"}}));
  dir.Write("--help", testing::LogText({{"d", "2.2.2.2", "c", "helper", "g"}}));
  const std::string cd = "cd '" + dir.Path().string() + "' && '" + QUORVANE_REPORT_BINARY + "' ";
  const testing::ShellRun files = testing::RunShell(cd + "--users -- -d.txt --help");
  EXPECT_EQ(files.status, 0) << files.err;
  EXPECT_NE(files.out.find("\nUsers: 2\ndash\t1\t0\t1.00/0\nhelper\t0\t1\t0/1.00\n"),
            std::string::npos)
      << files.out;
  EXPECT_EQ(testing::RunShell(cd + "--users -d.txt -- --help").status, 2);
  EXPECT_EQ(testing::RunShell(cd + "--users -- -d.txt - < /dev/null").status, 1) << "- is stdin";
#endif
}

// A user whose every row came from an address someone else used first is a user all the same,
// in every format: sam only ever shared ann's address, "" wrote no name, and eve only uploaded.
TEST_F(ReportCommandTest, EveryNameOnARowIsAUserWhateverItsAddress) {
  const std::string shared =
      dir.Write("shared.txt", testing::LogText({{"d", "1.1.1.1", "c", "ann", "a"},
                                                {"d", "1.1.1.1", "c", "sam", "b"},
                                                {"d", "1.1.1.1", "c", "", "c"},
                                                {"d", "", "c", "sam", "d"}}))
          .string();
  const std::string up = dir.Write("up.txt", testing::LogText({{"d", "2.2.2.2", "c", "ann", "u"},
                                                               {"d", "2.2.2.2", "c", "eve", "v"}}))
                             .string();
  const Outcome text = Report({"--users", shared, up});
  EXPECT_EQ(text.out.substr(text.out.find("\nUsers:")),
            "\nUsers: 4\n\t1\t0\t1.00/0\nann\t1\t1\t1/1\neve\t0\t1\t0/1.00\n"
            "sam\t2\t0\t2.00/0\n");
  EXPECT_EQ(Report({"--format", "csv", shared, up}).out,
            "user,downloads,uploads,ratio,credit,addresses,first_seen,last_seen\n"
            ",1,0,1.00/0,0,1,,\nann,1,1,1/1,0,2,,\neve,0,1,0/1.00,0,1,,\n"
            "sam,2,0,2.00/0,0,2,,\n");
  const std::string json = Report({"--format", "json", "--users", shared, up}).out;
  for (const char* user : {"\"\"", "\"ann\"", "\"eve\"", "\"sam\""})
    EXPECT_NE(json.find(std::string("{\"user\": ") + user), std::string::npos) << user;
  // --top and the page take them too.
  const Outcome top = Report({"--users", "--top", "1", shared, up});
  EXPECT_EQ(top.out.substr(top.out.find("\nUsers:")), "\nUsers: 1\nsam\t2\t0\t2.00/0\n");
  const std::string page = Report({"--format", "html", shared, up}).out;
  EXPECT_NE(page.find("<tr><td class=\"w\">sam</td><td class=\"n\">2</td>"), std::string::npos);
  EXPECT_NE(page.find("<h2>Users: 4</h2>"), std::string::npos);
}

class ReportFormats : public ::testing::Test {
 protected:
  // ann uploads "a,b.txt" that bob and "Zoë" fetch; a name with quotes and a comma. Dates in
  // several forms; bob's reads as January 3 unless the order is set to day first.
  std::string Run(std::vector<std::string> args) {
    args.push_back(downloads);
    args.push_back(uploads);
    std::ostringstream out, err;
    EXPECT_EQ(RunReportCommand(args, out, err), 0) << err.str();
    return out.str();
  }

  // The "sources" member the pair gives.
  std::string Sources() const {
    return "  \"sources\": [\n    {\"file\": \"" + downloads +
           "\", \"format\": \"classic-download\", \"compressed\": false, \"downloads\": 4, "
           "\"uploads\": 0, \"overlap_left_out\": 0, \"unreadable_lines\": []},\n    {\"file\": "
           "\"" +
           uploads +
           "\", \"format\": \"classic-upload\", \"compressed\": false, \"downloads\": 0, "
           "\"uploads\": 2, \"overlap_left_out\": 0, \"unreadable_lines\": []}\n  ],\n";
  }

  testing::TempDir dir;
  std::string downloads =
      dir.Write("d.txt",
                testing::LogText({{"1/3/2026 10:00", "1.1.1.1", "c", "bob", "a,b.txt"},
                                  {"2026-03-02", "2.2.2.2", "c", "Zo\xC3\xAB", "a,b.txt"},
                                  {"March 5, 2026 1:02:03 PM", "3.3.3.3", "c", "ann", "a,b.txt"},
                                  {"undated", "4.4.4.4", "c", "say \"hi\", ok", "q"}}))
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
  // Named users only, in the order given, a stranger included.
  EXPECT_EQ(Run({"--format", "csv", "--user", "bob", "--user", "no,body", "--user", "ann"}),
            "user,downloads,uploads,ratio,credit,addresses,first_seen,last_seen\n"
            "bob,1,0,1.00/0,0,1,2026-01-03 10:00:00,2026-01-03 10:00:00\n"
            "\"no,body\",0,0,0/.00,0,0,,\n"
            "ann,1,2,1/2.00,2,3,2026-02-27 23:59:59,2026-03-05 13:02:03\n");
  // A name typed that is not UTF-8 is written as JSON and the text report write it.
  EXPECT_EQ(Run({"--format", "csv", "--user", "a\xFF,"}).substr(67, 8), "\"a\xEF\xBF\xBD,\",");
}

// An order set by hand that leaves dated rows undated says how many, once, on standard error; the
// report is that order's. The log's own order says nothing.
TEST_F(ReportFormats, ADateOrderThatLeavesRowsUndatedSaysHowMany) {
  const std::string dayFirst =
      dir.Write("dmy.txt", testing::LogText({{"25/12/2025 10:00", "1.1.1.1", "c", "ann", "f"},
                                             {"13/1/2026 10:00", "1.1.1.2", "c", "bob", "f"},
                                             {"3/4/2026 10:00", "1.1.1.3", "c", "cy", "f"},
                                             {"undated", "1.1.1.4", "c", "dee", "f"}}))
          .string();
  for (const auto& [order, said] :
       {std::pair{"mdy",
                  "quorvane-report: 2 dated rows do not read with --date-order mdy (they "
                  "read dmy) and count as undated\n"},
        {"dmy", ""}}) {
    const Outcome run = Report({"--format", "csv", "--date-order", order, dayFirst, uploads});
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.err, said) << order;
    EXPECT_EQ(run.out.find("\nbob,1,0,1.00/0,0,1,,\n") != std::string::npos,
              std::string(order) == "mdy")
        << run.out;
  }
}

TEST_F(ReportFormats, JsonHoldsTotalsAveragesUsersAndReportsInThatOrder) {
  EXPECT_EQ(
      Run({"--format", "json"}),
      "{\n" + Sources() +
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

// The files table: most fetched first, then by text; a file only uploaded, an undated one.
TEST_F(ReportFormats, FilesInEveryFormat) {
  EXPECT_EQ(Run({"--format", "csv", "--files", "--users"}),
            "file,downloads,downloaders,uploads,first_uploader,first_download,last_download\n"
            "\"a,b.txt\",3,3,1,ann,2026-01-03 10:00:00,2026-03-05 13:02:03\n"
            "q,1,1,0,,,\n"
            "new\\file,0,0,1,ann,,\n");
  const std::string text = Run({"--files", "--users", "--user", "bob"});
  EXPECT_NE(text.find("\xC3\xAB\t1\t0\t1.00/0\n"
                      "\nFiles: 3\na,b.txt\t3\t3\t1\tann\nq\t1\t1\t0\t\nnew\\\\file\t0\t0\t1\tann\n"
                      "\nUser Name: bob\n"),
            std::string::npos)
      << text;
  const std::string files =
      "  \"files\": [\n"
      "    {\"file\": \"a,b.txt\", \"downloads\": 3, \"downloaders\": 3, \"uploads\": 1, "
      "\"first_uploader\": \"ann\", \"first_download\": \"2026-01-03 10:00:00\", "
      "\"last_download\": \"2026-03-05 13:02:03\"},\n"
      "    {\"file\": \"q\", \"downloads\": 1, \"downloaders\": 1, \"uploads\": 0, "
      "\"first_uploader\": \"\", \"first_download\": null, \"last_download\": null},\n"
      "    {\"file\": \"new\\\\file\", \"downloads\": 0, \"downloaders\": 0, \"uploads\": 1, "
      "\"first_uploader\": \"ann\", \"first_download\": null, \"last_download\": null}\n"
      "  ]";
  const std::string json = Run({"--format", "json", "--files", "--users", "--user", "ann"});
  EXPECT_NE(json.find("}\n  ],\n" + files + ",\n  \"reports\": ["), std::string::npos) << json;
  EXPECT_NE(Run({"--format", "json", "--files"}).find("\"ratio\": \"1/1\"},\n" + files + "\n}\n"),
            std::string::npos);
  EXPECT_EQ(Run({"--format", "csv", "--files", "--top", "1"}),
            "file,downloads,downloaders,uploads,first_uploader,first_download,last_download\n"
            "\"a,b.txt\",3,3,1,ann,2026-01-03 10:00:00,2026-03-05 13:02:03\n");
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
              "  \"period\": {\"from\": null, \"to\": \"2026-03-02\", \"undated_left_out\": 2},\n" +
                  Sources() +
                  "  \"totals\": {\"downloads\": 2, \"uploads\": 1, \"ratio\": \"2.00/1\"},\n"
                  "  \"averages\":",
              0),
      0u);
  // One day is a period too.
  EXPECT_NE(Run({"--from", "2026-03-02", "--to", "2026-03-02"}).find("\nTotal Downloads: 1\n"),
            std::string::npos);
}

// Server logs and several files: usage, the kind of file each option takes, the lines about
// rows left out, "sources".
TEST_F(ReportCommandTest, TakesServerLogsAndSeveralFiles) {
  for (const std::vector<std::string>& args : {std::vector<std::string>{},
                                               {"--users"},
                                               {downloads, uploads, downloads},
                                               {"--log"},
                                               {"--log", "-", "--download", "-"},
                                               {"--log", downloads}}) {
    const Outcome run = Report(args);
    EXPECT_EQ(run.status, args.size() == 2 ? 1 : 2) << args.size();
    EXPECT_EQ(run.out, "");
  }
  // The transfer equals the download log's first row, which is undated like it: the shorter
  // part comes first and the longer one's repeat of it is left out.
  const std::string record = "level=INFO msg=";
  std::string log = "time=2025-03-14T21:07:45Z " + record + "Started\ntime=d " + record +
                    "\"Download file\" remoteAddr=1.1.1.1:7 login=c Name=ann filePath=a.zip\n";
  for (int line = 3; line <= 13; ++line)
    log += "time=d " + record + "\"File upload complete\" dstFile=\"open\n";
  const std::string server = dir.Write("mobius.log", log).string();
  EXPECT_EQ(Report({"--upload", server}).err,
            "quorvane-report: " + server + ": this is a server log; give it with --log\n");
  EXPECT_EQ(Report({"--log", downloads}).err,
            "quorvane-report: " + downloads +
                ": not a server log; give a download or upload log with --download or --upload\n");

  const Outcome run = Report({"--format", "json", "--log", server, downloads, uploads});
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(run.err, "quorvane-report: " + server +
                         ": 11 transfer lines could not be read (lines 3, 4, 5, 6, 7, 8, 9, 10, "
                         "11, 12\xE2\x80\xA6)\nquorvane-report: " +
                         downloads + ": 1 row already read from another file left out\n");
  EXPECT_EQ(
      run.out.substr(0, run.out.find("  \"totals\"")),
      "{\n  \"sources\": [\n    {\"file\": \"" + server +
          "\", \"format\": \"mobius\", \"compressed\": false, \"downloads\": 1, "
          "\"uploads\": 0, \"overlap_left_out\": 0, \"unreadable_lines\": [3, 4, 5, 6, 7, "
          "8, 9, 10, 11, 12, 13]},\n    {\"file\": \"" +
          downloads +
          "\", \"format\": \"classic-download\", \"compressed\": false, \"downloads\": 3, "
          "\"uploads\": 0, \"overlap_left_out\": 1, \"unreadable_lines\": []},\n    {\"file\": "
          "\"" +
          uploads +
          "\", \"format\": \"classic-upload\", \"compressed\": false, \"downloads\": 0, "
          "\"uploads\": 2, \"overlap_left_out\": 0, \"unreadable_lines\": []}\n  ],\n");
  // Ten lines are all named, with no ellipsis.
  std::string ten = "time=2025-03-14T21:07:45Z " + record + "Started\n";
  for (int line = 2; line <= 11; ++line)
    ten += "time=d " + record + "\"File upload complete\" dstFile=\"open\n";
  const std::string tenLog = dir.Write("ten.log", ten).string();
  EXPECT_EQ(Report({"--log", tenLog}).err,
            "quorvane-report: " + tenLog +
                ": 10 transfer lines could not be read (lines 2, 3, 4, 5, 6, 7, 8, 9, 10, 11)\n");
}

// Every number of every format is the same under a German locale (a decimal comma) as under C:
// the report never takes the process's locale.
TEST(ReportLocale, NumbersDoNotFollowTheProcessLocale) {
  const testing::TempDir dir;
  const std::filesystem::path locales = dir.Path() / "locales";
  std::filesystem::create_directory(locales);
  if (testing::RunShell("localedef -i de_DE -f UTF-8 '" + (locales / "de_DE.UTF-8").string() + "'")
          .status != 0)
    GTEST_SKIP() << "localedef cannot make de_DE.UTF-8";
  const std::string examples = QUORVANE_EXAMPLES_DIR;
  const auto all = [&] {
    std::string out;
    for (const char* format : {"text", "csv", "json", "html"}) {
      out += Report({"--users", "--files", "--user", "joe32", "--format", format,
                     examples + "/Download Log.txt", examples + "/Upload Log.txt"})
                 .out;
    }
    return out;
  };
  const std::string inC = all();
  setenv("LOCPATH", locales.c_str(), 1);
  std::locale::global(std::locale("de_DE.UTF-8"));
  char number[16];
  std::snprintf(number, sizeof number, "%.2f", 1.5);
  const std::string german = all();
  std::locale::global(std::locale::classic());
  unsetenv("LOCPATH");
  ASSERT_STREQ(number, "1,50");
  EXPECT_EQ(german, inC);
  EXPECT_NE(inC.find(".00"), std::string::npos);
}

#ifdef QUORVANE_REPORT_BINARY
// The journal through a pipe, as its README shows; standard input is named "-".
TEST(ReportBinary, ReadsAServerLogFromStandardInput) {
  const std::string report = std::string("'") + QUORVANE_REPORT_BINARY + "' ";
  const testing::ShellRun run = testing::RunShell(
      "printf 'Mar 14 21:07:45 host mobius-hotline-server[812]: time=2025-03-14T21:07:45-07:00 "
      "level=INFO msg=\"Download file\" remoteAddr=203.0.113.5:51234 login=guest Name=Alice "
      "filePath=/srv/a.sit\\n' | " +
      report + "--users --log - --format csv");
  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(run.out,
            "user,downloads,uploads,ratio,credit,addresses,first_seen,last_seen\n"
            "Alice,1,0,1.00/0,0,1,2025-03-14 21:07:45,2025-03-14 21:07:45\n");
  const testing::ShellRun closed = testing::RunShell(report + "--log - <&-");
  EXPECT_EQ(closed.status, 1);
  EXPECT_EQ(closed.err.rfind("quorvane-report: server log -: ", 0), 0u) << closed.err;
}

// A server log holds no byte from its rotation until its next line: given as a server log, such
// a file (alone, beside its backup, packed, or standard input, followed or not) has no transfers.
// Blank lines, junk, and an empty classic log fail as before.
TEST(ReportBinary, AnEmptyFileIsAServerLogWithNoTransfers) {
  const testing::TempDir dir;
  const auto file = [&](const char* name, std::string_view bytes) {
    return dir.Write(name, bytes).string();
  };
  const std::string empty = file("mobius.log", ""), blank = file("blank.log", "\n\r\n\n"),
                    junk = file("junk.log", std::string("\x01\xFE\0\x7F", 4)),
                    packed =
                        file("old.log.gz",
                             std::string("\x1F\x8B\x08\0\0\0\0\0\0\x03\x03\0\0\0\0\0\0\0\0\0", 20)),
                    up = file("up.txt", testing::LogText({{"d", "1.1.1.1", "c", "ann", "f"}})),
                    backup = file("mobius-2025-03-14T04-07-45.000.log",
                                  "time=2025-03-14T21:07:45Z level=INFO msg=\"Download file\" "
                                  "remoteAddr=10.0.0.1:5 login=guest Name=ann filePath=/srv/a\n");
  const std::string none = "\"totals\": {\"downloads\": 0, \"uploads\": 0, \"ratio\": \"0/.00\"}";
  const std::string notServer =
      ": not a server log; give a download or upload log with --download or --upload\n";
  // The arguments, the exit status, and what it wrote: its totals, or its one line on stderr.
  const std::tuple<std::string, int, std::string> cases[] = {
      {"--log " + empty, 0, none},
      {"--log " + empty + " --log " + backup, 0, "\"totals\": {\"downloads\": 1, \"uploads\": 0"},
      {"--log " + packed, 0, none},
      {"--log - < /dev/null", 0, none},
      {"--follow --log - < /dev/null", 0, none},
      {"--log " + blank, 1, "quorvane-report: " + blank + notServer},
      {"--log " + junk, 1, "quorvane-report: " + junk + notServer},
      {"--download " + empty + " --upload " + up, 1,
       "quorvane-report: download log " + empty +
           ": line 1: there is no header line (the file is empty or its first line is empty)\n"}};
  for (const auto& [args, status, said] : cases) {
    const testing::ShellRun run =
        testing::RunShell(std::string(QUORVANE_REPORT_BINARY) + " --format json " + args);
    EXPECT_EQ(run.status, status) << args << run.err;
    EXPECT_NE((status == 0 ? run.out : run.err).find(said), std::string::npos) << args << run.err;
    EXPECT_EQ(run.err.empty(), status == 0) << args;
  }
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
