#include <gtest/gtest.h>

#include <random>

#include "analysis/LiveUserFigures.h"
#include "logs/UserList.h"
#include "support/TempLogs.h"

namespace quorvane {
namespace {

std::string Line(const UserFigures& f) {
  return f.name + " " + std::to_string(f.downloads) + "/" + std::to_string(f.uploads) + " credit " +
         std::to_string(f.credit) + " addresses " + std::to_string(f.addresses) + " " +
         FormatTimestamp(f.firstSeen) + ".." + FormatTimestamp(f.lastSeen);
}
std::string Lines(const std::vector<UserFigures>& figures) {
  std::string text;
  for (const UserFigures& f : figures)
    text += Line(f) + '\n';
  return text;
}

// Random appends, removals and renames over a few names, files and addresses (so that uploaders
// share files, users fetch their own files, and users vanish and return), in two encodings: after
// each step the kept figures equal a computation over the tables from scratch, whether the tables
// share their File Names or not. Some histories
// start from, or take, thousands of rows at once, as a load does.
TEST(LiveUserFigures, EqualComputingAfreshAfterEveryChange) {
  const char* names[] = {"ann", "bob", "", "M\xFCller", "Ann"};
  const char* cells[] = {"1", "2", "3", "x\xE9"};
  // Years beyond 32-bit seconds since 1970 on either side, and a file name too long to pack.
  const char* years[] = {"2025", "2025", "1969", "2107"};
  const std::string longFile(1 << 15, 'f');
  for (unsigned seed = 1; seed <= 20; ++seed) {
    std::mt19937 random(seed);
    const auto pick = [&](auto& from) { return std::string(from[random() % std::size(from)]); };
    const auto rows = [&](std::size_t count) {
      std::vector<std::vector<std::string>> made;
      for (std::size_t i = 0; i < count; ++i) {
        const std::string day = random() % 5 == 0 ? "soon" : std::to_string(random() % 28 + 1);
        std::string name = pick(names);
        if (seed % 2 == 0 && name == "M\xFCller")
          name = "M\xC3\xBCller";  // a UTF-8 table instead of a code page's
        // Now and then one of thousands of files, so that their index grows.
        std::string file = pick(cells);
        if (random() % 8 == 0)
          file = std::to_string(random() % 3000);
        else if (random() % 64 == 0)
          file = longFile + pick(cells);
        // Times of day now and then, so that a user's earliest and latest are single rows.
        const std::string time = random() % 2 ? " 10:" + std::to_string(random() % 50 + 10) : "";
        made.push_back({"3/" + day + "/" + pick(years) + time, pick(cells), "acct", name, file});
      }
      LogTable table = testing::TableOf(made);
      table.ReadDates(DateOrder::MonthFirst);
      return table;
    };
    const std::size_t start = seed % 4 == 1 ? 5000 : 3;
    LogPair tables{rows(start), rows(seed % 8 == 1 ? 3 : start)};
    // Most pairs share their File Names, as a load's do; appended rows grow the shared texts,
    // until a table turned UTF-8 takes texts of its own.
    if (seed % 3 != 0)
      LogTable::ShareFileNames(tables.downloads, tables.uploads);
    ASSERT_EQ(tables.downloads.SharesFileNames(tables.uploads),
              seed % 3 != 0 && tables.downloads.TextEncoding() == tables.uploads.TextEncoding());
    LiveUserFigures live(tables.downloads, tables.uploads);
    // Now and then one user's latest (odd seeds: earliest) dated rows go one after another,
    // past the few kept at either end.
    std::string drained;
    int draining = 0;
    for (int step = 0; step < 80; ++step) {
      LogKind kind = random() % 2 ? LogKind::Upload : LogKind::Download;
      std::optional<std::size_t> row;
      if (draining > 0 || random() % 10 == 0) {
        if (draining == 0) {
          drained = pick(names);
          draining = 12;
        }
        --draining;
        for (const LogKind side : {LogKind::Download, LogKind::Upload}) {
          const LogTable& t = side == LogKind::Upload ? tables.uploads : tables.downloads;
          for (std::size_t at = 0; at < t.RowCount(); ++at) {
            const Timestamp end =
                row ? (kind == LogKind::Upload ? tables.uploads : tables.downloads).Date(*row) : 0;
            if (t.Name(at) == drained && t.Date(at) != kUndated &&
                (!row || (seed % 2 ? t.Date(at) < end : t.Date(at) > end))) {
              kind = side;
              row = at;
            }
          }
        }
      }
      LogTable& table = kind == LogKind::Upload ? tables.uploads : tables.downloads;
      const auto what = row ? 3 : random() % 6;
      if (what < 3) {
        const std::size_t before = table.RowCount();
        table.AppendRows(rows(step % 20 == 19 ? 4100 : random() % 4 + 1));
        live.AddRows(kind, table, before, table.RowCount());
      } else if (what < 5 && !table.Empty()) {
        if (!row)
          row = random() % table.RowCount();
        live.RemoveRow(kind, tables.downloads, tables.uploads, *row);
        table.RemoveRow(*row);
      } else {
        // Often the user drained last, into another whose ends then go too.
        const bool merge = !drained.empty() && random() % 2;
        const std::string from = merge ? drained : pick(names), to = pick(names);
        tables.downloads.RenameUser(from, to);
        tables.uploads.RenameUser(from, to);
        live.Rename(from, to);
        if (merge) {
          drained = to;
          draining = 12;
        }
      }
      const std::vector<UserFigures> fresh = ComputeUserFigures(
          tables.downloads, tables.uploads, CollectEveryUserName(tables.downloads, tables.uploads));
      ASSERT_EQ(Lines(live.Figures()), Lines(fresh)) << "seed " << seed << " step " << step;
      if (!fresh.empty()) {
        EXPECT_EQ(Line(*live.Find(fresh.front().name)), Line(fresh.front()));
      }
    }
  }
}

// A user's earliest (or latest) rows go past the few it keeps, then it is renamed into a user
// whose every date lies beyond its own: the dates it no longer keeps still come first (last).
TEST(LiveUserFigures, MergedUserKeepsTheDatesNeitherKept) {
  for (const bool latest : {false, true}) {
    std::vector<std::vector<std::string>> made;
    for (int day = 1; day <= 28; ++day) {
      made.push_back({"3/" + std::to_string(day) + "/2025", "1", "acct",
                      day <= 4 ? "bob" : (day <= 24 ? "ann" : "cy"), "f"});
    }
    LogPair tables{testing::TableOf(made), testing::TableOf({made.front()})};
    tables.downloads.ReadDates(DateOrder::MonthFirst);
    tables.uploads.ReadDates(DateOrder::MonthFirst);
    LiveUserFigures live(tables.downloads, tables.uploads);
    // The rows lie in date order.
    const auto removeEnd = [&](std::string_view name) {
      std::optional<std::size_t> end;
      for (std::size_t row = 0; row < tables.downloads.RowCount(); ++row) {
        if (tables.downloads.Name(row) == name && (latest || !end))
          end = row;
      }
      live.RemoveRow(LogKind::Download, tables.downloads, tables.uploads, *end);
      tables.downloads.RemoveRow(*end);
    };
    for (int i = 0; i < 6; ++i)
      removeEnd("ann");
    const std::string into = latest ? "bob" : "cy";
    tables.downloads.RenameUser("ann", into);
    live.Rename("ann", into);
    removeEnd(into);
    removeEnd(into);
    EXPECT_EQ(Lines(live.Figures()),
              Lines(ComputeUserFigures(tables.downloads, tables.uploads,
                                       CollectEveryUserName(tables.downloads, tables.uploads))))
        << (latest ? "latest" : "earliest");
  }
}

}  // namespace
}  // namespace quorvane
