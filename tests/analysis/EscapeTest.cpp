// Every kind of character, alone and all at once, in a name, a file name and a path, through every
// output format: the text report, CSV, JSON and the HTML page. The expected texts are written from
// the formats' own rules (RFC 4180, RFC 8259, HTML's character references), not from our writers.
#include <gtest/gtest.h>

#include "analysis/Report.h"

namespace quorvane {
namespace {

struct Escape {
  std::string name;
  std::string text;      // the text report: \r \n \t \xNN \\, U+FFFD for bytes not UTF-8
  std::string csvInner;  // CSV: the field's text, quotes doubled
  bool csvQuoted;        // CSV: quoted for a comma, quote, CR or LF
  std::string json;      // inside the quotes of a JSON string
  std::string html;      // element text
};

const std::string kBad = "\xEF\xBF\xBD";  // U+FFFD

// clang-format off
const std::vector<Escape> kEscapes = {
    {"ann", "ann", "ann", false, "ann", "ann"},
    {"a\\b", "a\\\\b", "a\\b", false, "a\\\\b", "a\\b"},
    {"a\rb", "a\\rb", "a\rb", true, "a\\rb", "a&#13;b"},
    {"a\nb", "a\\nb", "a\nb", true, "a\\nb", "a\nb"},
    {"a\tb", "a\\tb", "a\tb", false, "a\\tb", "a\tb"},
    {"a\x01" "b", "a\\x01b", "a\x01" "b", false, "a\\u0001b", "a&#1;b"},
    {"a\x1F" "b", "a\\x1Fb", "a\x1F" "b", false, "a\\u001fb", "a&#31;b"},
    {"a\x1B[1m", "a\\x1B[1m", "a\x1B[1m", false, "a\\u001b[1m", "a&#27;[1m"},
    {"a\x7F" "b", "a\x7F" "b", "a\x7F" "b", false, "a\x7F" "b", "a&#127;b"},
    {std::string("a\0b", 3), "a\\x00b", std::string("a\0b", 3), false, "a\\u0000b", "a&#65533;b"},
    {"a\"b", "a\"b", "a\"\"b", true, "a\\\"b", "a&quot;b"},
    {"a,b", "a,b", "a,b", true, "a,b", "a,b"},
    {"a'b", "a'b", "a'b", false, "a'b", "a&#39;b"},
    {"<a>&b", "<a>&b", "<a>&b", false, "<a>&b", "&lt;a&gt;&amp;b"},
    {"/x\\/", "/x\\\\/", "/x\\/", false, "/x\\\\/", "/x\\/"},
    // Bytes that are not UTF-8: each one that starts no valid sequence is one U+FFFD.
    {"a\xFF", "a" + kBad, "a" + kBad, false, "a" + kBad, "a" + kBad},
    {"a\xC3", "a" + kBad, "a" + kBad, false, "a" + kBad, "a" + kBad},
    {"\xC0\xAF", kBad + kBad, kBad + kBad, false, kBad + kBad, kBad + kBad},
    {"\xED\xA0\x80", kBad + kBad + kBad, kBad + kBad + kBad, false, kBad + kBad + kBad,
     kBad + kBad + kBad},
    {"\xF5\x80\x80\x80" "!", kBad + kBad + kBad + kBad + "!", kBad + kBad + kBad + kBad + "!", false,
     kBad + kBad + kBad + kBad + "!", kBad + kBad + kBad + kBad + "!"},
    // Valid text beyond ASCII passes as it is, the line and paragraph separators too.
    {"\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80\xE2\x80\xA8", "\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80\xE2\x80\xA8",
     "\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80\xE2\x80\xA8", false,
     "\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80\xE2\x80\xA8", "\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80\xE2\x80\xA8"}};
// clang-format on

// Every case alone, then all of them in one name.
std::vector<Escape> Cases() {
  std::vector<Escape> cases = kEscapes;
  Escape all{"", "", "", false, "", ""};
  for (const Escape& e : kEscapes) {
    all.name += e.name, all.text += e.text, all.csvInner += e.csvInner, all.json += e.json;
    all.html += e.html;
    all.csvQuoted = all.csvQuoted || e.csvQuoted;
  }
  cases.push_back(all);
  return cases;
}

TEST(Escapes, EveryFormatWritesEveryKindOfCharacterByItsRules) {
  for (const Escape& e : Cases()) {
    const std::string csv = e.csvQuoted ? "\"" + e.csvInner + "\"" : e.csvInner;
    const std::string label = "case " + e.text;
    Report report;
    report.users = {{{e.name, 0, 0}}, {}};
    UserFigures figures;
    figures.name = e.name;
    figures.downloads = 3;
    figures.uploads = 2;
    report.figures = {figures};
    report.files.emplace();
    const std::string name = PackText(e.name);
    FileFigures file;
    file.fileBytes = e.name.data();
    file.fileLength = static_cast<std::uint32_t>(e.name.size());
    file.firstUploader = TextRef(name.data());
    report.files->files.push_back(file);
    report.userReports.push_back({e.name, {}, {e.name}});
    report.userReports.back().report.ratio = "0/.00";
    report.sources = {SourceInfo{}};
    report.sources->front().input.path = "/srv/" + e.name + "/x.log";

    const std::string text = FormatTextReport(report);
    EXPECT_NE(text.find("\nUsers: 1\n" + e.text + "\t0\t0\t0/.00\n"), std::string::npos) << label;
    EXPECT_NE(text.find("\nFiles: 1\n" + e.text + "\t0\t0\t0\t" + e.text + "\n"), std::string::npos)
        << label;
    EXPECT_NE(text.find("\nUser Name: " + e.text + "\n"), std::string::npos) << label;
    EXPECT_NE(text.find("\nUpload: " + e.text + "\n"), std::string::npos) << label;

    EXPECT_EQ(FormatCsvUsers(*report.figures),
              "user,downloads,uploads,ratio,credit,addresses,first_seen,last_seen\n" + csv +
                  ",3,2,1.50/1,0,0,,\n")
        << label;
    EXPECT_EQ(FormatCsvFiles(*report.files),
              "file,downloads,downloaders,uploads,first_uploader,first_download,last_download\n" +
                  csv + ",0,0,0," + csv + ",,\n")
        << label;

    const std::string json = FormatJsonReport(report);
    const std::string quoted = "\"" + e.json + "\"";
    EXPECT_NE(json.find("{\"user\": " + quoted + ", \"downloads\": 3, \"uploads\": 2, \"ratio\""),
              std::string::npos)
        << label;
    EXPECT_NE(json.find("{\"file\": " + quoted +
                        ", \"downloads\": 0, \"downloaders\": 0, "
                        "\"uploads\": 0, \"first_uploader\": " +
                        quoted + ","),
              std::string::npos)
        << label;
    EXPECT_NE(json.find("{\"user\": " + quoted +
                        ", \"downloads\": 0, \"uploads\": 0, \"ratio\": \"0/.00\", "
                        "\"uploaded_files\": [" +
                        quoted + "]}"),
              std::string::npos)
        << label;
    EXPECT_NE(
        json.find("{\"file\": \"/srv/" + e.json + "/x.log\", \"format\": \"classic-download\""),
        std::string::npos)
        << label;

    ReportRequest request;
    request.logNames = {e.name, "C:\\logs\\" + e.name};
    const std::string html = FormatHtmlReport(report, request);
    EXPECT_NE(html.find("<tr><td class=\"w\">" + e.html +
                        "</td><td class=\"n\">3</td><td class=\"n\">2</td><td class=\"n\" "
                        "data-k=\"1500000\">1.50/1</td>"),
              std::string::npos)
        << label;
    EXPECT_NE(html.find("<td class=\"n\">0</td><td class=\"w\">" + e.html + "</td><td></td>"),
              std::string::npos)
        << label;
    // A log's name is shown from its last slash or backslash on.
    if (e.name.find_first_of("/\\") == std::string::npos) {
      EXPECT_NE(html.find("<bdi>" + e.html + "</bdi> and <bdi>" + e.html + "</bdi>"),
                std::string::npos)
          << label;
    }
  }
}

}  // namespace
}  // namespace quorvane
