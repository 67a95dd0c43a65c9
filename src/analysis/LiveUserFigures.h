#pragma once

#include <atomic>
#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "analysis/UserFigures.h"
#include "logs/LogLoader.h"

namespace quorvane {

// Every user's figures (the users of the whole-population views: each distinct Name on a row of
// either table) kept up to date as rows arrive, go and are renamed, at the cost of what changed:
// each user keeps counts (of each date, address and file) so that a row taken away is taken out
// exactly. Figures() equals ComputeUserFigures over CollectEveryUserName of the same tables.
// Texts of both tables are compared as UTF-8, so tables of different encodings may feed it.
class LiveUserFigures {
 public:
  LiveUserFigures() = default;
  // Takes every row of both tables. A caller on another thread may give up on it: when `cancel`
  // turns true the figures stop part way (Complete() false) and are of no use.
  LiveUserFigures(const LogTable& downloads, const LogTable& uploads,
                  const std::atomic<bool>* cancel = nullptr);
  bool Complete() const { return complete_; }

  // Rows [first, last) of a table, once they are in it.
  void AddRows(LogKind table, const LogTable& rows, std::size_t first, std::size_t last);
  // A row of a table, before it is removed from it (or replaced: then AddRows after).
  void RemoveRow(LogKind table, const LogTable& rows, std::size_t row);
  // Every row of `from` now says `to` (LogTable::RenameUser on both tables).
  void Rename(std::string_view from, std::string_view to);

  std::size_t UserCount() const { return byName_.size(); }
  std::optional<UserFigures> Find(std::string_view name) const;
  // Every user's figures, in display order.
  std::vector<UserFigures> Figures() const;

 private:
  struct Use {
    std::size_t downloads = 0;  // of one file by one user
    std::size_t uploads = 0;
  };
  struct User {
    std::string name;
    std::size_t downloads = 0, uploads = 0, credit = 0;
    std::map<Timestamp, std::size_t> dates;
    std::unordered_map<std::uint32_t, std::size_t> addresses;
    std::unordered_map<std::uint32_t, Use> files;
  };
  struct File {
    std::size_t downloads = 0;                                              // by anyone
    std::unordered_map<std::uint32_t, std::size_t> uploadsBy, downloadsBy;  // by user
  };

  struct Ids {
    std::uint32_t user = 0, address = 0, file = 0;
  };
  Ids IdsOf(const LogTable& rows, std::size_t row);
  void Change(LogKind table, const LogTable& rows, std::size_t row, int step, Ids ids);
  static std::string Utf8Of(const LogTable& rows, std::string_view bytes);
  std::uint32_t UserOf(std::string_view name);
  static std::uint32_t IdOf(std::unordered_map<std::string, std::uint32_t>& ids, std::string text);
  UserFigures FiguresOf(const User& user) const;

  std::unordered_map<std::string, std::uint32_t> byName_;
  std::vector<User> users_;  // by id; a user without rows leaves byName_ and its slot is reused
  std::vector<std::uint32_t> freeUsers_;
  std::unordered_map<std::string, std::uint32_t> addressIds_;
  std::unordered_map<std::string, std::uint32_t> fileIds_;
  std::vector<File> files_;
  const std::atomic<bool>* cancel_ = nullptr;
  // A user's figures changed: once Figures() was asked for, only those are made again.
  void Touch(std::uint32_t user) {
    if (ordered_ && !touched_[user]) {
      touched_[user] = true;
      changed_.push_back(user);
    }
  }

  // The users' ids in display order, sorted again only once the set of names changed, and their
  // figures in that order, each made again once the user changed.
  mutable std::vector<std::uint32_t> order_;
  mutable bool ordered_ = false;
  mutable std::vector<UserFigures> figures_;
  mutable std::vector<std::uint32_t> place_;  // by user id: where in order_
  mutable std::vector<bool> touched_;         // by user id
  mutable std::vector<std::uint32_t> changed_;
  bool complete_ = true;
};

}  // namespace quorvane
