#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "analysis/UserFigures.h"
#include "app/SortedTableModel.h"

namespace quorvane {

// The users overview's rows: every user's figures. Users tied on the sort column keep their display
// order.
class UserFiguresModel : public SortedTableModel {
  Q_OBJECT

 public:
  enum Column : int {
    User,
    Downloads,
    Uploads,
    Ratio,
    Credit,
    Addresses,
    FirstSeen,
    LastSeen,
    ColumnCount
  };

  // Which users show: names containing `part` (folded as the display order folds them) and, with
  // `leechesOnly`, those the leech rule matches.
  struct Filter {
    std::string part;
    bool leechesOnly = false;
    LeechRule leeches;
  };

  explicit UserFiguresModel(QObject* parent = nullptr);

  // Replaces the users, given in display order, keeping the sort and the filter; when only
  // figures changed, only their rows move.
  void SetUsers(std::vector<UserFigures> users);
  void SetFilter(Filter filter);
  // Every row of user `from` now says `to`, whose figures are now `figures` (those of both):
  // `from`'s row goes, `to`'s changes or comes; no other row changes.
  void RenameUser(std::string_view from, const UserFigures& figures);

  std::size_t UserCount() const { return users_.size(); }
  const UserFigures& UserAt(int row) const;
  // The row showing this user, or -1.
  int RowOf(const std::string& name) const;
  // The rows showing these users, those shown only, in one pass over the rows.
  std::vector<int> RowsOf(const std::vector<std::string>& names) const;
  // The users shown, in the order shown.
  std::vector<UserFigures> ShownUsers() const;

 private:
  int CompareOn(int column, std::size_t a, std::size_t b) const override;
  bool Passes(std::size_t user) const override;
  QVariant Cell(std::size_t user, int column, int role) const override;
  QVariant Header(int section, int role) const override;

  std::vector<UserFigures> users_;
  std::vector<double> ratios_;  // downloads per upload; infinite without uploads
  Filter filter_;
};

}  // namespace quorvane
