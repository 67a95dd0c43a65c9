#pragma once

#include <QDialog>
#include <QStringList>
#include <cstddef>
#include <functional>

class QComboBox;
class QLabel;
class QPushButton;

namespace quorvane {

class Interaction;

// Merges two user names: every Name cell of both log tables that equals the name to replace is
// rewritten to the other name, after the user confirms.
class frmRenameUsers : public QDialog {
  Q_OBJECT

 public:
  // What a rename did: how many records it rewrote, and the user list rebuilt after it.
  struct Renamed {
    std::size_t records = 0;
    QStringList users;
  };
  using RenameFn = std::function<Renamed(const QString& from, const QString& to)>;

  // `users`: the user list in display order; `rename` renames in both tables; `ui` asks for
  // confirmation and reports the count.
  frmRenameUsers(QStringList users, RenameFn rename, Interaction& ui, QWidget* parent = nullptr);

 private:
  void Form_Load();
  void cmdRename_Click();
  void Command1_Click();

  QStringList users_;
  RenameFn rename_;
  Interaction& ui_;

  QLabel* Label1;
  QLabel* Label2;
  QLabel* Label3;
  QLabel* Label4;
  QComboBox* cboReplace;
  QComboBox* cboWith;
  QPushButton* cmdRename;
  QPushButton* Command1;
};

}  // namespace quorvane
