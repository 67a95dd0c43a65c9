#include "app/SortedTableModel.h"

#include <algorithm>
#include <iterator>
#include <numeric>

namespace quorvane {

SortedTableModel::SortedTableModel(int columns, unsigned textColumns, int sortColumn,
                                   Qt::SortOrder order, QObject* parent)
    : ReadOnlyTableModel(parent),
      columns_(columns),
      textColumns_(textColumns),
      sortColumn_(sortColumn),
      sortOrder_(order) {}

bool SortedTableModel::Before(std::uint32_t a, std::uint32_t b) const {
  const int key = CompareOn(sortColumn_, a, b);
  if (key != 0)
    return sortOrder_ == Qt::DescendingOrder ? key > 0 : key < 0;
  return a < b;
}

void SortedTableModel::Arrange(std::size_t count) {
  // Fresh vectors, so that no items leave nothing behind.
  order_ = std::vector<std::uint32_t>(count);
  std::iota(order_.begin(), order_.end(), std::uint32_t{0});
  std::sort(order_.begin(), order_.end(),
            [this](std::uint32_t a, std::uint32_t b) { return Before(a, b); });
  shown_ = {};
  Refilter();
}

void SortedTableModel::Refilter() {
  const auto passes = [this](std::uint32_t item) { return Passes(item); };
  const auto failing = std::find_if_not(order_.begin(), order_.end(), passes);
  all_ = failing == order_.end();
  if (all_) {
    shown_ = {};  // the rows are the sort order itself: no copy of it
    return;
  }
  shown_.assign(order_.begin(), failing);
  std::copy_if(failing + 1, order_.end(), std::back_inserter(shown_), passes);
}

void SortedTableModel::Rearrange(const std::function<Moved()>& change) {
  emit layoutAboutToBeChanged({}, QAbstractItemModel::VerticalSortHint);
  const QModelIndexList before = persistentIndexList();
  std::vector<std::uint32_t> itemsBefore;
  itemsBefore.reserve(static_cast<std::size_t>(before.size()));
  for (const QModelIndex& index : before)
    itemsBefore.push_back(Shown()[static_cast<std::size_t>(index.row())]);

  const Moved moved = change();
  const auto renumbered = [&](std::uint32_t item) {
    return moved.renumber ? moved.renumber(item) : std::int64_t{item};
  };
  if (moved.renumber) {
    const auto ordered = [this](std::uint32_t a, std::uint32_t b) { return Before(a, b); };
    std::vector<std::uint32_t> changed = moved.changed;
    std::sort(changed.begin(), changed.end(), ordered);
    std::vector<bool> isChanged(moved.count);
    for (std::uint32_t item : changed)
      isChanged[item] = true;
    // Renumbering keeps the order of the items, and so that of the ties: the others stay in
    // order, and the changed ones merge in.
    const auto rebuild = [&](std::vector<std::uint32_t>& items, bool filtered) {
      std::vector<std::uint32_t> kept, placed;
      kept.reserve(items.size());
      for (std::uint32_t item : items) {
        const std::int64_t now = renumbered(item);
        if (now >= 0 && !isChanged[static_cast<std::size_t>(now)])
          kept.push_back(static_cast<std::uint32_t>(now));
      }
      for (std::uint32_t item : changed) {
        if (!filtered || Passes(item))
          placed.push_back(item);
      }
      items.clear();
      items.reserve(kept.size() + placed.size());
      std::merge(kept.begin(), kept.end(), placed.begin(), placed.end(), std::back_inserter(items),
                 ordered);
    };
    rebuild(order_, false);
    if (!all_)
      rebuild(shown_, true);
    else if (!std::all_of(changed.begin(), changed.end(),
                          [this](std::uint32_t item) { return Passes(item); }))
      Refilter();
  }

  std::vector<int> rowOfItem(moved.count, -1);
  for (std::size_t row = 0; row < Shown().size(); ++row)
    rowOfItem[Shown()[row]] = static_cast<int>(row);
  QModelIndexList after;
  after.reserve(before.size());
  for (qsizetype i = 0; i < before.size(); ++i) {
    const std::int64_t item = renumbered(itemsBefore[static_cast<std::size_t>(i)]);
    after.push_back(item < 0
                        ? QModelIndex()
                        : index(rowOfItem[static_cast<std::size_t>(item)], before[i].column()));
  }
  changePersistentIndexList(before, after);
  emit layoutChanged({}, QAbstractItemModel::VerticalSortHint);
}

void SortedTableModel::sort(int column, Qt::SortOrder order) {
  if (column < 0 || column >= columns_)
    return;
  Rearrange([&] {
    sortColumn_ = column;
    sortOrder_ = order;
    Arrange(order_.size());
    return Moved{order_.size(), {}, {}};
  });
}

int SortedTableModel::rowCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : static_cast<int>(Shown().size());
}

int SortedTableModel::columnCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : columns_;
}

QVariant SortedTableModel::Alignment(int column) const {
  const bool text = (textColumns_ >> column & 1u) != 0;
  return QVariant::fromValue(Qt::AlignVCenter | (text ? Qt::AlignLeft : Qt::AlignRight));
}

QVariant SortedTableModel::data(const QModelIndex& index, int role) const {
  if (!checkIndex(index, CheckIndexOption::IndexIsValid | CheckIndexOption::ParentIsInvalid))
    return {};
  if (role == Qt::TextAlignmentRole)
    return Alignment(index.column());
  return Cell(ItemAt(index.row()), index.column(), role);
}

QVariant SortedTableModel::headerData(int section, Qt::Orientation orientation, int role) const {
  if (orientation != Qt::Horizontal || section < 0 || section >= columns_)
    return {};
  if (role == Qt::TextAlignmentRole)
    return Alignment(section);
  return Header(section, role);
}

}  // namespace quorvane
