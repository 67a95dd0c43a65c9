#pragma once

#include <QStringList>
#include <cstddef>
#include <string_view>

#include "app/ReadOnlyTableModel.h"
#include "logs/LogTable.h"

namespace quorvane {

// A log table as the rows of a list view. The model owns the table; data() decodes only the cells
// the view asks for, so a million rows show at once and scroll smoothly.
class LogTableModel : public ReadOnlyTableModel {
  Q_OBJECT

 public:
  // `headers`: the five column captions, in column order.
  explicit LogTableModel(QStringList headers, QObject* parent = nullptr);

  const LogTable& Table() const { return table_; }

  // Replaces the whole table.
  void SetTable(LogTable table);
  // Removes one row; the rows behind it move up by one.
  void RemoveTableRow(int row);
  // Appends the rows of `rows`; a view keeps its place.
  void AppendTableRows(const LogTable& rows);
  // Puts row `fromRow` of `from` in place of row `row`.
  void ReplaceTableRow(int row, const LogTable& from, std::size_t fromRow);
  // Rewrites every Name cell equal to `from` to `to`; returns how many it rewrote.
  std::size_t RenameUser(std::string_view from, std::string_view to);
  // Reads the rows' dates again in another order; nothing shown changes.
  void ReadDates(DateOrder order) { table_.ReadDates(order); }
  // Whether rows may come to the table (following): its File Names' lookup table is kept only
  // then.
  void ExpectRows(bool rows) { rows ? table_.IndexFileNames() : table_.DropFileNameIndex(); }

  int rowCount(const QModelIndex& parent = {}) const override;
  int columnCount(const QModelIndex& parent = {}) const override;
  QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
  QVariant headerData(int section, Qt::Orientation orientation,
                      int role = Qt::DisplayRole) const override;

 private:
  QStringList headers_;
  LogTable table_;
};

}  // namespace quorvane
