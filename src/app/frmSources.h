#pragma once

#include <QDialog>
#include <QString>
#include <vector>

#include "logs/LogSources.h"

class QLabel;
class QPushButton;
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

  // `history`: what the history file loaded is (nothing for logs). `canAdd`: Add to History may
  // add the loaded logs to a history file.
  void Show(const std::vector<SourceInfo>& sources, const QString& history = {},
            bool canAdd = false);

 signals:
  void AddToHistoryRequested();

 private:
  QLabel* lblHistory = nullptr;
  QLabel* lblFiles = nullptr;
  QTableView* lvwSources = nullptr;
  QPushButton* cmdAddToHistory = nullptr;
  SourcesModel* model_;
};

}  // namespace quorvane
