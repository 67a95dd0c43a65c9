#pragma once

#include <QString>
#include <QStringList>
#include <deque>
#include <functional>
#include <utility>
#include <vector>

#include "app/Interaction.h"

namespace quorvane {

// Answers the window's questions in a person's place and records everything asked or shown, each
// message as "title|text". File answers are queued by the test; an empty queue answers Cancel.
class FakeInteraction : public Interaction {
 public:
  // An answer of several files holds them one a line.
  std::optional<QStringList> ChooseLogFiles(const QString& title, const QString& folder,
                                            const QString& preset = {},
                                            bool orHistory = false) override {
    questions.push_back(title + (orHistory ? "+history" : ""));
    folders.push_back(folder);
    presets.push_back(preset);
    if (duringQuestion)
      duringQuestion();
    if (answers.empty())
      return std::nullopt;
    const QString answer = answers.front();
    answers.pop_front();
    return answer.split('\n');
  }
  std::optional<QString> ChooseSaveFile(const QString& title, const QString& name,
                                        const QString& filter, bool addsTo = false) override {
    questions.push_back(title + '|' + name + '|' + filter + (addsTo ? "|adds" : ""));
    return std::exchange(saveAnswer, std::nullopt);
  }
  void ShowMessage(const QString& title, const QString& text) override {
    messages << title + '|' + text;
  }
  bool AskYesNo(const QString& title, const QString& text, bool noByDefault = false) override {
    yesNoQuestions << title + '|' + text + (noByDefault ? "|No" : "|Yes");
    return answerYes;
  }
  void ShowNotice(const QString& title, const QString& text) override {
    notices << title + '|' + text;
  }
  void SetBusy(bool busy) override { busyChanges.push_back(busy); }
  void Quit() override { ++quits; }

  std::deque<QString> answers;
  std::optional<QString> saveAnswer;  // the next save question's answer, then Cancel
  QStringList questions;
  QStringList folders;                   // the folder each question opened in
  QStringList presets;                   // the file name each question had filled in
  std::function<void()> duringQuestion;  // runs while a file question is open
  QStringList messages;
  bool answerYes = false;
  QStringList yesNoQuestions;
  QStringList notices;
  std::vector<bool> busyChanges;
  int quits = 0;
};

}  // namespace quorvane
