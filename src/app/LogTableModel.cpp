#include "app/LogTableModel.h"

#include <algorithm>
#include <limits>
#include <utility>

namespace quorvane {

LogTableModel::LogTableModel(QStringList headers, QObject* parent)
    : ReadOnlyTableModel(parent), headers_(std::move(headers)) {}

void LogTableModel::SetTable(LogTable table) {
  beginResetModel();
  table_ = std::move(table);
  endResetModel();
}

void LogTableModel::RemoveTableRow(int row) {
  if (row < 0 || row >= rowCount())
    return;
  beginRemoveRows({}, row, row);
  table_.RemoveRow(static_cast<std::size_t>(row));
  endRemoveRows();
}

void LogTableModel::AppendTableRows(const LogTable& rows) {
  if (rows.RowCount() == 0)
    return;
  const int first = rowCount();
  beginInsertRows({}, first, first + static_cast<int>(rows.RowCount()) - 1);
  table_.AppendRows(rows);
  endInsertRows();
}

void LogTableModel::ReplaceTableRow(int row, const LogTable& from, std::size_t fromRow) {
  if (row < 0 || row >= rowCount())
    return;
  table_.ReplaceRow(static_cast<std::size_t>(row), from, fromRow);
  emit dataChanged(index(row, 0), index(row, kColumnCount - 1), {Qt::DisplayRole});
}

std::size_t LogTableModel::RenameUser(std::string_view from, std::string_view to) {
  const std::size_t renamed = table_.RenameUser(from, to);
  if (renamed > 0) {
    const int name = static_cast<int>(Column::Name);
    emit dataChanged(index(0, name), index(rowCount() - 1, name), {Qt::DisplayRole});
  }
  return renamed;
}

int LogTableModel::rowCount(const QModelIndex& parent) const {
  if (parent.isValid())
    return 0;
  // A view counts rows in an int; a log that large could not be read in the first place.
  constexpr std::size_t kMaxRows = std::numeric_limits<int>::max();
  return static_cast<int>(std::min(table_.RowCount(), kMaxRows));
}

int LogTableModel::columnCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : kColumnCount;
}

QVariant LogTableModel::data(const QModelIndex& index, int role) const {
  if (role != Qt::DisplayRole || !checkIndex(index, CheckIndexOption::IndexIsValid))
    return {};
  return QString::fromStdString(
      table_.CellText(static_cast<std::size_t>(index.row()), static_cast<Column>(index.column())));
}

QVariant LogTableModel::headerData(int section, Qt::Orientation orientation, int role) const {
  if (orientation != Qt::Horizontal || section < 0 || section >= headers_.size())
    return {};
  if (role == Qt::DisplayRole)
    return headers_.at(section);
  if (role == Qt::TextAlignmentRole)
    return QVariant::fromValue(Qt::AlignLeft | Qt::AlignVCenter);
  return {};
}

}  // namespace quorvane
