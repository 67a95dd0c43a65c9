#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "analysis/UserFigures.h"
#include "app/ReadOnlyTableModel.h"

namespace quorvane {

// The users overview's rows: every user's figures, sorted and filtered here rather than in a
// proxy, as a list of indices into the figures, so thousands of users sort and filter at once.
class UserFiguresModel : public ReadOnlyTableModel {
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

  // Replaces the users, given in display order, keeping the sort and the filter.
  void SetUsers(std::vector<UserFigures> users);
  void SetFilter(Filter filter);

  int SortColumn() const { return sortColumn_; }
  Qt::SortOrder SortOrder() const { return sortOrder_; }
  std::size_t UserCount() const { return users_.size(); }
  const UserFigures& UserAt(int row) const;
  // The row showing this user, or -1.
  int RowOf(const std::string& name) const;
  // The rows showing these users, those shown only, in one pass over the rows.
  std::vector<int> RowsOf(const std::vector<std::string>& names) const;
  // The users shown, in the order shown.
  std::vector<UserFigures> ShownUsers() const;

  int rowCount(const QModelIndex& parent = {}) const override;
  int columnCount(const QModelIndex& parent = {}) const override;
  QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
  QVariant headerData(int section, Qt::Orientation orientation,
                      int role = Qt::DisplayRole) const override;
  // Users tied on the column keep their display order, in either direction.
  void sort(int column, Qt::SortOrder order = Qt::AscendingOrder) override;

 private:
  // Negative, zero or positive as user a's key in the sort column is below, equal to or above b's.
  int CompareKeys(std::size_t a, std::size_t b) const;
  void SortAll();
  void ApplyFilter();
  bool Passes(const UserFigures& user) const;

  std::vector<UserFigures> users_;
  std::vector<double> ratios_;      // downloads per upload; infinite without uploads
  std::vector<std::size_t> order_;  // every user, in the sort order
  std::vector<std::size_t> shown_;  // the users passing the filter, in the sort order
  int sortColumn_ = User;
  Qt::SortOrder sortOrder_ = Qt::AscendingOrder;
  Filter filter_;
};

}  // namespace quorvane
