#include <gtest/gtest.h>

#include <cctype>
#include <map>
#include <set>

#include "ReportCommand.h"
#include "analysis/Sha256.h"
#include "support/TempLogs.h"

namespace quorvane {
namespace {

std::string Hex(const std::array<std::uint8_t, 32>& digest) {
  std::string hex;
  for (std::uint8_t byte : digest) {
    hex.push_back("0123456789abcdef"[byte >> 4]);
    hex.push_back("0123456789abcdef"[byte & 15]);
  }
  return hex;
}

// FIPS 180-4's examples, then every length around the padding's block ends against sha256sum.
TEST(Sha256, AgreesWithTheStandardsExamplesAndSha256sum) {
  EXPECT_EQ(Hex(Sha256("abc")), "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
  EXPECT_EQ(Hex(Sha256("abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq")),
            "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1");
  EXPECT_EQ(Hex(Sha256(std::string(1000000, 'a'))),
            "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0");
  const testing::TempDir dir;
  for (std::size_t size : {0, 1, 55, 56, 57, 63, 64, 65, 119, 120, 128}) {
    const std::string bytes(size, static_cast<char>('x' + size % 3));
    const testing::ShellRun sum =
        testing::RunShell("sha256sum '" + dir.Write("in", bytes).string() + "'");
    EXPECT_EQ(Hex(Sha256(bytes)), sum.out.substr(0, 64)) << size;
  }
  const std::uint8_t bytes[] = {'a', 'b', 'c', 0xFF};
  EXPECT_EQ(Base64(bytes, 1) + Base64(bytes, 2) + Base64(bytes, 3) + Base64(bytes, 4),
            "YQ==YWI=YWJjYWJj/w==");
}

// Names typed by strangers stay text: the page's only elements and attributes are its own, its
// one style and one script come after the policy, and the same logs give the same bytes.
TEST(HtmlReport, HostileNamesAreOnlyText) {
  const testing::TempDir dir;
  const std::vector<std::string> hostile = {"<script>alert(1)</script>",
                                            "\"><img src=x onerror=alert(1)>",
                                            "</style><b>x</b>",
                                            "javascript:alert(1)",
                                            "a\xE2\x80\xA8"
                                            "b",
                                            "\xE2\x80\xAEtxt.exe",
                                            "x' onclick='y",
                                            "</textarea><svg onload=alert(1)>",
                                            "&lt;&amp;",
                                            "cr\rnul\x01"};
  std::vector<std::vector<std::string>> rows;
  for (const std::string& name : hostile)
    rows.push_back({"2026-01-02", "1.1.1.1", "c", name, name});
  rows.push_back({"2026-01-02", "1.1.1.1", "c", std::string(10000, 'W'), "w"});
  // Lines end in LF alone, so a CR inside a name stays in it.
  std::string text;
  for (char c : testing::LogText(rows)) {
    if (c == '\n' && !text.empty() && text.back() == '\r')
      text.back() = '\n';
    else
      text.push_back(c);
  }
  const std::string down = dir.Write("d<i>.txt", text).string();
  const std::string up = dir.Write("u.txt", text).string();
  const auto page = [&] {
    std::ostringstream out, err;
    EXPECT_EQ(RunReportCommand({"--format", "html", down, up}, out, err), 0) << err.str();
    return out.str();
  };
  const std::string html = page();
  EXPECT_EQ(html, page());

  const std::size_t style = html.find("<style>"), script = html.find("<script>");
  ASSERT_NE(style, std::string::npos);
  ASSERT_NE(script, std::string::npos);
  EXPECT_LT(html.find("<meta http-equiv=\"Content-Security-Policy\" content=\"default-src "
                      "'none'; style-src 'sha256-"),
            style);
  // The markup outside the style and the script, tag by tag.
  const std::size_t styleEnd = html.find("</style>"), scriptEnd = html.find("</script>");
  const std::string markup = html.substr(0, style + 7) +
                             html.substr(styleEnd, script + 8 - styleEnd) + html.substr(scriptEnd);
  const std::set<std::string> elements = {
      "!DOCTYPE", "html",  "head", "meta", "title",   "style", "body",   "header",
      "h1",       "p",     "bdi",  "main", "section", "h2",    "dl",     "div",
      "dt",       "dd",    "span", "svg",  "line",    "text",  "g",      "rect",
      "table",    "thead", "tr",   "th",   "tbody",   "td",    "footer", "script"};
  const std::set<std::string> attributes = {
      "lang",  "charset", "http-equiv", "content",     "name", "id",
      "class", "scope",   "data-k",     "viewBox",     "role", "aria-label",
      "x",     "y",       "x1",         "x2",          "y1",   "y2",
      "dy",    "width",   "height",     "text-anchor", "html", "aria-hidden"};
  // Each '<' opens a tag: a name of letters, then attributes, each a name with an optional
  // double-quoted value.
  const auto nameEnd = [](const std::string& in, std::size_t i) {
    while (i < in.size() &&
           (std::isalnum(static_cast<unsigned char>(in[i])) || in[i] == '-' || in[i] == '!'))
      ++i;
    return i;
  };
  std::size_t tags = 0;
  std::map<std::string, int> seen;
  for (std::size_t at = markup.find('<'); at != std::string::npos;
       at = markup.find('<', at + 1), ++tags) {
    const std::size_t close = markup.find('>', at);
    ASSERT_NE(close, std::string::npos);
    const std::string tag = markup.substr(at + 1, close - at - 1);
    std::size_t i = tag.starts_with('/') ? 1 : 0;
    const std::string element = tag.substr(i, nameEnd(tag, i) - i);
    ++seen[element];
    EXPECT_EQ(elements.count(element), 1u) << tag;
    for (i = nameEnd(tag, i); i < tag.size();) {
      if (tag[i] == ' ' || tag[i] == '/') {
        ++i;
        continue;
      }
      const std::size_t end = nameEnd(tag, i);
      EXPECT_EQ(attributes.count(tag.substr(i, end - i)), 1u) << tag;
      if (end == i)
        break;
      i = end < tag.size() && tag[end] == '=' ? tag.find('"', end + 2) + 1 : end;
    }
  }
  EXPECT_EQ(seen["script"], 2);
  EXPECT_EQ(seen["style"], 2);
  EXPECT_GT(tags, 200u);
  EXPECT_NE(html.find("<td class=\"w\">&lt;script&gt;alert(1)&lt;/script&gt;</td>"),
            std::string::npos);
  EXPECT_NE(html.find("<td class=\"w\">cr&#13;nul&#1;</td>"), std::string::npos);
  EXPECT_NE(html.find("<bdi>d&lt;i&gt;.txt</bdi> and <bdi>u.txt</bdi>"), std::string::npos);
}

}  // namespace
}  // namespace quorvane
