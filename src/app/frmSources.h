#pragma once

#include <QDialog>
#include <QString>
#include <vector>

#include "logs/LogSources.h"

class QLabel;
class QTableView;

namespace quorvane {

class SourcesModel;

// The files of the last load, one a row: what each is, what it gave to each table, and what was
// left out of it; of a history file, the files it learned from. A window beside the main window,
// not a question: it stays open while the person works and follows every load.
class frmSources : public QDialog {
  Q_OBJECT

 public:
  explicit frmSources(QWidget* parent = nullptr);

  // `history`: what the history file loaded is (nothing for logs).
  void Show(const std::vector<SourceInfo>& sources, const QString& history = {});

 private:
  QLabel* lblHistory = nullptr;
  QLabel* lblFiles = nullptr;
  QTableView* lvwSources = nullptr;
  SourcesModel* model_;
};

}  // namespace quorvane
