#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "logs/LogTable.h"
#include "logs/Progress.h"

namespace quorvane {

// The user names of both logs, each once, in display order. A row brings in its Name when its
// Address is not empty and no earlier row of the same table has that Address; names compare
// exactly. The passes report progress per table.
std::vector<std::string> CollectUserNames(const LogTable& downloads, const LogTable& uploads,
                                          const ProgressFn& downloadProgress = {},
                                          const ProgressFn& uploadProgress = {});

// What CollectUserNames lists, kept as rows are appended to the tables (following): a new row
// brings in a name only when its Address is new to its table, and takes none out, so it costs a
// look-up, not a pass; the list is sorted again only when a name came in.
class GrowingUserList {
 public:
  // One pass over each table, the progress as CollectUserNames reports it.
  GrowingUserList(const LogTable& downloads, const LogTable& uploads,
                  const ProgressFn& downloadProgress = {}, const ProgressFn& uploadProgress = {});
  // Takes the rows appended since (the rows taken before must not have changed); true when a
  // name came in.
  bool Grow(const LogTable& downloads, const LogTable& uploads);
  std::size_t RowsTaken(bool uploads) const { return rows_[uploads ? 1 : 0]; }
  const std::vector<std::string>& Names() const { return names_; }

 private:
  // A name the rows taken brought into the list: its id in the table that brought it.
  struct Brought {
    bool uploads;
    std::uint32_t id;
  };
  std::vector<Brought> Take(const LogTable& downloads, const LogTable& uploads,
                            const ProgressFn& downloadProgress, const ProgressFn& uploadProgress);
  // By table: the Addresses and the Names (by id) its rows taken brought in.
  std::vector<bool> addressSeen_[2];
  std::vector<bool> nameSeen_[2];
  std::size_t rows_[2] = {0, 0};
  std::vector<std::string> names_;  // in display order
};

// A user of the user list by the Name id the name has in each log, kNoName where it has none.
inline constexpr std::uint32_t kNoName = UINT32_MAX;
struct ListedUser {
  std::uint32_t downloadId = kNoName;
  std::uint32_t uploadId = kNoName;
};

// What CollectUserNames lists, in the same order, as ids: no name is copied.
std::vector<ListedUser> ListUsers(const LogTable& downloads, const LogTable& uploads,
                                  const ProgressFn& downloadProgress = {},
                                  const ProgressFn& uploadProgress = {});

// What CollectUserNames lists once every Name `from` of both tables says `to`
// (LogTable::RenameUser), from what it listed before, without a pass over the rows: the same row
// stands first for each Address, so `from` gives way to `to`, once, in display order.
std::vector<std::string> RenamedUserNames(std::vector<std::string> names, std::string_view from,
                                          std::string_view to);

// Every distinct Name text that stands on a row of either table, whatever the row's Address (the
// empty Name too), each once, in display order: the users of the views of the whole population.
// One pass over each table.
std::vector<ListedUser> ListEveryUser(const LogTable& downloads, const LogTable& uploads);
// The same users not yet in display order, and that order of such a list: a caller that
// needs only the names of the tables to sort by can let the rest go in between.
// Each table's rows per Name id, when the caller counted them already, spare a pass over them.
std::vector<ListedUser> ListEveryUserUnordered(
    const LogTable& downloads, const LogTable& uploads,
    const std::vector<std::uint32_t>* downloadRows = nullptr,
    const std::vector<std::uint32_t>* uploadRows = nullptr);
void OrderForDisplay(std::vector<ListedUser>& users, const LogTable& downloads,
                     const LogTable& uploads);
std::vector<std::string> CollectEveryUserName(const LogTable& downloads, const LogTable& uploads);

// Display order: letters compare without regard to case (any script, not only ASCII); names
// equal that way are ordered by their exact code points.
void SortForDisplay(std::vector<std::string>& names);

// Whether `part` occurs in `text` when both are folded as the display order folds them; an empty
// part occurs in every text.
bool ContainsFolded(std::string_view text, std::string_view part);

}  // namespace quorvane
