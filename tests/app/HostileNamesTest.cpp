#include <QAbstractButton>
#include <QMessageBox>
#include <QTabWidget>
#include <QTextDocument>

#include "app/ActivityChart.h"
#include "app/QtInteraction.h"
#include "app/frmRenameUsers.h"
#include "app/frmUsersOverview.h"
#include "support/MainWindowFixture.h"

namespace quorvane {
namespace {

// A name as a server log writes it: quoted, with Go's escapes for everything but printable ASCII.
std::string GoQuoted(const QString& text) {
  std::string quoted = "\"";
  for (const QChar c : text) {
    const char16_t code = c.unicode();
    if (code == '"' || code == '\\')
      quoted.append(1, '\\').append(1, static_cast<char>(code));
    else if (code >= 0x20 && code < 0x7f)
      quoted += static_cast<char>(code);
    else
      quoted +=
          (code < 0x80 ? QString::asprintf("\\x%02x", code) : QString::asprintf("\\u%04x", code))
              .toStdString();
  }
  return quoted + '"';
}

// What a person reads of a text Qt shows in this format (a tooltip's is AutoText): markup is read
// as markup only where Qt would read it so.
QString Seen(const QString& text, Qt::TextFormat format) {
  if (format == Qt::PlainText || (format == Qt::AutoText && !Qt::mightBeRichText(text)))
    return text;
  QTextDocument document;
  document.setHtml(text);
  return document.toPlainText();
}

struct Hostile {
  const char* label;
  QString name;   // as logged, and as a file's name
  QString shown;  // as every question, caption, line and tooltip must show it
};

const Hostile kHostile[] = {
    {"markup", R"("><img src=x onerror=alert(1)>)", R"("><img src=x onerror=alert(1)>)"},
    {"bold", "<b>x</b> &amp;", "<b>x</b> &amp;"},
    {"right-to-left override", QStringLiteral("eve\u202Egpj.exe\u202A"),
     QStringLiteral("eve[U+202E]gpj.exe[U+202A]")},
    {"right-to-left letters", QStringLiteral("\u05E9\u05DC\u05D5\u05DD 1"),
     QStringLiteral("\u2068\u05E9\u05DC\u05D5\u05DD 1\u2069")},
    {"control characters", QStringLiteral("a\nb\rc\u0007d\u007Fe\u2028f"),
     QStringLiteral("a␊b␍c␇d␡e␤f")},
    {"very long", QString(180, 'w') + "<i>", QString(180, 'w') + "<i>"},
};

class HostileNames : public MainWindowFixture {};

// Every place that names a user, a file or a path shows it exactly, never as markup, never broken
// into lines, never turning the words after it around; and no window grows past the screen for it.
TEST_F(HostileNames, ShowAsWrittenInQuestionsCaptionsLinesAndTooltips) {
  const QSize mainSize = window->size();
  for (const Hostile& c : kHostile) {
    SCOPED_TRACE(c.label);
    const std::string quoted = GoQuoted(c.name);
    // As a file's name: no '/', and no line end, which parts answers of several files.
    const QString file = QString(c.name).replace('/', '|').replace('\n', ' ');
    const QString path = QString::fromStdString(
        folder
            .Write(file.toStdString(),
                   "time=2025-03-14T21:07:45Z level=INFO msg=\"Download file\" "
                   "remoteAddr=203.0.113.5:5 login=guest Name=" +
                       quoted +
                       " filePath=/srv/Files/a\n"
                       "time=2025-03-14T21:09:02Z level=INFO msg=\"File upload complete\" "
                       "remoteAddr=203.0.113.6:6 login=bob Name=ann dstFile=/srv/Files/b\n")
            .string());
    const QString shownFile = QString(c.shown).replace('/', '|').replace(QChar(0x240A), ' ');
    // A path in this folder as shown: an isolated name is isolated with its folder.
    const auto shownPath = [&](const QString& prefix) {
      const QString folderPath = QFileInfo(path).absolutePath() + '/' + prefix;
      return shownFile.startsWith(QChar(0x2068)) ? QChar(0x2068) + folderPath + shownFile.mid(1)
                                                 : folderPath + shownFile;
    };

    // The question when one file is both logs.
    const QString classic = WriteLog(("c" + file).toStdString(), {});
    fake->answerYes = false;
    fake->yesNoQuestions.clear();
    LoadFiles(classic, classic);
    EXPECT_EQ(fake->yesNoQuestions.value(0).toStdString(),
              ("Load Logs|" + shownPath("c") +
               " is both the download log and the upload log. Load it into both?|No")
                  .toStdString());
    fake->answers = {path};
    Click("cmdLoadLogs");
    ASSERT_TRUE(Users().contains(c.name)) << fake->messages.join('|').toStdString();

    // The line under each list, its tooltip, and the Sources window's rows.
    const auto* line = Control<QLabel>("lblDownloadSources");
    EXPECT_EQ(Seen(line->text(), line->textFormat()).toStdString(),
              ("From " + shownFile).toStdString());
    EXPECT_EQ(Seen(line->toolTip(), Qt::AutoText).toStdString(), shownPath({}).toStdString());
    Click("cmdSources");
    auto* sources = window->findChild<QTableView*>("lvwSources");
    ASSERT_NE(sources, nullptr);
    const QModelIndex first = sources->model()->index(0, 0);
    EXPECT_EQ(first.data().toString().toStdString(), shownPath({}).toStdString());
    EXPECT_EQ(Seen(first.data(Qt::ToolTipRole).toString(), Qt::AutoText).toStdString(),
              shownPath({}).toStdString());
    sources->window()->close();

    // Rename Users' confirmation.
    frmRenameUsers rename(
        window->UserNames(),
        [](const QString&, const QString&) { return frmRenameUsers::Renamed{}; }, *fake,
        window.get());
    for (const auto& [list, entry] :
         {std::pair{"cboReplace", c.name}, std::pair{"cboWith", QString("ann")}}) {
      auto* names = rename.findChild<QComboBox*>(list);
      names->setCurrentIndex(names->findText(entry, Qt::MatchExactly | Qt::MatchCaseSensitive));
    }
    fake->yesNoQuestions.clear();
    QTest::mouseClick(rename.findChild<QPushButton*>("cmdRename"), Qt::LeftButton);
    EXPECT_EQ(fake->yesNoQuestions.value(0).toStdString(),
              ("Confirm intent|Are you sure you want to replace all records with the name " +
               c.shown + " with ann?|Yes")
                  .toStdString());

    // The Activity page's caption and the chart's accessible text for the user chosen.
    Click("cmdUsersOverview");
    auto* overview = window->findChild<frmUsersOverview*>();
    ASSERT_NE(overview, nullptr);
    auto* users = overview->findChild<QTableView*>("lvwUsers");
    users->setCurrentIndex(
        users->model()
            ->match(users->model()->index(0, 0), Qt::DisplayRole, c.name, 1, Qt::MatchExactly)
            .value(0));
    auto* tabs = overview->findChild<QTabWidget*>("tabViews");
    tabs->setCurrentIndex(1);
    const auto* caption = overview->findChild<QLabel*>("lblActivity");
    EXPECT_TRUE(Seen(caption->text(), caption->textFormat()).endsWith(" of " + c.shown))
        << caption->text().toStdString();
    EXPECT_TRUE(
        overview->findChild<ActivityChart*>()->accessibleDescription().endsWith(" of " + c.shown));
    const QRect screen = overview->screen()->availableGeometry();
    EXPECT_LE(overview->frameGeometry().width(), screen.width());
    tabs->setCurrentIndex(0);
    overview->close();
    EXPECT_EQ(window->size(), mainSize);
  }
}

// The real questions show their text as plain text.
TEST(HostileQuestions, MessageBoxesShowTheirTextAsPlainText) {
  QWidget owner;
  QtInteraction interaction(&owner);
  for (const Hostile& c : kHostile) {
    SCOPED_TRACE(c.label);
    for (int kind = 0; kind < 3; ++kind) {
      QString seen;
      QTimer::singleShot(0, &owner, [&] {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        ASSERT_NE(box, nullptr);
        const auto* text = box->findChild<QLabel*>("qt_msgbox_label");
        seen = Seen(text->text(), text->textFormat());
        box->buttons().front()->click();
      });
      if (kind == 0)
        interaction.ShowMessage("t", c.shown);
      else if (kind == 1)
        interaction.ShowNotice("t", c.shown);
      else
        interaction.AskYesNo("t", c.shown);
      EXPECT_EQ(seen.toStdString(), c.shown.toStdString()) << kind;
    }
  }
}

}  // namespace
}  // namespace quorvane
