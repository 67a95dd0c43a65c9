#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <map>
#include <set>

#include "analysis/FileFigures.h"
#include "analysis/Period.h"
#include "analysis/SharedRoot.h"
#include "support/TempLogs.h"

namespace quorvane {
namespace {

// date, name, file
LogTable Log(const std::vector<std::array<std::string, 3>>& transfers) {
  std::vector<std::vector<std::string>> rows;
  for (const auto& [date, name, file] : transfers)
    rows.push_back({date, "1.2.3.4", "acct", name, file});
  LogTable table = testing::TableOf(rows);
  table.ReadDates(DateOrder::Detect);
  return table;
}

// The files' lines, the same whether the tables share their File Names or not.
std::vector<std::string> Lines(const LogTable& downloads, const LogTable& uploads,
                               std::size_t limit = SIZE_MAX) {
  const LogPair shared = testing::SharingFileNames(downloads, uploads);
  std::vector<std::string> lines[2];
  for (int way = 0; way < 2; ++way) {
    const LogTable& d = way == 0 ? downloads : shared.downloads;
    const LogTable& u = way == 0 ? uploads : shared.uploads;
    for (const FileFigures& f : ComputeFileFigures(d, u, limit).files) {
      lines[way].push_back(std::string(f.File()) + "|" + std::to_string(f.downloads) + "|" +
                           std::to_string(f.downloaders) + "|" + std::to_string(f.uploads) + "|" +
                           std::string(f.firstUploader) + "|" + FormatTimestamp(f.firstDownload) +
                           "|" + FormatTimestamp(f.lastDownload));
    }
  }
  EXPECT_EQ(lines[0], lines[1]) << "with File Names shared";
  return lines[0];
}

// game.sit: uploaded by ann, then bob; fetched by ann herself, by cid twice (once undated) and by
// the empty name. "Game.sit" is another file. An empty File Name is a file like any other. Ties go
// by the bytes of the text; files never fetched come last.
class FileFiguresTest : public ::testing::Test {
 protected:
  LogTable uploads = Log({{"2026-01-05", "ann", "game.sit"},
                          {"2026-01-06", "bob", "game.sit"},
                          {"2026-01-07", "bob", "doc.txt"},
                          {"undated", "", ""}});
  LogTable downloads = Log({{"2026-01-10 10:00", "ann", "game.sit"},
                            {"2026-01-08", "cid", "game.sit"},
                            {"garbage", "cid", "game.sit"},
                            {"2026-01-09", "", "game.sit"},
                            {"2026-01-02", "dan", "Game.sit"},
                            {"undated", "eve", "zeta"},
                            {"2026-01-03", "eve", "zeta"},
                            {"2026-01-04", "eve", ""}});
};

TEST_F(FileFiguresTest, EveryFileOfEitherTable) {
  EXPECT_EQ(Lines(downloads, uploads),
            (std::vector<std::string>{
                "game.sit|4|3|2|ann|2026-01-08 00:00:00|2026-01-10 10:00:00",
                "zeta|2|1|0||2026-01-03 00:00:00|2026-01-03 00:00:00",
                "|1|1|1||2026-01-04 00:00:00|2026-01-04 00:00:00",
                "Game.sit|1|1|0||2026-01-02 00:00:00|2026-01-02 00:00:00",
                "doc.txt|0|0|1|bob||",
            }));
  // Kept to the first few, the same first few.
  const std::vector<std::string> all = Lines(downloads, uploads);
  for (std::size_t limit : {1, 4, 5, 6})
    EXPECT_EQ(Lines(downloads, uploads, limit),
              std::vector<std::string>(all.begin(), all.begin() + std::min<std::size_t>(limit, 5)));
}

TEST_F(FileFiguresTest, APeriodTakesItsRowsOnly) {
  const Period period{DayFromCivil({2026, 1, 6}), DayFromCivil({2026, 1, 9})};
  const PeriodLogs inPeriod = SelectPeriod(downloads, uploads, period);
  EXPECT_EQ(Lines(inPeriod.logs.downloads, inPeriod.logs.uploads),
            (std::vector<std::string>{
                "game.sit|2|2|1|bob|2026-01-08 00:00:00|2026-01-09 00:00:00",
                "doc.txt|0|0|1|bob||",
            }));
  EXPECT_TRUE(ComputeFileFigures(LogTable(), LogTable()).files.empty());
}

// Windows-1252 0x80 is the euro sign (UTF-8 E2 82 AC), 0xE9 e acute (C3 A9): the order is that of
// the UTF-8 text, not of the file's bytes; a file in a UTF-8 log is the same file.
TEST(FileFigures, TextsOfOtherEncodingsCompareAndSortAsUtf8) {
  const LogTable cp1252 = Log({{"", "a", "\x80"}, {"", "b", "\xE9"}, {"", "c", "caf\xE9"}});
  const LogTable utf8 = Log({{"", "Zo\xC3\xAB", "caf\xC3\xA9"}});
  ASSERT_EQ(cp1252.TextEncoding(), Encoding::Windows1252);
  EXPECT_EQ(Lines(cp1252, utf8),
            (std::vector<std::string>{"caf\xC3\xA9|1|1|1|Zo\xC3\xAB||", "\xC3\xA9|1|1|0|||",
                                      "\xE2\x82\xAC|1|1|0|||"}));
  // One table as both, so they share their File Names: only the texts that are not ASCII are
  // decoded.
  EXPECT_EQ(Lines(cp1252, cp1252),
            (std::vector<std::string>{"caf\xC3\xA9|1|1|1|c||", "\xC3\xA9|1|1|1|b||",
                                      "\xE2\x82\xAC|1|1|1|a||"}));
}

// Texts that share long starts, end inside one another, hold NUL bytes and characters of several
// bytes: files fetched as often go by their bytes, as std::string orders them, past the first
// bytes the sort compares at once and however deep the shared starts go.
TEST(FileFigures, TextsSharingLongStartsGoByTheirBytes) {
  const std::string stem = "Games/Strategy/Civilization II";
  const std::string ends[] = {
      "", std::string(1, '\0'), std::string("\0a", 2), "a", "\xC3\xA9", "\xF0\x9F\x98\x80", "z",
      " "};
  std::set<std::string> texts;
  for (std::size_t cut = 0; cut <= stem.size(); ++cut) {
    for (const std::string& end : ends) {
      for (const std::string& more : ends)
        texts.insert(stem.substr(0, cut) + end + more);
    }
  }
  for (std::size_t length = 1; length <= 400; ++length) {
    texts.insert(std::string(length, 'x'));
    std::string nuls(1 + length % 41, '\0');
    nuls.front() = 's';
    texts.insert(nuls);
  }
  // Every third of the stem's fetched twice: the counts come first.
  std::vector<std::array<std::string, 3>> down;
  std::map<std::string, std::size_t> counts;
  std::size_t i = 0;
  for (const std::string& text : texts) {
    for (std::size_t n = text.starts_with("G") && i++ % 3 == 0 ? 2 : 1; n > 0; --n) {
      down.push_back({"", "u", text});
      ++counts[text];
    }
  }
  std::vector<std::pair<std::size_t, std::string>> expected;
  for (const auto& [text, count] : counts)
    expected.emplace_back(SIZE_MAX - count, text);
  std::sort(expected.begin(), expected.end());
  ASSERT_GT(down.size(), 2048u);  // more than one partition
  // Texts compared as the rows hold them, or by the ids of File Names the tables share.
  const LogPair own{Log(down), LogTable()};
  // (The same rows as uploads too: their counts come after the downloads'.)
  const LogPair shared = testing::SharingFileNames(own.downloads, own.downloads);
  ASSERT_TRUE(shared.downloads.SharesFileNames(shared.uploads));
  for (const LogPair* tables : {&own, &shared}) {
    std::vector<std::pair<std::size_t, std::string>> actual;
    for (const FileFigures& f : ComputeFileFigures(tables->downloads, tables->uploads).files)
      actual.emplace_back(SIZE_MAX - f.downloads, std::string(f.File()));
    EXPECT_EQ(actual, expected) << (tables == &shared ? "shared" : "own");
  }
}

// Big tables take the two-core path: the whole table must agree with a plain count.
TEST(FileFigures, BigTablesAgreeWithAPlainCount) {
  std::uint32_t state = 54321;
  const auto pick = [&](const char* prefix, std::uint32_t bound) {
    state = state * 1103515245u + 12345u;
    return std::string(prefix).append(std::to_string((state >> 8) % bound));
  };
  std::vector<std::array<std::string, 3>> down, up;
  // Most files fetched or brought once: nearly a file a row, as many as the rows leave room for.
  for (int i = 0; i < 120000; ++i)
    (i % 4 == 0 ? up : down).push_back({"", pick("u", 50), pick("f", i % 16 ? 1u << 24 : 3000)});
  struct Expected {
    std::size_t downloads = 0, uploads = 0;
    std::set<std::string> downloaders;
    std::string firstUploader;
  };
  std::map<std::string, Expected> expected;
  for (const auto& [date, name, file] : down) {
    ++expected[file].downloads;
    expected[file].downloaders.insert(name);
  }
  for (const auto& [date, name, file] : up) {
    if (expected[file].uploads++ == 0)
      expected[file].firstUploader = name;
  }
  std::vector<std::string> lines;
  for (const auto& [file, e] : expected) {
    lines.push_back(std::string(10 - std::to_string(e.downloads).size(), '0') +
                    std::to_string(e.downloads) + " " + file + " " +
                    std::to_string(e.downloaders.size()) + " " + std::to_string(e.uploads) + " " +
                    e.firstUploader);
  }
  // Most downloads first; equal counts keep the map's order, by name.
  std::stable_sort(lines.begin(), lines.end(), [](const std::string& a, const std::string& b) {
    return a.substr(0, 10) > b.substr(0, 10);
  });
  const LogPair own{Log(down), Log(up)};
  const LogPair shared = testing::SharingFileNames(own.downloads, own.uploads);
  ASSERT_TRUE(shared.downloads.SharesFileNames(shared.uploads));
  // The two threads each write a part of the order: kept to a few, around where they meet too;
  // the tables' own File Names or shared ones.
  for (const LogPair* tables : {&own, &shared}) {
    for (std::size_t limit :
         {lines.size(), std::size_t{1}, lines.size() / 2, lines.size() / 2 + 1, lines.size() - 1}) {
      std::vector<std::string> actual;
      for (const FileFigures& f :
           ComputeFileFigures(tables->downloads, tables->uploads, limit).files) {
        actual.push_back(std::string(10 - std::to_string(f.downloads).size(), '0') +
                         std::to_string(f.downloads) + " " + std::string(f.File()) + " " +
                         std::to_string(f.downloaders) + " " + std::to_string(f.uploads) + " " +
                         std::string(f.firstUploader));
      }
      EXPECT_EQ(actual, std::vector<std::string>(lines.begin(), lines.begin() + limit))
          << (tables == &shared ? "shared" : "own");
    }
  }
}

// Paths as servers write them, each with the root and the relative texts worked out by hand.
TEST(SharedRoot, FolderEveryPathLiesIn) {
  struct Case {
    std::vector<std::string> paths;
    std::string root;
    std::vector<std::string> relative;
  };
  const Case cases[] = {
      {{"/srv/mobius/Files/Apps/Stuffit 5.5.sit", "/srv/mobius/Files/Uploads/demo.sit",
        "/srv/mobius/Files/Sounds"},
       "/srv/mobius/Files/",
       {"Apps/Stuffit 5.5.sit", "Uploads/demo.sit", "Sounds"}},
      {{"/srv/mobius/Files/Apps/a.sit"}, "/srv/mobius/Files/Apps/", {"a.sit"}},
      {{"/srv/Files/Sounds", "/srv/Files/Sounds/beep.aiff"},
       "/srv/Files/",
       {"Sounds", "Sounds/beep.aiff"}},
      {{"/srv/Files/Sounds/", "/srv/Files/Sounds/a"}, "/srv/Files/", {"Sounds/", "Sounds/a"}},
      {{"/srv/Files/Apple/x", "/srv/Files/Apps/y"}, "/srv/Files/", {"Apple/x", "Apps/y"}},
      {{"/srv/Files/a", "/srv/Files/a"}, "/srv/Files/", {"a", "a"}},
      {{"", "/srv/Files/a", "/srv/Files/b", ""}, "/srv/Files/", {"", "a", "b", ""}},
      {{"/srv/a/x", "/home/b/y"}, "", {"/srv/a/x", "/home/b/y"}},
      {{"/x"}, "", {"/x"}},
      {{"/"}, "", {"/"}},
      {{"//srv/x", "//srv/y"}, "//srv/", {"x", "y"}},
      {{"Stuffit 5.5.sit", "Sounds"}, "", {"Stuffit 5.5.sit", "Sounds"}},
      {{"Sounds", "/srv/Files/Sounds"}, "", {"Sounds", "/srv/Files/Sounds"}},
      {{"Files/a", "Files/b"}, "Files/", {"a", "b"}},
      {{"C:\\Mobius\\Files\\Apps\\a.sit", "C:\\Mobius\\Files\\b.sit"},
       "C:\\Mobius\\Files\\",
       {"Apps\\a.sit", "b.sit"}},
      {{"C:/Mobius/Files\\Apps\\a.sit", "C:/Mobius/Files\\b.sit"},
       "C:/Mobius/Files\\",
       {"Apps\\a.sit", "b.sit"}},
      {{"/srv/Files/a\\b.txt", "/srv/Files/a\\c.txt"}, "/srv/Files/", {"a\\b.txt", "a\\c.txt"}},
      {{"\\\\", "\\\\x"}, "", {"\\\\", "\\\\x"}},
      {{}, "", {}}};
  for (const Case& c : cases) {
    SharedRootFinder finder;
    for (const std::string& path : c.paths)
      finder.Add(path);
    const std::string root = finder.Root();
    EXPECT_EQ(root, c.root) << ::testing::PrintToString(c.paths);
    std::vector<std::string> relative;
    for (const std::string& path : c.paths)
      relative.emplace_back(RelativeTo(root, path));
    EXPECT_EQ(relative, c.relative) << ::testing::PrintToString(c.paths);
  }  // A text that is the root itself, or only starts like it, is kept whole.
  EXPECT_EQ(RelativeTo("/srv/Files/", "/srv/Files/"), "/srv/Files/");
  EXPECT_EQ(RelativeTo("/srv/Files/", "/srv/Filesystem/a"), "/srv/Filesystem/a");
}

}  // namespace
}  // namespace quorvane
