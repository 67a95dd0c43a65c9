#pragma once

#include <QDialog>
#include <vector>

#include "logs/LogSources.h"

class QTableView;

namespace quorvane {

class SourcesModel;

// The files of the last load, one a row: what each is, what it gave to each table, and what was
// left out of it. A window beside the main window, not a question: it stays open while the person
// works and follows every load.
class frmSources : public QDialog {
  Q_OBJECT

 public:
  explicit frmSources(QWidget* parent = nullptr);

  void Show(const std::vector<SourceInfo>& sources);

 private:
  QTableView* lvwSources = nullptr;
  SourcesModel* model_;
};

}  // namespace quorvane
