#include "app/QtInteraction.h"

#include <QAbstractItemView>
#include <QApplication>
#include <QComboBox>
#include <QCompleter>
#include <QCoreApplication>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QFileSystemModel>
#include <QLineEdit>
#include <QMessageBox>
#include <QSettings>
#include <QSortFilterProxyModel>
#include <QWidget>

#include "app/Controls.h"
#include "app/HistoryFile.h"

namespace quorvane {

namespace {

// The two names a Hotline server gives its transfer logs.
const QStringList kLogFileNames = {QStringLiteral("Download Log.txt"),
                                   QStringLiteral("Upload Log.txt")};
const QString kLogFilter = QStringLiteral("Hotline Log Files (Download?Log.txt Upload?Log.txt)");
// A server's log, its rotated copies (mobius-2025-03-14T04-07-45.000.log, mobius.log.1) and their
// archives.
const QString kServerFilter = QStringLiteral("Server Log Files (*.log *.log.* *.gz)");
const QString kAllFilter = QStringLiteral("All Files (*)");
const QString kFilterKey = QStringLiteral("LoadLogs/Filter");

// The filter for the logs in the folder, by their names, when it holds one kind only; else
// `remembered`.
QString FilterFor(const QDir& folder, const QString& remembered) {
  const bool classic = std::any_of(kLogFileNames.begin(), kLogFileNames.end(),
                                   [&](const QString& name) { return folder.exists(name); });
  const bool server =
      !folder.entryList(kServerFilter.section('(', 1).chopped(1).split(' '), QDir::Files).isEmpty();
  return classic == server ? remembered : classic ? kLogFilter : kServerFilter;
}

// A message shows file names and log texts as they are, never as markup.
int ExecPlain(QMessageBox& box) {
  box.setTextFormat(Qt::PlainText);
  return ExecModal(box);
}

// Qt splits a name filter's patterns at blanks, so "Download Log.txt" cannot be a pattern. The
// dialog's filter lets through names with any one character in place of the blank, and this proxy
// keeps, of the files, only the two exact names. Folders always pass, so the user can move about.
// With "All Files" chosen, every file shows (a server's log, a rotated copy, an archive).
class LogFileNameFilter : public QSortFilterProxyModel {
 public:
  explicit LogFileNameFilter(QFileDialog* dialog)
      : QSortFilterProxyModel(dialog),
        filters_(dialog->findChild<QComboBox*>(QStringLiteral("fileTypeCombo"))) {
    if (filters_ != nullptr) {
      QObject::connect(filters_, &QComboBox::currentIndexChanged, this,
                       [this] { invalidateFilter(); });
    }
  }

 protected:
  bool filterAcceptsRow(int sourceRow, const QModelIndex& sourceParent) const override {
    const auto* files = qobject_cast<const QFileSystemModel*>(sourceModel());
    if (files == nullptr || (filters_ != nullptr && filters_->currentIndex() > 0))
      return true;
    const QModelIndex entry = files->index(sourceRow, 0, sourceParent);
    return files->isDir(entry) || kLogFileNames.contains(files->fileName(entry));
  }

 private:
  QComboBox* filters_;  // the dialog's list of name filters
};

}  // namespace

QtInteraction::QtInteraction(QWidget* window) : window_(window), dialog_(new QFileDialog(window)) {
  dialog_->setObjectName(QStringLiteral("Dialog"));
  // The proxy works only in Qt's own dialog, and one look on every desktop is no loss here.
  dialog_->setOption(QFileDialog::DontUseNativeDialog);
  dialog_->setOption(QFileDialog::HideNameFilterDetails);
  dialog_->setAcceptMode(QFileDialog::AcceptOpen);
  // Several files make one history: rotated copies, archives, a server's one log.
  dialog_->setFileMode(QFileDialog::ExistingFiles);
  dialog_->setNameFilters({kLogFilter, kAllFilter});
  dialog_->setProxyModel(new LogFileNameFilter(dialog_));
  // Between two dialogs no window is active until the window manager gives one the focus again;
  // the second dialog still belongs over the window that asked.
  QObject::connect(qApp, &QApplication::focusChanged, dialog_, [this](QWidget*, QWidget* now) {
    QWidget* top = now != nullptr ? now->window() : nullptr;
    if (top != nullptr && !top->isModal() && top->windowType() != Qt::Popup)
      front_ = top;
  });
  fileName_ = dialog_->findChild<QLineEdit*>(QStringLiteral("fileNameEdit"));
  completer_ = fileName_ != nullptr ? fileName_->completer() : nullptr;
  // The completion list is a window of its own. Left attached, it opens again when the folder of a
  // typed name finishes loading, even after the dialog has closed, over the main window, where it
  // takes the next key or click. It goes as the dialog closes, before the focus comes back.
  if (completer_ != nullptr) {
    QObject::connect(dialog_, &QDialog::finished, dialog_, [this] {
      fileName_->setCompleter(nullptr);
      completer_->popup()->hide();
    });
  }
}

QtInteraction::~QtInteraction() = default;

QFileDialog& QtInteraction::Dialog() {
  return *dialog_;
}

std::optional<QStringList> QtInteraction::ChooseLogFiles(const QString& title,
                                                         const QString& folder,
                                                         const QString& preset, bool orHistory) {
  dialog_->setWindowTitle(title);
  const QStringList previous = dialog_->selectedFiles();
  // The filter chosen last, in this run or the one before, stays chosen where it is still offered;
  // a folder of classic logs alone or server logs alone opens on theirs, unless another kind of
  // file was chosen last.
  QString shown = QSettings().value(kFilterKey, kLogFilter).toString();
  if (shown == kLogFilter || shown == kServerFilter)
    shown = FilterFor(folder.isEmpty() ? dialog_->directory() : QDir(folder), shown);
  dialog_->setNameFilters(orHistory
                              ? QStringList{kLogFilter, kServerFilter, HistoryFilter(), kAllFilter}
                              : QStringList{kLogFilter, kServerFilter, kAllFilter});
  dialog_->selectNameFilter(dialog_->nameFilters().contains(shown) ? shown : kLogFilter);
  if (!folder.isEmpty()) {
    dialog_->setDirectory(folder);
    if (!preset.isEmpty())
      dialog_->selectFile(preset);
    else if (fileName_ != nullptr)
      fileName_->clear();
  } else if (!previous.isEmpty()) {
    dialog_->selectFile(previous.first());
  }
  if (completer_ != nullptr)
    fileName_->setCompleter(completer_);
  const int answer = ExecModal(*dialog_);
  // The dialog names the filter chosen without its patterns, which it hides.
  for (const QString& filter : dialog_->nameFilters()) {
    const QString chosen = dialog_->selectedNameFilter();
    if (filter == chosen || filter.startsWith(chosen + QStringLiteral(" (")))
      QSettings().setValue(kFilterKey, filter);
  }
  if (answer != QDialog::Accepted)
    return std::nullopt;
  const QStringList chosen = dialog_->selectedFiles();
  if (chosen.isEmpty())
    return std::nullopt;
  return chosen;
}

// Over the window that asks (the users overview), in the folder of the logs.
std::optional<QString> QtInteraction::ChooseSaveFile(const QString& title,
                                                     const QString& suggestedName,
                                                     const QString& filter, bool addsTo) {
  QFileDialog dialog(Owner(), title, dialog_->directory().filePath(suggestedName), filter);
  dialog.setObjectName(QStringLiteral("SaveDialog"));
  dialog.setOption(QFileDialog::DontUseNativeDialog);  // the same look as the log questions
  dialog.setAcceptMode(QFileDialog::AcceptSave);
  dialog.setDefaultSuffix(QFileInfo(suggestedName).suffix());
  dialog.setOption(QFileDialog::DontConfirmOverwrite, addsTo);
  if (ExecModal(dialog) != QDialog::Accepted || dialog.selectedFiles().isEmpty())
    return std::nullopt;
  return dialog.selectedFiles().first();
}

void QtInteraction::ShowMessage(const QString& title, const QString& text) {
  QMessageBox box(QMessageBox::Warning, title, text, QMessageBox::Ok, Owner());
  ExecPlain(box);
}

// Over the open dialog that asks (About, Rename Users), else over the window in front (the main
// window or the Users Overview), else over the one that was last.
QWidget* QtInteraction::Owner() const {
  if (QWidget* dialog = QApplication::activeModalWidget())
    return dialog;
  if (QWidget* active = QApplication::activeWindow())
    return active;
  if (!front_.isNull() && front_->isVisible())
    return front_;
  return window_;
}

bool QtInteraction::AskYesNo(const QString& title, const QString& text, bool noByDefault) {
  QMessageBox box(QMessageBox::NoIcon, title, text, QMessageBox::Yes | QMessageBox::No, Owner());
  box.setDefaultButton(noByDefault ? QMessageBox::No : QMessageBox::Yes);
  return ExecPlain(box) == QMessageBox::Yes;
}

void QtInteraction::ShowNotice(const QString& title, const QString& text) {
  QMessageBox box(QMessageBox::NoIcon, title, text, QMessageBox::Ok, Owner());
  ExecPlain(box);
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
