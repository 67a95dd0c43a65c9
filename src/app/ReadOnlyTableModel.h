#pragma once

#include <QAbstractTableModel>

namespace quorvane {

// A table whose rows can be selected but whose cells are never edited: what the program shows of
// the logs and of the figures is read, not typed.
class ReadOnlyTableModel : public QAbstractTableModel {
 public:
  using QAbstractTableModel::QAbstractTableModel;

  Qt::ItemFlags flags(const QModelIndex& index) const override {
    if (!index.isValid())
      return Qt::NoItemFlags;
    return Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemNeverHasChildren;
  }
};

}  // namespace quorvane
