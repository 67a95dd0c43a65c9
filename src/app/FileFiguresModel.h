#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "analysis/FileFigures.h"
#include "app/SortedTableModel.h"

namespace quorvane {

// The files table of the Users Overview: every file with its figures, narrowed to the names that
// contain a text. Files tied on the sort column keep the table's order. A server's paths show from
// the folder they all share (the whole path in the tooltip); what the model hands on to exports is
// the exact text.
class FileFiguresModel : public SortedTableModel {
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
  const FileFigures& FileAt(int row) const { return files_.files[ItemAt(row)]; }
  // The files shown, in the order shown.
  FilesTable ShownFiles() const;

 private:
  int CompareOn(int column, std::size_t a, std::size_t b) const override;
  bool Passes(std::size_t file) const override;
  QVariant Cell(std::size_t file, int column, int role) const override;
  QVariant Header(int section, int role) const override;

  FilesTable files_;
  std::string part_;
  std::string root_;  // the folder every file lies in, or empty
};

}  // namespace quorvane
