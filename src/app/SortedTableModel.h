#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <vector>

#include "app/ReadOnlyTableModel.h"

namespace quorvane {

// Items (users, files) shown as rows through a list of their indices, sorted by any column and
// filtered here rather than in a proxy, so hundreds of thousands of rows sort and filter at once.
// Items tied on the sort column keep their own order, in either direction.
class SortedTableModel : public ReadOnlyTableModel {
 public:
  int SortColumn() const { return sortColumn_; }
  Qt::SortOrder SortOrder() const { return sortOrder_; }

  int rowCount(const QModelIndex& parent = {}) const override;
  int columnCount(const QModelIndex& parent = {}) const override;
  QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
  QVariant headerData(int section, Qt::Orientation orientation,
                      int role = Qt::DisplayRole) const override;
  // The selection and the current row follow their items to their new rows.
  void sort(int column, Qt::SortOrder order = Qt::AscendingOrder) override;

 protected:
  // `textColumns`: a bit per column whose cells are text, read from the left (figures from the
  // right).
  SortedTableModel(int columns, unsigned textColumns, int sortColumn, Qt::SortOrder order,
                   QObject* parent);

  template <typename T>
  static int Compare(const T& a, const T& b) {
    return a < b ? -1 : (b < a ? 1 : 0);
  }
  // Negative, zero or positive as item a's key in `column` is below, equal to or above b's.
  virtual int CompareOn(int column, std::size_t a, std::size_t b) const = 0;
  virtual bool Passes(std::size_t item) const = 0;
  // A cell's text in `role` (never its alignment).
  virtual QVariant Cell(std::size_t item, int column, int role) const = 0;
  // A column's caption or tooltip.
  virtual QVariant Header(int section, int role) const = 0;

  // What became of the items in a change: their count after; each item's new index, or -1 for
  // an item gone (in the items' order; none: they kept their indices); the items, by their new
  // indices, whose keys changed.
  struct Moved {
    std::size_t count = 0;
    std::function<std::int64_t(std::uint32_t)> renumber;
    std::vector<std::uint32_t> changed;
  };
  // A change of a few items as a change of layout, at the cost of a pass over the rows rather
  // than a sort: `change` edits the items and says what became of them; the others keep their
  // order. The selection and the current row follow their items.
  void Rearrange(const std::function<Moved()>& change);
  // Within a reset: `count` items, sorted anew and filtered.
  void Arrange(std::size_t count);
  // Within a reset: the items filtered again, in the order they have.
  void Refilter();
  std::size_t ItemAt(int row) const { return Shown().at(static_cast<std::size_t>(row)); }
  // The items shown, in the order shown.
  const std::vector<std::uint32_t>& Shown() const { return all_ ? order_ : shown_; }

 private:
  QVariant Alignment(int column) const;
  // Whether item a stands before item b in the sort order.
  bool Before(std::uint32_t a, std::uint32_t b) const;

  int columns_;
  unsigned textColumns_;
  int sortColumn_;
  Qt::SortOrder sortOrder_;
  std::vector<std::uint32_t> order_;  // every item, in the sort order
  std::vector<std::uint32_t> shown_;  // the items passing the filter, in the sort order
  bool all_ = true;                   // every item passes: order_ is what is shown
};

}  // namespace quorvane
