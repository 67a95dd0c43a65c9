#pragma once

#include <QPointer>

#include "app/Interaction.h"

class QCompleter;
class QFileDialog;
class QLineEdit;
class QWidget;

namespace quorvane {

// The real dialogs of the main window. One file dialog object serves every log question and keeps
// its last answer, so the upload question opens in the folder of the download log.
class QtInteraction : public Interaction {
 public:
  explicit QtInteraction(QWidget* window);
  ~QtInteraction() override;

  std::optional<QStringList> ChooseLogFiles(const QString& title, const QString& folder,
                                            const QString& preset = {},
                                            bool orHistory = false) override;
  std::optional<QString> ChooseSaveFile(const QString& title, const QString& suggestedName,
                                        const QString& filter, bool addsTo = false) override;
  void ShowMessage(const QString& title, const QString& text) override;
  bool AskYesNo(const QString& title, const QString& text, bool noByDefault = false) override;
  void ShowNotice(const QString& title, const QString& text) override;
  void SetBusy(bool busy) override;
  void Quit() override;

  // The file dialog itself, for tests that answer it.
  QFileDialog& Dialog();

 private:
  QWidget* Owner() const;

  QPointer<QWidget> window_;
  QPointer<QWidget> front_;  // the window that last had the focus, not counting dialogs
  QPointer<QFileDialog> dialog_;
  QLineEdit* fileName_;    // the dialog's file name box
  QCompleter* completer_;  // its completion list, attached only while the dialog is open
};

}  // namespace quorvane
