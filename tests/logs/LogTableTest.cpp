#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <map>
#include <random>
#include <set>
#include <sstream>

#include "logs/LogReader.h"
#include "logs/LogTable.h"
#include "logs/UserList.h"
#include "support/TempLogs.h"

namespace quorvane {
namespace {

using testing::Rows;
using testing::TableOf;

// Rows behind a removed row move up, with their dates; a row past the end is no row.
TEST(RemoveRow, RowsBehindMoveUpWithTheirDates) {
  LogTable table = TableOf({{"2026-03-01", "a", "c", "one", "f1"},
                            {"2026-03-02", "b", "c", "two", "f2"},
                            {"2026-03-03", "c", "c", "three", "f3"}});
  table.ReadDates(DateOrder::Detect);
  table.RemoveRow(1);
  table.RemoveRow(7);
  ASSERT_EQ(table.RowCount(), 2u);
  EXPECT_EQ(table.CellText(1, Column::Address) + table.CellText(1, Column::FileName) +
                std::string(table.Name(1)) + FormatTimestamp(table.Date(1)),
            "cf3three2026-03-03 00:00:00");
  table.RemoveRow(0);
  table.RemoveRow(0);
  table.RemoveRow(0);
  EXPECT_TRUE(table.Empty());
}

// Dates at each edge of their 4 bytes (and the one that means none) read back as given through
// every change (removals at either end move the rows on that side), checked against a plain
// vector of the same changes.
TEST(RowDates, DatesAtEveryEdgeReadAsGivenThroughEveryChange) {
  const Timestamp edges[] = {kUndated,
                             kUndated + 1,
                             -1,
                             0,
                             1,
                             Timestamp{UINT32_MAX} - 2,
                             Timestamp{UINT32_MAX} - 1,
                             Timestamp{UINT32_MAX},
                             Timestamp{UINT32_MAX} + 1,
                             INT64_MAX};
  std::mt19937 random(7);
  const auto any = [&] { return edges[random() % std::size(edges)]; };
  std::vector<Timestamp> expected;
  RowDates dates;
  for (int step = 0; step < 4000; ++step) {
    const std::size_t row = expected.empty() ? 0 : random() % expected.size();
    const auto op = static_cast<unsigned>(expected.empty() ? 0 : random() % 9);
    if (op < 4) {
      expected.push_back(any());
      dates.push_back(expected.back());
    } else if (op < 6) {
      expected.erase(expected.begin() + static_cast<std::ptrdiff_t>(row));
      dates.erase(row);
    } else if (op == 6) {
      expected[row] = any();
      dates.Set(row, expected[row]);
    } else if (op == 7) {
      expected.pop_back();
      dates.pop_back();
    } else {
      // Copied and moved after removals near the front: the copy reads alike, the moved-from
      // is empty and takes rows anew.
      RowDates copy(dates);
      RowDates moved(std::move(dates));
      ASSERT_TRUE(dates.empty());
      dates.push_back(0);
      dates = copy;
      ASSERT_EQ(moved.size(), expected.size());
      for (std::size_t r = 0; r < expected.size(); ++r)
        ASSERT_EQ(moved[r], expected[r]) << "row " << r << " moved after step " << step;
    }
    ASSERT_EQ(dates.size(), expected.size());
    for (std::size_t r = 0; r < expected.size(); ++r)
      ASSERT_EQ(dates[r], expected[r]) << "row " << r << " after step " << step;
  }
  const RowDates copy(expected);
  ASSERT_EQ(copy.size(), expected.size());
  for (std::size_t r = 0; r < expected.size(); ++r)
    EXPECT_EQ(copy[r], expected[r]) << "row " << r;
}

// Every Name cell equal to the old name, exactly, in both tables; only the Name column changes.
// Exactly the Name cells equal to the old name (not a trailing blank's) are rewritten and
// counted, to a name new to the table, in Unicode text whatever the file's encoding.
TEST(RenameUser, RewritesExactMatchesAndCountsThem) {
  LogTable table = TableOf({{"d", "1", "c", "M\xFCller", "f"}, {"d", "2", "c", "M\xFCller ", "f"}});
  ASSERT_EQ(table.TextEncoding(), Encoding::Windows1252);
  EXPECT_EQ(table.RenameUser("M\xC3\xBCller", "\xE5\xB1\xB1"), 1u);
  EXPECT_EQ(table.RenameUser("nobody", "x"), 0u);
  EXPECT_EQ(table.CellText(0, Column::Name) + '|' + table.CellText(1, Column::Name) + '|' +
                table.CellText(0, Column::Address),
            "\xE5\xB1\xB1|M\xC3\xBCller |1");
}

TEST(SelectRows, SharesCellsInTheGivenOrderAndRenamesStayApart) {
  LogTable table = TableOf({{"2026-03-01", "a", "c", "one", "f1"},
                            {"2026-03-02", "b", "c", "two", "f2"},
                            {"2026-03-03", "c", "c", "three", "f3"}});
  table.ReadDates(DateOrder::Detect);
  LogTable picked = table.SelectRows({2, 0, 2});
  ASSERT_EQ(picked.RowCount(), 3u);
  EXPECT_EQ(picked.CellText(0, Column::Address) + picked.CellText(1, Column::FileName) +
                FormatTimestamp(picked.Date(1)),
            "cf12026-03-01 00:00:00");
  EXPECT_EQ(picked.AddressId(2), table.AddressId(2));
  EXPECT_EQ(table.RenameUser("three", "new name"), 1u);  // a name new to the shared pool
  EXPECT_EQ(picked.Name(0), "three");
  EXPECT_FALSE(picked.FindName("new name"));
  EXPECT_EQ(picked.RenameUser("one", "uno"), 1u);
  EXPECT_EQ(table.Name(0), "one");
  EXPECT_THROW(table.SelectRows({3}), std::out_of_range);
}

using testing::Rows;
using testing::TableOf;
using Names = std::vector<std::string>;

struct UserListCase {
  const char* label;
  std::vector<std::pair<std::string, std::string>> downloads;  // (Address, Name)
  std::vector<std::pair<std::string, std::string>> uploads;
  Names expected;
};

TEST(UserList, CollectsTheFirstNameOfEachAddressOfEachLogOnce) {
  const UserListCase cases[] = {
      {"FirstNameOfEachAddress", {{"1.1.1.1", "ann"}, {"1.1.1.1", "bob"}}, {}, {"ann"}},
      {"NameFromTwoAddressesOnce", {{"1.1.1.1", "ann"}, {"2.2.2.2", "ann"}}, {}, {"ann"}},
      {"NameInBothTablesOnce", {{"1.1.1.1", "ann"}}, {{"9.9.9.9", "ann"}}, {"ann"}},
      {"AddressesCountPerTable", {{"1.1.1.1", "ann"}}, {{"1.1.1.1", "bob"}}, {"ann", "bob"}},
      {"CaseMakesTwoEntries", {{"1.1.1.1", "joe"}, {"2.2.2.2", "Joe"}}, {}, {"Joe", "joe"}},
      {"EmptyAddressBringsNothing", {{"", "ann"}, {"1.1.1.1", "bob"}}, {}, {"bob"}},
      {"EmptyNameIsAnEntry", {{"1.1.1.1", ""}, {"2.2.2.2", ""}}, {}, {""}},
      {"AddressWithBlankIsAnotherAddress",
       {{"1.1.1.1", "ann"}, {"1.1.1.1 ", "bob"}},
       {},
       {"ann", "bob"}},
      {"EmptyDownloadsUseUploads", {}, {{"1.1.1.1", "zed"}, {"2.2.2.2", "amy"}}, {"amy", "zed"}},
      {"UploadNameTheDownloadsHadButDidNotList",
       {{"1.1.1.1", "ann"}, {"1.1.1.1", "bob"}},
       {{"2.2.2.2", "bob"}},
       {"ann", "bob"}},
      // Alike in their first eight bytes and in the hashes' low halves, which the pools' slots
      // compare first: the whole texts still differ.
      {"NamesThatCollideButInTheirLastBytes",
       {{"1", "abcdefgh14242"}, {"2", "abcdefgh47420"}},
       {},
       {"abcdefgh14242", "abcdefgh47420"}},
      {"BothEmpty", {}, {}, {}}};
  for (const UserListCase& c : cases)
    EXPECT_EQ(CollectUserNames(TableOf(Rows(c.downloads)), TableOf(Rows(c.uploads))), c.expected)
        << c.label;
}

// The users of the whole-population views: every Name on a row of either table, whatever its
// Address, once, in display order; after renames and removals only the names still on a row.
TEST(EveryUser, EveryNameOnARowCountsWhateverItsAddress) {
  const UserListCase cases[] = {
      {"TwoNamesOnOneAddress", {{"1.1.1.1", "bob"}, {"1.1.1.1", "ann"}}, {}, {"ann", "bob"}},
      {"SharedAddressInBothTables",
       {{"1.1.1.1", "ann"}},
       {{"1.1.1.1", "cat"}, {"1.1.1.1", "ann"}},
       {"ann", "cat"}},
      {"EmptyAddress", {{"", "ann"}}, {{"", "Bob"}}, {"ann", "Bob"}},
      {"EmptyName", {{"1.1.1.1", "zed"}, {"1.1.1.1", ""}}, {}, {"", "zed"}},
      {"UploadsOnlyBehindAnAddressUsedFirst",
       {{"1.1.1.1", "wren"}},
       {{"1.1.1.1", "wren"}, {"1.1.1.1", "sysop"}},
       {"sysop", "wren"}},
      {"BothEmpty", {}, {}, {}}};
  for (const UserListCase& c : cases) {
    EXPECT_EQ(CollectEveryUserName(TableOf(Rows(c.downloads)), TableOf(Rows(c.uploads))),
              c.expected)
        << c.label;
  }
  {
    // Tens of thousands of names, every other upload name a download name too: each listed once,
    // against a list made here of the texts.
    std::vector<std::pair<std::string, std::string>> downloadRows, uploadRows;
    std::set<std::string> texts;
    const auto name = [](char letter, int i) {
      return std::string(1, letter).append(std::to_string(i));
    };
    for (int i = 0; i < 70000; ++i) {
      downloadRows.emplace_back("1", name('d', i));
      uploadRows.emplace_back("2", name(i % 2 == 0 ? 'd' : 'u', i));
      texts.insert(downloadRows.back().second);
      texts.insert(uploadRows.back().second);
    }
    // Small letters and digits only: display order is byte order.
    EXPECT_EQ(CollectEveryUserName(TableOf(Rows(downloadRows)), TableOf(Rows(uploadRows))),
              Names(texts.begin(), texts.end()));
  }
  LogTable downloads = TableOf(Rows({{"1", "ann"}, {"1", "bob"}}));
  // Uploads whose names are mostly on no row any more (looked up the other way round).
  LogTable uploads = TableOf(Rows({{"2", "cat"}, {"2", "dan"}, {"2", "eve"}, {"2", "fay"}}));
  downloads.RenameUser("ann", "dan");
  for (int row = 3; row > 0; --row)
    uploads.RemoveRow(row);
  EXPECT_EQ(CollectEveryUserName(downloads, uploads), (Names{"bob", "cat", "dan"}));
  const std::vector<ListedUser> ids = ListEveryUser(downloads, uploads);
  ASSERT_EQ(ids.size(), 3u);
  EXPECT_EQ(ids[1].downloadId, kNoName);
  EXPECT_EQ(uploads.NameText(ids[1].uploadId), "cat");
  EXPECT_EQ(downloads.NameText(ids[2].downloadId), "dan");
  EXPECT_EQ(uploads.NameText(ids[2].uploadId), "dan");  // found by its text, though on no row
}

// The list after a rename, from the list before, is the list a full pass over the renamed tables
// makes: renames into a listed name, a new one, an unlisted one, one of another case, itself.
TEST(UserList, RenamedListIsTheListOfTheRenamedTables) {
  const std::vector<std::pair<std::string, std::string>> renames = {
      {"bob", "ann"},  {"cy", "Zoe"}, {"hidden", "amy"}, {"ann", "ANN"},  {"Zoe", "Zoe"},
      {"nobody", "x"}, {"ANN", ""},   {"", "émile"},     {"dee", "Émile"}};
  LogTable downloads =
      TableOf(Rows({{"1", "bob"}, {"1", "hidden"}, {"2", "ann"}, {"3", "cy"}, {"4", ""}}));
  LogTable uploads = TableOf(Rows({{"1", "dee"}, {"5", "hidden"}, {"5", "bob"}}));
  std::vector<std::string> names = CollectUserNames(downloads, uploads);
  for (const auto& [from, to] : renames) {
    downloads.RenameUser(from, to);
    uploads.RenameUser(from, to);
    names = RenamedUserNames(std::move(names), from, to);
    EXPECT_EQ(names, CollectUserNames(downloads, uploads)) << from << " -> " << to;
  }
}

TEST(DisplayOrder, IgnoresCaseOfEveryLetterThenUsesCodePoints) {
  Names names = {"b",    "\u00DCber",  "A",   "\u00FCber", "a",  "\u00C9mile",
                 "emil", "\u00E9mile", "Zed", "_x",        "10", "9"};
  SortForDisplay(names);
  EXPECT_EQ(names, (Names{"10", "9", "_x", "A", "a", "b", "emil", "Zed", "\u00C9mile", "\u00E9mile",
                          "\u00DCber", "\u00FCber"}));
}

// Tens of thousands of names, so that they are ordered by their bytes and on two cores: letters
// of both cases, a folded pair outside ASCII, zero bytes and digits, up to 40 bytes long, many
// alike for longer than the bytes taken at once; against folding done here by hand.
TEST(DisplayOrder, ManyNamesAlikeForLongStretchesSortAsTheirFoldedTexts) {
  const std::string pieces[] = {"a", "b", "Z",      "A",      std::string(1, '\0'),
                                "0", "9", "\u00C9", "\u00E9", "_"};
  const auto folded = [](std::string name) {
    for (std::size_t at = 0; (at = name.find("\u00C9", at)) != std::string::npos;)
      name.replace(at, 2, "\u00E9");
    for (char& c : name)
      c = c == 'A' ? 'a' : c == 'Z' ? 'z' : c;
    return name;
  };
  std::mt19937 random(7);
  std::set<std::pair<std::string, std::string>> byFolded;  // in display order
  while (byFolded.size() < 70000) {
    std::string name = random() % 5 < 3 ? "userAbc" : "";  // more than half: one part
    for (std::size_t n = random() % 34; n > 0; --n)
      name += pieces[random() % (n > 4 ? 3 : 10)];
    byFolded.emplace(folded(name), name);
  }
  Names expected;
  for (const auto& [key, name] : byFolded)
    expected.push_back(name);
  Names names = expected;
  std::shuffle(names.begin(), names.end(), random);
  SortForDisplay(names);
  const std::size_t right =
      std::mismatch(names.begin(), names.end(), expected.begin()).first - names.begin();
  EXPECT_EQ(right, names.size()) << "first out of place: "
                                 << ::testing::PrintToString(names[right]);
}

// Names one half of which are alike in a byte where only the other half's differ, given in that
// order: the bytes that differ anywhere must be found whichever half has them, in the first
// eight key bytes and in the three after. Small ASCII letters only, so byte order is the display
// order.
TEST(DisplayOrder, NamesThatDifferInOneHalfOnlySortAsTheirBytes) {
  struct Family {
    std::string prefix;  // then the byte that differs, then five digits
    std::string values;  // what that byte is in the half where it differs; '0' in the other
    std::string alone;   // a name after them, alone in its first bytes past the prefix, or none
  };
  // Alike in their first eight key bytes, in the three after, and (the last) beyond them all.
  for (const Family& family :
       {Family{"name-", " 0", ""}, Family{"name-", "0p", ""}, Family{"namesabc-", " 0", ""},
        Family{"namesabc-", "0p", ""}, Family{"namesabcdefgh-", " 0", "q00000"}}) {
    for (int differing : {0, 1}) {
      constexpr int kHalf = 40000;
      Names names;
      for (int i = 0; i < 2 * kHalf; ++i) {
        char digits[8];
        std::snprintf(digits, sizeof digits, "%05d", i);
        const char byte =
            i / kHalf == differing ? family.values[static_cast<std::size_t>(i % 2)] : '0';
        names.push_back(family.prefix + byte + digits);
      }
      if (!family.alone.empty())
        names.push_back(family.prefix + family.alone);
      Names expected = names;
      std::sort(expected.begin(), expected.end());
      SortForDisplay(names);
      EXPECT_EQ(names, expected) << family.prefix << " with '" << family.values << "' in half "
                                 << differing;
    }
  }
}

TEST(ContainsFolded, FindsThePartWhateverTheCaseOfAnyLetter) {
  const char* odon = "\xC3\x96\x64\xC3\xB6n";  // Ödön
  const std::vector<std::tuple<const char*, const char*, bool>> cases = {
      {"JoeSmith", "esm", true}, {"joe", "JOE", true},   {"joe", "", true},
      {"", "a", false},          {"joe", "joey", false}, {odon, "\xC3\xB6\x44", true},  // öD
      {odon, "od", false}};  // a diaeresis is not folded away
  for (const auto& [text, part, found] : cases)
    EXPECT_EQ(ContainsFolded(text, part), found) << text << " / " << part;
}

// Pools of tens of thousands of texts (lengths 0 to 40, so inline and packed alike), copied,
// and one's texts interned into, appended to or looked up in another: every id as a map kept
// here says.
TEST(StringPool, PoolsInternedIntoAndLookedUpInOthersKeepEveryIdAndText) {
  std::vector<std::string> texts, others;  // all distinct; `others` by their ids in `other`
  for (std::size_t i = 0; i < 60000; ++i)
    texts.push_back(std::string(i % 41, static_cast<char>('a' + i % 7)) + std::to_string(i / 2));
  std::map<std::string, std::uint32_t> here;  // the ids `pool` should give
  StringPool pool, other;
  for (std::size_t i = 0; i < texts.size(); i += 2) {
    here.emplace(texts[i], static_cast<std::uint32_t>(here.size()));
    ASSERT_EQ(pool.Intern(texts[i]), here.at(texts[i])) << texts[i];
  }
  for (std::size_t i = texts.size(); i-- > 0;) {
    if (i % 3 == 0)
      continue;
    others.push_back(texts[i]);
    ASSERT_EQ(other.Intern(texts[i]), others.size() - 1);
  }
  StringPool copy(pool), appended(pool), indexed(pool);
  appended.DropIndex();
  indexed.DropIndex();
  indexed.Index();
  const std::vector<std::uint32_t> found = pool.FindAll(other, UINT32_MAX);
  const std::vector<std::uint32_t> interned = copy.InternAll(other);
  EXPECT_EQ(appended.AppendAll(other), interned);
  for (std::uint32_t id = 0; id < others.size(); ++id) {
    const auto known = here.find(others[id]);
    EXPECT_EQ(found[id], known != here.end() ? known->second : UINT32_MAX) << others[id];
    here.emplace(others[id], static_cast<std::uint32_t>(here.size()));  // new: the next id
    ASSERT_EQ(interned[id], here.at(others[id])) << others[id];
  }
  ASSERT_EQ(copy.Size(), here.size());
  for (const auto& [text, id] : here) {
    ASSERT_EQ(copy.Text(id), text);
    ASSERT_EQ(appended.Intern(text), id) << text;  // its table made again
    ASSERT_EQ(pool.Find(text), id < pool.Size() ? std::optional(id) : std::nullopt) << text;
    ASSERT_EQ(indexed.Find(text), pool.Find(text)) << text;
  }
  // Lengths at each edge of their one, two and three bytes, and past a block's quarter.
  StringPool edges;
  const std::size_t lengths[] = {0, 1, 127, 128, 129, 16383, 16384, 16385, 20000, 70000};
  for (const std::size_t length : lengths)
    edges.Intern(std::string(length, 'x') + "\x80");
  for (std::uint32_t id = 0; id < std::size(lengths); ++id) {
    const std::string text = std::string(lengths[id], 'x') + "\x80";
    ASSERT_EQ(edges.Text(id), text) << lengths[id];
    ASSERT_EQ(edges.Intern(text), id) << lengths[id];
    ASSERT_FALSE(edges.Find(text.substr(0, text.size() - 1))) << lengths[id];
  }
}

// An address's names compared first by their length and first bytes: names of every length up
// to past 16 bytes (the builder's heads hold 8) that differ from the address's last name only in
// their last byte, a trailing zero byte or its length, on two addresses, across the builder's
// batches.
TEST(LogTableBuilder, NamesAlikeInTheirHeadsStayApart) {
  std::vector<std::string> names;
  for (std::size_t length = 0; length <= 18; ++length) {
    std::string name;
    for (std::size_t i = 0; i < length; ++i)
      name += static_cast<char>('a' + (i * 7 + length) % 26);
    const std::string variants[] = {name, name + std::string(1, '\0'), name.empty() ? "z" : name};
    for (const std::string& variant : variants)
      names.push_back(variant);
    names.back().back() ^= 1;
    names.push_back(name);
  }
  std::vector<LogTableBuilder::Cells> rows;
  for (std::size_t row = 0; row < names.size(); ++row)
    rows.push_back({{}, row % 3 ? "10.0.0.1" : "10.0.0.2", {}, names[row], {}});
  // Five rows, then the rest compared with the names they leave; or one row a call.
  for (const bool oneByOne : {false, true}) {
    LogTableBuilder builder(KeptCells{false, false, false});
    for (std::size_t at = 0; at < rows.size();) {
      const std::size_t count = oneByOne ? 1 : at == 0 ? 5 : rows.size() - at;
      builder.AddRows(rows.data() + at, count);
      at += count;
    }
    const LogTable table = std::move(builder).Finish(Encoding::Utf8);
    ASSERT_EQ(table.RowCount(), names.size());
    for (std::size_t row = 0; row < names.size(); ++row)
      EXPECT_EQ(table.Name(row), names[row]) << "row " << row << (oneByOne ? ", one by one" : "");
    EXPECT_EQ(table.NameIdCount(), std::set<std::string>(names.begin(), names.end()).size());
  }
}

// Every cell, date and name of a table, as text: what a reader sees.
std::string Dump(const LogTable& table) {
  std::string text;
  for (std::size_t row = 0; row < table.RowCount(); ++row) {
    for (int c = 0; c < kColumnCount; ++c)
      text += table.CellText(row, static_cast<Column>(c)) + '|';
    text += FormatTimestamp(table.Date(row)) + '\n';
  }
  return text;
}

// Rows appended in pieces, in any encoding, read as the whole file read at once does; equal
// names share one id across the pieces.
TEST(AppendRows, PiecesReadAsTheWhole) {
  const std::vector<std::vector<std::string>> rows = {
      {"3/14/2025 9:07:45 PM", "10.0.0.1", "guest", "Alice", "a.sit"},
      {"3/15/2025 9:07:45 PM", "10.0.0.2", "bob", "Bob", "b.sit"},
      {"3/16/2025 9:07:45 PM", "10.0.0.1", "guest", "Alice", "c.sit"},
      {"3/17/2025 1:00:00 AM", "10.0.0.3", "x", "Bob", "a.sit"}};
  ReadOptions options;
  options.dates = DateOrder::Detect;
  const auto read = [&](std::size_t first, std::size_t last, std::string_view name) {
    std::vector<std::vector<std::string>> part(rows.begin() + first, rows.begin() + last);
    if (!name.empty())
      part.back()[3] = name;
    ReadResult result = ParseLog(testing::LogText(part), options);
    EXPECT_TRUE(result.Ok()) << result.error.reason;
    return std::move(*result.table);
  };
  struct Case {
    std::size_t split;
    std::string lastName;  // the last row's Name, bytes as its file has them
  } cases[] = {{0, ""},
               {1, ""},
               {3, ""},
               {4, ""},
               {2,
                "Ren\xE9"
                "e"},
               {3,
                "Ren\xC3\xA9"
                "e"}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.split);
    LogTable whole = read(0, rows.size(), c.lastName);
    LogTable table = c.split == 0 ? LogTable() : read(0, c.split, "");
    if (c.split < rows.size())
      table.AppendRows(read(c.split, rows.size(), c.lastName));
    table.AppendRows(read(0, 1, ""), 1);  // nothing past the end
    EXPECT_EQ(Dump(table), Dump(whole));
    EXPECT_EQ(table.NameId(0), table.NameId(2));
    EXPECT_EQ(table.AddressId(0), table.AddressId(2));
  }
}

// A code-page table given non-ASCII text of another encoding becomes UTF-8, and its old rows
// still read as before; ASCII leaves it as it was.
TEST(AppendRows, OtherEncodingsStayReadable) {
  LogTable table = TableOf({{"d", "1", "c", "M\xFCller", "f\xE9"}});
  ASSERT_EQ(table.TextEncoding(), Encoding::Windows1252);
  table.AppendRows(TableOf({{"d", "2", "c", "plain", "f"}}));
  EXPECT_EQ(table.TextEncoding(), Encoding::Windows1252);
  table.AppendRows(TableOf({{"d", "3", "c", "M\xC3\xBCller", "\xE5\xB1\xB1"}}));
  EXPECT_EQ(Dump(table),
            "d|1|c|M\xC3\xBCller|f\xC3\xA9|\nd|2|c|plain|f|\n"
            "d|3|c|M\xC3\xBCller|\xE5\xB1\xB1|\n");
  EXPECT_EQ(table.NameId(0), table.NameId(2));
}

// A replaced row reads as its new line, dates too; the rows around it and a selection made
// before stay as they were.
TEST(ReplaceRow, PutsTheNewRowInPlace) {
  LogTable table =
      TableOf({{"3/14/2025", "a", "c", "one", "f1"}, {"3/15/2025", "b", "c", "tw", "f"}});
  table.ReadDates(DateOrder::Detect);
  const LogTable before = table.SelectRows({1});
  LogTable line = TableOf({{"3/16/2025", "b", "c", "two", "f2"}});
  line.ReadDates(DateOrder::Detect);
  table.ReplaceRow(1, line, 0);
  EXPECT_EQ(Dump(table),
            "3/14/2025|a|c|one|f1|2025-03-14 00:00:00\n"
            "3/16/2025|b|c|two|f2|2025-03-16 00:00:00\n");
  EXPECT_EQ(Dump(before), "3/15/2025|b|c|tw|f|2025-03-15 00:00:00\n");
  EXPECT_THROW(table.ReplaceRow(2, line, 0), std::out_of_range);
  EXPECT_THROW(table.ReplaceRow(0, line, 1), std::out_of_range);
}

// Date/Time cells read as the file wrote them whether the table writes them back from their
// dates or keeps them (odd forms, forms past the few it keeps, undated cells), and so do Accounts
// (more than a pool's first size, the empty one among them), through every change of dates and
// every way of making a table from another.
TEST(KeptCells, ReadAsWrittenThroughEveryChange) {
  std::vector<std::string> dates;
  std::istringstream forms(
      "3/14/2025 9:07:45 PM|12/14/2025 10:07:45 PM|03/04/2025 09:07|3/4/25 9:07 pm|"
      "2025-03-14T21:07:45-07:00|2025-03-14T21:07:45.123Z|14.03.2025 21:07:45|3/14/2025 9:07:45PM|"
      "2025-3-4|12/14/2025 10:07:45  PM| 3/14/2025 9:07:45 PM|3/14/2025 21:07:45 PM|03/4/2025|"
      "1/2/1969 0:00:00|soon||13/01/2025 00:00:00|31/31/2025 "
      "00:00:00|2025-03-14T21:07:46.124Z|12/31/9999 11:59:59 PM");
  for (std::string date; std::getline(forms, date, '|');)
    dates.push_back(date);
  std::vector<std::vector<std::string>> rows;
  for (std::size_t i = 0; i < 4 * dates.size(); ++i) {
    rows.push_back({dates[i % dates.size()], "a", i % 5 != 0 ? "acc" + std::to_string(i) : "", "n",
                    i % 7 != 0 ? "f" + std::to_string(i) : ""});
  }
  ReadOptions options;
  options.dates = DateOrder::Detect;
  ReadResult read = ParseLog(testing::LogText(rows), options);
  ASSERT_TRUE(read.Ok()) << read.error.reason;
  LogTable table = std::move(*read.table);
  const auto expectCells = [&](const LogTable& t, const std::vector<std::size_t>& order) {
    ASSERT_EQ(t.RowCount(), order.size());
    for (std::size_t row = 0; row < order.size(); ++row) {
      const std::vector<std::string>& cells = rows[order[row]];
      EXPECT_EQ(std::string(t.CellBytes(row, Column::DateTime)) + '|' +
                    std::string(t.CellBytes(row, Column::Account)) + '|' +
                    std::string(t.CellBytes(row, Column::FileName)),
                cells[0] + '|' + cells[2] + '|' + cells[4]);
    }
  };
  std::vector<std::size_t> all(rows.size());
  for (std::size_t row = 0; row < rows.size(); ++row)
    all[row] = row;
  const std::vector<std::size_t> reversed(all.rbegin(), all.rend());
  expectCells(table, all);
  for (const DateOrder order : {DateOrder::DayFirst, DateOrder::MonthFirst}) {
    options.dates = order;  // what the order leaves undated is kept as text
    const ReadResult given = ParseLog(testing::LogText(rows), options);
    ASSERT_TRUE(given.Ok());
    expectCells(*given.table, all);
  }
  // File Names shared with a table read in the other order: each text has one id in both, and
  // every change below keeps it.
  std::vector<std::vector<std::string>> backwards(rows.rbegin(), rows.rend());
  ReadResult other = ParseLog(testing::LogText(backwards), options);
  ASSERT_TRUE(other.Ok());
  LogTable::ShareFileNames(*other.table, table);
  ASSERT_TRUE(table.SharesFileNames(*other.table));
  expectCells(table, all);
  for (std::size_t row = 0; row < rows.size(); ++row) {
    EXPECT_EQ(table.FileNameId(row), other.table->FileNameId(rows.size() - 1 - row));
    for (std::size_t next = 0; next < rows.size(); ++next)
      EXPECT_EQ(table.FileNameId(row) == table.FileNameId(next), rows[row][4] == rows[next][4]);
  }
  for (const DateOrder order : {DateOrder::DayFirst, DateOrder::MonthFirst}) {
    table.ReadDates(order);
    expectCells(table, all);
    const std::vector<Timestamp> expected = ParseDateColumn(
        rows.size(), [&](std::size_t row) { return rows[row][0]; }, order);
    for (std::size_t row = 0; row < rows.size(); ++row)
      EXPECT_EQ(table.Date(row), expected[row]) << rows[row][0];
  }
  expectCells(table.SelectRows(reversed), reversed);
  LogTable appended;
  appended.AppendRows(table);
  expectCells(appended, all);
  std::vector<std::size_t> twice = all;
  twice.insert(twice.end(), all.begin(), all.end());
  expectCells(LogTable::Join({{&table, 0}, {&appended, 0}}, KeptCells{}, true), twice);
  std::vector<Timestamp> later(rows.size());
  for (std::size_t row = 0; row < rows.size(); ++row)
    later[row] = table.Date(row) == kUndated ? kUndated : table.Date(row) + 86400 * 40 + 3601;
  // A history's rows come with their dates, given when the table is finished.
  LogTableBuilder builder;
  builder.ExpectDates();
  for (const std::vector<std::string>& cells : rows) {
    const LogTableBuilder::Cells row{cells[0], cells[1], cells[2], cells[3], cells[4]};
    builder.AddRows(&row, 1);
  }
  const LogTable given = std::move(builder).Finish(Encoding::Utf8, later, DateOrder::MonthFirst);
  expectCells(given, all);
  EXPECT_EQ(given.Date(0), later[0]);
  table.DropDates();
  expectCells(table, all);
}

}  // namespace
}  // namespace quorvane
