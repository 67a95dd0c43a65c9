#include <gtest/gtest.h>

#include "analysis/Report.h"
#include "analysis/UserFigures.h"
#include "support/TempLogs.h"

namespace quorvane {
namespace {

using testing::TableOf;

// name, address, file
struct Transfer {
  std::string name, address, file;
};
LogTable Log(const std::vector<Transfer>& transfers) {
  std::vector<std::vector<std::string>> rows;
  for (const Transfer& t : transfers)
    rows.push_back({"1/2/2000", t.address, "acct", t.name, t.file});
  return TableOf(rows);
}

// The users' lines, the same whether the tables share their File Names or not.
std::vector<std::string> Lines(const LogTable& downloads, const LogTable& uploads,
                               const std::vector<std::string>& names) {
  const LogPair shared = testing::SharingFileNames(downloads, uploads);
  std::vector<std::string> lines[2];
  for (int way = 0; way < 2; ++way) {
    for (const UserFigures& f : ComputeUserFigures(way == 0 ? downloads : shared.downloads,
                                                   way == 0 ? uploads : shared.uploads, names)) {
      lines[way].push_back(f.name + " " + std::to_string(f.downloads) + " " +
                           std::to_string(f.uploads) + " " + f.Ratio() + " credit " +
                           std::to_string(f.credit) + " addresses " + std::to_string(f.addresses));
    }
  }
  EXPECT_EQ(lines[0], lines[1]) << "with File Names shared";
  return lines[0];
}

// Credit: others fetching what a user uploaded. game.sit was brought by ann and by bob; ann fetches
// it herself once, which counts for bob only; doc.txt is bob's alone; ann's second game.sit is
// still one file of hers. Addresses: the distinct texts over both logs. A name asked for twice gets
// its line twice.
TEST(UserFigures, CreditAndAddresses) {
  const LogTable uploads = Log({{"ann", "1", "game.sit"},
                                {"bob", "2", "game.sit"},
                                {"bob", "2", "doc.txt"},
                                {"ann", "1", "game.sit"},
                                {"ann", "1", "Game.sit"},
                                {"ann", "6", "x"},
                                {"Ann", "7", "y"}});
  const LogTable downloads = Log({{"ann", "1", "game.sit"},
                                  {"cid", "3", "game.sit"},
                                  {"cid", "3", "doc.txt"},
                                  {"dan", "4", "game.sit"},
                                  {"bob", "2", "game.sit "},
                                  {"eve", "5", "game.sit"},
                                  {"ann", "5", "z"},
                                  {"ann", "", "z"}});
  EXPECT_EQ(Lines(downloads, uploads, {"ann", "bob", "cid", "zed", "ann"}),
            (std::vector<std::string>{
                "ann 3 4 1/1.33 credit 3 addresses 4", "bob 1 2 1/2.00 credit 5 addresses 1",
                "cid 2 0 2.00/0 credit 0 addresses 1", "zed 0 0 0/.00 credit 0 addresses 0",
                "ann 3 4 1/1.33 credit 3 addresses 4"}));
}

TEST(UserFigures, TextsOfTwoEncodingsCompareAsTheyRead) {
  // The upload log is Windows-1252 (0xE9 is e acute), the download log UTF-8.
  const LogTable uploads = Log({{"Ren\xE9", "\xE9t\xE9", "caf\xE9.txt"}});
  const LogTable downloads =
      Log({{"ann", "1", "caf\xC3\xA9.txt"}, {"Ren\xC3\xA9", "\xC3\xA9t\xC3\xA9", "x"}});
  ASSERT_NE(uploads.TextEncoding(), downloads.TextEncoding());
  EXPECT_EQ(Lines(downloads, uploads, {"Ren\xC3\xA9"}),
            (std::vector<std::string>{"Ren\xC3\xA9 1 1 1/1 credit 1 addresses 1"}));
}

// Big tables take the two-core path: it must agree with a plain count.
TEST(UserFigures, BigTablesAgreeWithAPlainCount) {
  std::uint32_t state = 12345;
  const auto next = [&](std::uint32_t bound) {
    state = state * 1103515245u + 12345u;
    return (state >> 8) % bound;
  };
  // (Built with append: "u" + std::to_string trips a false -Wrestrict in GCC 12.)
  const auto text = [&](const char* prefix, std::uint32_t bound) {
    return std::string(prefix).append(std::to_string(next(bound)));
  };
  std::vector<Transfer> down, up;
  for (int i = 0; i < 120000; ++i) {
    auto& rows = i % 4 == 0 ? up : down;
    rows.push_back({text("u", 40), text("", 30), text("f", 300)});
  }
  std::vector<std::string> names = {"u0", "u7", "u39", "nobody"};
  std::map<std::string, std::set<std::string>> addresses, uploaded;
  std::map<std::string, std::size_t> downloads, uploads;
  for (const Transfer& t : up) {
    ++uploads[t.name];
    addresses[t.name].insert(t.address);
    uploaded[t.name].insert(t.file);
  }
  for (const Transfer& t : down) {
    ++downloads[t.name];
    addresses[t.name].insert(t.address);
  }
  const LogPair own{Log(down), Log(up)};
  const LogPair shared = testing::SharingFileNames(own.downloads, own.uploads);
  ASSERT_TRUE(shared.downloads.SharesFileNames(shared.uploads));
  for (const LogPair* tables : {&own, &shared}) {
    const auto actual = ComputeUserFigures(tables->downloads, tables->uploads, names);
    for (std::size_t i = 0; i < names.size(); ++i) {
      const std::string& name = names[i];
      std::size_t credit = 0;
      for (const Transfer& t : down)
        credit += t.name != name && uploaded[name].count(t.file);
      EXPECT_EQ(actual[i].downloads, downloads[name]) << name;
      EXPECT_EQ(actual[i].uploads, uploads[name]) << name;
      EXPECT_EQ(actual[i].addresses, addresses[name].size()) << name;
      EXPECT_EQ(actual[i].credit, credit) << name << (tables == &shared ? " shared" : " own");
    }
  }
}

// The default leech (at least 10 downloads, at least 10.00 downloads per upload) at, just under
// and just over each limit, and the page's note saying the rule.
TEST(LeechRule, DefaultsAtTheirLimits) {
  const std::tuple<std::size_t, std::size_t, bool> cases[] = {
      {10, 0, true},   {9, 0, false},   {11, 0, true},      {10, 1, true},     {100, 10, true},
      {99, 10, false}, {101, 10, true}, {1000, 101, false}, {1010, 101, true}, {0, 0, false}};
  for (const auto& [downloads, uploads, leech] : cases)
    EXPECT_EQ(LeechRule{}.Matches({"", downloads, uploads}), leech) << downloads << "/" << uploads;
  ReportRequest request;
  request.leeches = {1000, 1005};
  EXPECT_NE(
      FormatHtmlReport({}, request)
          .find("Leeches, in red, have at least 1,000 downloads and 10.05 downloads per upload."),
      std::string::npos);
  request.leeches = {1, 50};
  EXPECT_NE(
      FormatHtmlReport({}, request).find("at least 1 downloads and 0.50 downloads per upload."),
      std::string::npos);
}

}  // namespace
}  // namespace quorvane
