#pragma once

#include <QString>
#include <QStringList>
#include <optional>

namespace quorvane {

// What the main window and its dialogs ask of the person in front of them: the log file questions,
// message boxes, the busy pointer, ending the program. The program answers with the real Qt
// dialogs (QtInteraction); tests answer in a person's place without blocking.
class Interaction {
 public:
  virtual ~Interaction() = default;

  // Asks for log files under this title: the chosen paths (one or more), or nothing on Cancel.
  // The question opens in `folder` with `preset` (a file name there) filled in, or, when `folder`
  // is empty, on the previous answer. With `orHistory`, history files are offered too.
  virtual std::optional<QStringList> ChooseLogFiles(const QString& title, const QString& folder,
                                                    const QString& preset = {},
                                                    bool orHistory = false) = 0;
  // Asks under this title for a file to save, offering `suggestedName` and files that match
  // `filter` ("PNG images (*.png)"); a name typed without a suffix gets that of `suggestedName`.
  // The chosen path, or nothing on Cancel. Choosing a file that exists has been confirmed, unless
  // `addsTo`: the file is added to, not replaced.
  virtual std::optional<QString> ChooseSaveFile(const QString& title, const QString& suggestedName,
                                                const QString& filter, bool addsTo = false) = 0;
  // An OK notice with a title, shown modally.
  virtual void ShowMessage(const QString& title, const QString& text) = 0;
  // A Yes/No question with a title and no icon, Yes the default unless `noByDefault`: true for
  // Yes.
  virtual bool AskYesNo(const QString& title, const QString& text, bool noByDefault = false) = 0;
  // An OK notice with a title and no icon, shown modally.
  virtual void ShowNotice(const QString& title, const QString& text) = 0;
  // The window's busy pointer on or off.
  virtual void SetBusy(bool busy) = 0;
  // Ends the program at once.
  virtual void Quit() = 0;
};

}  // namespace quorvane
