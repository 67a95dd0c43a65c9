#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "analysis/FileFigures.h"
#include "app/ReadOnlyTableModel.h"

namespace quorvane {

// The files table of the Users Overview: every file with its figures, sorted by any column and
// narrowed to the names that contain a text, through a vector of row indices (no proxy model).
// A server's paths show from the folder they all share (the whole path in the tooltip); what the
// model hands on to exports is the exact text.
class FileFiguresModel : public ReadOnlyTableModel {
  Q_OBJECT

 public:
  enum Column {
    File,
    Downloads,
    Downloaders,
    Uploads,
    FirstUploader,
    FirstDownload,
    LastDownload,
    ColumnCount
  };

  explicit FileFiguresModel(QObject* parent = nullptr);

  // Replaces the files, given most fetched first, keeping the sort and the find text.
  void SetFiles(FilesTable files);
  // Shows the files whose path from the shared folder on contains `part`, folded as the display
  // order folds names.
  void SetFind(std::string part);

  std::size_t FileCount() const { return files_.files.size(); }
  const FileFigures& FileAt(int row) const { return files_.files[shown_[row]]; }
  // The files shown, in the order shown.
  FilesTable ShownFiles() const;

  int rowCount(const QModelIndex& parent = {}) const override;
  int columnCount(const QModelIndex& parent = {}) const override;
  QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
  QVariant headerData(int section, Qt::Orientation orientation,
                      int role = Qt::DisplayRole) const override;
  // Files tied on the column keep the table's order, in either direction.
  void sort(int column, Qt::SortOrder order = Qt::AscendingOrder) override;

 private:
  void Arrange();

  FilesTable files_;
  // The files passing the find text, in the sort order (fewer than a model's int rows).
  std::vector<std::uint32_t> shown_;
  std::string part_;
  std::string root_;  // the folder every file lies in, or empty
  int sortColumn_ = Downloads;
  Qt::SortOrder sortOrder_ = Qt::DescendingOrder;
};

}  // namespace quorvane
