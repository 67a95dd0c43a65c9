// Mobius logs: every record kind of both layouts, the journal's prefix, the escapes, the lines
// that are not transfers, the forms of an address, and how a file is told to be one.
#include <gtest/gtest.h>

#include <array>

#include "logs/LogReader.h"
#include "logs/ServerLog.h"

namespace quorvane {
namespace {

constexpr ServerLineKind D = ServerLineKind::Download, U = ServerLineKind::Upload,
                         O = ServerLineKind::Other, X = ServerLineKind::Unreadable;
const std::string kTime = "2025-03-14T21:07:45-07:00";
const std::string kHead = "time=" + kTime + " level=INFO msg=";
const std::string kLegacyTime = "2024-05-01T12:34:56.789-0700";
std::string Legacy(const std::string& message, const std::string& json) {
  return kLegacyTime + "\tinfo\t" + message + "\t" + json;
}

struct LineCase {
  std::string line;
  ServerLineKind kind;
  std::array<std::string, 5> cells;  // as UTF-8: Date/Time, Address, Account, Name, File Name
};

TEST(ServerLine, ReadsEachRecordKindAndNothingElse) {
  const std::string journal = "Mar 14 21:07:45 host mobius-hotline-server[812]: ";
  const std::vector<LineCase> cases = {
      {kHead + "\"Download file\" remoteAddr=203.0.113.5:51234 login=guest Name=Alice "
               "filePath=\"/srv/Apps/Stuffit 5.5.sit\"",
       D,
       {kTime, "203.0.113.5", "guest", "Alice", "/srv/Apps/Stuffit 5.5.sit"}},
      {journal + kHead +
           "\"Start folder download\" remoteAddr=[2001:db8::5]:51240 login=bob "
           "Name=\"Bob the Builder\" path=/srv/Sounds",
       D,
       {kTime, "2001:db8::5", "bob", "Bob the Builder", "/srv/Sounds"}},
      {kHead + "\"File upload complete\" remoteAddr=198.51.100.7 login=x name=low dstFile=/u/f",
       U,
       {kTime, "198.51.100.7", "x", "low", "/u/f"}},
      // Name wins over name even when empty; no address is an empty one.
      {kHead + "\"Folder upload started\" login=x Name=\"\" name=low dstPath=/u/d extra=1",
       U,
       {kTime, "", "x", "", "/u/d"}},
      // Every escape; an address without a port as written; \x bytes that are not UTF-8 are
      // Mac Roman (the classic clients' text), and a bare value's backslash is a backslash.
      {kHead + "\"Download file\" remoteAddr=[2001:db8::5] login=\"a\\\"b\\\\c\" "
               "Name=\"\\x85d\\x9an\" filePath=\"\\n\\r\\t\\a\\b\\f\\v\\x7f\\u00e9\\U0001F600\"",
       D,
       {kTime, "[2001:db8::5]", "a\"b\\c",
        "\xC3\x96"
        "d\xC3\xB6n",
        "\n\r\t\a\b\f\v\x7F\xC3\xA9\xF0\x9F\x98\x80"}},
      {kHead + "\"Download file\" remoteAddr=::1 login=g Name=C:\\Mac\\Joe filePath=/a\\b",
       D,
       {kTime, "::1", "g", "C:\\Mac\\Joe", "/a\\b"}},
      {kHead + "\"Download file\" remoteAddr=host:port Name=\x8Et\x8E filePath=/a",
       D,
       {kTime, "host:port", "", "\xC3\xA9t\xC3\xA9", "/a"}},
      // The control connection's request, a file inside a folder, other records and other text.
      {kHead + "\"Download file\" ip=203.0.113.5 login=guest Name=Alice", O, {}},
      {kHead + "\"File download started\" remoteAddr=1.2.3.4:5 fileName=beep.aiff", O, {}},
      {kHead + "\"Login successful\" filePath=/a", O, {}},
      {"level=INFO msg=\"Download file\" filePath=/a", O, {}},
      {"panic: runtime error: time=now", O, {}},
      {"\tgoroutine 1 [running]: time=" + kTime, O, {}},
      {"", O, {}},
      // Cannot be read to its end after the path key: unreadable; before it: passed over.
      {kHead + "\"Download file\" filePath=/a Name=\"open", X, {}},
      {kHead + "\"Download file\" filePath=\"/a\\q\"", X, {}},
      {kHead + "\"Download file\" filePath=\"/a\\x4\"", X, {}},
      {kHead + "\"Download file\" filePath=\"/a\\ud800\"", X, {}},
      {kHead + "\"Download file\" filePath=\"/a\"x", X, {}},
      {kHead + "\"Download file\" filePath=/a  Name=x", X, {}},
      {kHead + "\"Download file\" filePath=/a ", X, {}},
      {kHead + "\"Download file\" Name=\"\\q\" filePath=/a", O, {}},
      {kHead + "\"Download file\" Name=\"x filePath=/a", O, {}},
      // The older layout, its four records, its JSON escapes and the journal's prefix.
      {Legacy("File download started",
              "{\"remoteAddr\": \"203.0.113.5:51234\", \"login\": \"guest\", \"name\": "
              "\"Al\\u00e9\\ud83d\\ude00\\ud800\", \"filePath\": \"/A "
              "\\\"B\\\"\\\\\\/\\t\\b\\f\\n\\r\"}"),
       D,
       {kLegacyTime, "203.0.113.5", "guest", "Al\xC3\xA9\xF0\x9F\x98\x80\xEF\xBF\xBD",
        "/A \"B\"\\/\t\b\f\n\r"}},
      {journal + Legacy("Start folder download", "{\"path\": \"/S\", \"n\": [1, {\"a\": null}]}"),
       D,
       {kLegacyTime, "", "", "", "/S"}},
      {Legacy("File upload complete", "{\"login\": 7, \"dstFile\": \"/u\", \"name\": \"\\u0085\"}"),
       U,
       {kLegacyTime, "", "", "\xC2\x85", "/u"}},
      {Legacy("Folder upload started", "{\"dstPath\": \"/d\", \"remoteAddr\": \"[::1]:9\"}"),
       U,
       {kLegacyTime, "::1", "", "", "/d"}},
      {Legacy("File upload started", "{\"dstFile\": \"/u\"}"), O, {}},
      {Legacy("File download started", "{\"fileName\": \"beep.aiff\"}"), O, {}},
      {Legacy("File download started", "{\"filePath\": 3}"), O, {}},
      {Legacy("File download started", "{\"login\": \"g\", \"filePath\": \"/a\", \"x\": "), X, {}},
      {Legacy("File download started", "{\"filePath\": \"/a\"} trailing"), X, {}},
      {Legacy("File download started", "{\"login\": \"g\" \"filePath\": \"/a\"}"), O, {}},
  };
  ServerLineReader reader;
  for (const LineCase& c : cases) {
    LogTableBuilder::Cells cells;
    const ServerLineKind kind = reader.Read(c.line, cells);
    EXPECT_EQ(kind, c.kind) << c.line;
    if (kind != c.kind || (kind != D && kind != U))
      continue;
    const std::array<std::string, 5> got = {std::string(cells.dateTime), std::string(cells.address),
                                            std::string(cells.account), std::string(cells.name),
                                            std::string(cells.fileName)};
    EXPECT_EQ(got, c.cells) << c.line;
  }
}

TEST(ServerLine, TellsWhichLinesAreRecords) {
  const std::vector<std::pair<std::string, std::optional<ServerLayout>>> cases = {
      {kHead + "\"Login successful\" login=x", ServerLayout::KeyValue},
      {"Mar 14 host mobius[1]: " + kHead + "x", ServerLayout::KeyValue},
      {Legacy("Server started", "{}"), ServerLayout::Legacy},
      {"May 01 h mobius[1]: " + Legacy("Server started", "{\"a\": [1.5e3, true]}"),
       ServerLayout::Legacy},
      {"time=2025-13-14T21:07:45Z level=INFO msg=x", std::nullopt},
      {"level=INFO time=" + kTime + " msg=x", std::nullopt},
      {kHead + "x login=\"open", std::nullopt},
      {"a\tb: " + kHead + "x", std::nullopt},
      {Legacy("Server started", "{} x"), std::nullopt},
      {kLegacyTime + "\tINFO\tServer started\t{}", std::nullopt},
      {Legacy("x", std::string(70, '[') + std::string(70, ']')), std::nullopt},
  };
  for (const auto& [line, layout] : cases)
    EXPECT_EQ(ServerRecordLayout(line), layout) << line;
}

// A record among the first 100 non-empty lines makes a server log; blank lines do not count.
TEST(ServerLog, IsToldByOneOfItsFirstHundredLines) {
  const std::string record = kHead + "\"Download file\" Name=n filePath=/f\n";
  for (const auto& [before, blanks, format] : {std::tuple{99, 0, LogFormat::Mobius},
                                               {99, 50, LogFormat::Mobius},
                                               {100, 0, LogFormat::Classic}}) {
    std::string text;
    for (int i = 0; i < before; ++i)
      text += "starting up\n" + std::string(i < blanks ? "\n\r\n" : "");
    text += record + record;
    const AnyReadResult read = ParseAnyLog(text, Expect::Either);
    EXPECT_EQ(read.format, format) << before;
    if (format == LogFormat::Mobius) {
      EXPECT_EQ(read.downloads.RowCount(), 2u);
    }
    const AnyReadResult asked = ParseAnyLog(text, Expect::ServerLog);
    EXPECT_EQ(asked.Ok(), format == LogFormat::Mobius);
  }
  const AnyReadResult classic = ParseAnyLog(record, Expect::Classic);
  ASSERT_FALSE(classic.Ok());
  EXPECT_EQ(classic.error->problem, ReadProblem::IsServerLog);
}

// A line of 64 MiB is taken, a longer one refused by its number.
TEST(ServerLog, RefusesLinesPastTheLimit) {
  std::string endless = kHead + "x\n" + std::string(kMaxLineBytes, 'x');
  EXPECT_TRUE(ParseAnyLog(endless, Expect::ServerLog).Ok());
  endless += "y\n";
  const AnyReadResult refused = ParseAnyLog(endless, Expect::ServerLog);
  ASSERT_FALSE(refused.Ok());
  EXPECT_EQ(refused.error->line, 2u);
}

}  // namespace
}  // namespace quorvane
