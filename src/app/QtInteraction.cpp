#include "app/QtInteraction.h"

#include <QApplication>
#include <QCoreApplication>
#include <QFileDialog>
#include <QFileSystemModel>
#include <QMessageBox>
#include <QSortFilterProxyModel>
#include <QWidget>

namespace quorvane {

namespace {

// The two names a Hotline server gives its transfer logs.
const QStringList kLogFileNames = {QStringLiteral("Download Log.txt"),
                                   QStringLiteral("Upload Log.txt")};

// Qt splits a name filter's patterns at blanks, so "Download Log.txt" cannot be a pattern. The
// dialog's filter lets through names with any one character in place of the blank, and this proxy
// keeps, of the files, only the two exact names. Folders always pass, so the user can move about.
class LogFileNameFilter : public QSortFilterProxyModel {
 public:
  using QSortFilterProxyModel::QSortFilterProxyModel;

 protected:
  bool filterAcceptsRow(int sourceRow, const QModelIndex& sourceParent) const override {
    const auto* files = qobject_cast<const QFileSystemModel*>(sourceModel());
    if (files == nullptr)
      return true;
    const QModelIndex entry = files->index(sourceRow, 0, sourceParent);
    return files->isDir(entry) || kLogFileNames.contains(files->fileName(entry));
  }
};

}  // namespace

QtInteraction::QtInteraction(QWidget* window) : window_(window), dialog_(new QFileDialog(window)) {
  dialog_->setObjectName(QStringLiteral("Dialog"));
  // The proxy works only in Qt's own dialog, and one look on every desktop is no loss here.
  dialog_->setOption(QFileDialog::DontUseNativeDialog);
  dialog_->setOption(QFileDialog::HideNameFilterDetails);
  dialog_->setAcceptMode(QFileDialog::AcceptOpen);
  dialog_->setFileMode(QFileDialog::ExistingFile);
  dialog_->setNameFilter(QStringLiteral("Hotline Log Files (Download?Log.txt Upload?Log.txt)"));
  dialog_->setProxyModel(new LogFileNameFilter(dialog_));
}

QtInteraction::~QtInteraction() = default;

QFileDialog& QtInteraction::Dialog() {
  return *dialog_;
}

std::optional<QString> QtInteraction::ChooseLogFile(const QString& title) {
  dialog_->setWindowTitle(title);
  const QStringList previous = dialog_->selectedFiles();
  if (!previous.isEmpty())
    dialog_->selectFile(previous.first());
  if (dialog_->exec() != QDialog::Accepted)
    return std::nullopt;
  const QStringList chosen = dialog_->selectedFiles();
  if (chosen.isEmpty())
    return std::nullopt;
  return chosen.first();
}

// Over the window that asks (the users overview), in the folder of the logs.
std::optional<QString> QtInteraction::ChooseSaveFile(const QString& title,
                                                     const QString& suggestedName) {
  QWidget* owner = QApplication::activeWindow() != nullptr ? QApplication::activeWindow() : Owner();
  QFileDialog dialog(owner, title, dialog_->directory().filePath(suggestedName),
                     QCoreApplication::translate("QtInteraction", "CSV files (*.csv)"));
  dialog.setObjectName(QStringLiteral("SaveDialog"));
  dialog.setOption(QFileDialog::DontUseNativeDialog);  // the same look as the log questions
  dialog.setAcceptMode(QFileDialog::AcceptSave);
  dialog.setDefaultSuffix(QStringLiteral("csv"));
  if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
    return std::nullopt;
  return dialog.selectedFiles().first();
}

void QtInteraction::ShowMessage(const QString& title, const QString& text) {
  QMessageBox box(QMessageBox::Warning, title, text, QMessageBox::Ok, window_);
  box.exec();
}

// Over the open dialog that asks (About, Rename Users), else over the window.
QWidget* QtInteraction::Owner() const {
  if (QWidget* dialog = QApplication::activeModalWidget())
    return dialog;
  return window_;
}

bool QtInteraction::AskYesNo(const QString& title, const QString& text) {
  QMessageBox box(QMessageBox::NoIcon, title, text, QMessageBox::Yes | QMessageBox::No, Owner());
  box.setDefaultButton(QMessageBox::Yes);
  return box.exec() == QMessageBox::Yes;
}

void QtInteraction::ShowNotice(const QString& title, const QString& text) {
  QMessageBox box(QMessageBox::NoIcon, title, text, QMessageBox::Ok, Owner());
  box.exec();
}

void QtInteraction::SetBusy(bool busy) {
  if (window_.isNull())
    return;
  if (busy) {
    window_->setCursor(Qt::WaitCursor);
  } else {
    window_->unsetCursor();
  }
}

void QtInteraction::Quit() {
  QCoreApplication::exit(0);
}

}  // namespace quorvane
