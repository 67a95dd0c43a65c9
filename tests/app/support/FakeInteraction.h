#pragma once

#include <QString>
#include <QStringList>
#include <deque>
#include <functional>
#include <vector>

#include "app/Interaction.h"

// Answers the main window's questions in a person's place: file answers are queued by the test
// (a null text, or an empty queue, answers Cancel), and everything asked or shown is recorded.
class FakeInteraction : public Interaction {
 public:
  std::optional<QString> ChooseLogFile(const QString& title) override;
  void ShowMessage(const QString& title, const QString& text) override;
  bool AskYesNo(const QString& title, const QString& text) override;
  void ShowNotice(const QString& title, const QString& text) override;
  void SetBusy(bool busy) override;
  void Quit() override { ++quits; }

  std::deque<QString> answers;
  QStringList questions;
  struct Message {
    QString title;
    QString text;
  };
  std::vector<Message> messages;
  // Yes/No answers, queued by the test; an empty queue answers No.
  std::deque<bool> yesNoAnswers;
  std::vector<Message> yesNoQuestions;
  std::vector<Message> notices;
  std::vector<bool> busyChanges;
  int quits = 0;
  // Runs while a question is open, to look at the window as the person sees it then.
  std::function<void()> duringQuestion;
};
