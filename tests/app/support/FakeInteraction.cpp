#include "support/FakeInteraction.h"

std::optional<QString> FakeInteraction::ChooseLogFile(const QString& title) {
  questions.push_back(title);
  if (duringQuestion)
    duringQuestion();
  if (answers.empty())
    return std::nullopt;
  const QString answer = answers.front();
  answers.pop_front();
  if (answer.isNull())
    return std::nullopt;
  return answer;
}

void FakeInteraction::ShowMessage(const QString& title, const QString& text) {
  messages.push_back({title, text});
}

bool FakeInteraction::AskYesNo(const QString& title, const QString& text) {
  yesNoQuestions.push_back({title, text});
  if (yesNoAnswers.empty())
    return false;
  const bool yes = yesNoAnswers.front();
  yesNoAnswers.pop_front();
  return yes;
}

void FakeInteraction::ShowNotice(const QString& title, const QString& text) {
  notices.push_back({title, text});
}

void FakeInteraction::SetBusy(bool busy) {
  busyChanges.push_back(busy);
}
