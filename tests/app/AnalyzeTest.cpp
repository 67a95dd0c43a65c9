#include <QListWidget>

#include "support/MainWindowFixture.h"

namespace quorvane {
namespace {

// Rows from the given addresses, one character each.
MainWindowFixture::LogRows OfAddresses(const std::string& addresses) {
  std::vector<std::pair<std::string, std::string>> rows;
  for (const char address : addresses)
    rows.push_back({std::string(1, address), "user"});
  return quorvane::testing::Rows(rows);
}

// Rows from `count` different addresses.
MainWindowFixture::LogRows Many(int count) {
  std::vector<std::pair<std::string, std::string>> rows;
  for (int i = 0; i < count; ++i)
    rows.push_back({std::to_string(i), "user"});
  return quorvane::testing::Rows(rows);
}

class Analyze : public MainWindowFixture {
 protected:
  QString Figures(std::initializer_list<const char*> names) {
    QStringList figures;
    for (const char* name : names)
      figures << Text(name);
    return figures.join('|');
  }
  QString Report() {
    return Figures({"lblTotalDownloads", "lblTotalUploads", "lblTotalRatio", "lblAvgDownloads",
                    "lblAvgUploads", "lblAvgRatio"});
  }
  // The user's figures, then the files the user uploaded.
  QString UserReport() {
    QString report = Figures({"lblUserDownloads", "lblUserUploads", "lblUserRatio"});
    auto* uploads = Control<QListWidget>("lstUploads");
    for (int i = 0; i < uploads->count(); ++i)
      report += '|' + uploads->item(i)->text();
    return report;
  }
  // 6 download and 4 upload rows; ann has 3 downloads and 2 uploads, Ann and "ann " are others.
  void LoadUsers() {
    using quorvane::testing::Rows;
    LoadLogs(
        Rows({{"1", "ann"}, {"2", "Ann"}, {"1", "ann"}, {"3", "ann "}, {"1", "ann"}, {"4", "bob"}}),
        Rows({{"1", "ann"}, {"4", "bob"}, {"2", "Ann"}, {"1", "ann"}}));
  }
};

TEST_F(Analyze, ReportsTotalsAndAveragesOfTheLoadedTables) {
  // The logs, the locale, the report, and whether Analyze first asks for the logs (a table is
  // empty; Cancel is answered here).
  const std::vector<std::tuple<const char*, LogRows, LogRows, const char*, QString, bool>> cases = {
      {"AAAB and AAB", OfAddresses("AAAB"), OfAddresses("AAB"), "en_US",
       "4|3|1.33/1|2.50|1.67|1.50/1", false},
      {"empty download log", {}, OfAddresses("AAB"), "en_US", "0|3|0/3.00|.00|1.67|0/1.67", true},
      {"AAAB and AAB in German", OfAddresses("AAAB"), OfAddresses("AAB"), "de_DE",
       "4|3|1,33/1|2,50|1,67|1,50/1", false},
      {"two empty logs", {}, {}, "de_DE", "0|0|0/,00|,00|,00|0/,00", true}};
  QString whileAsking;  // outlives the loop: the next case's load asks too
  for (const auto& [label, downloads, uploads, locale, report, asks] : cases) {
    SCOPED_TRACE(label);
    QLocale::setDefault(QLocale(locale));
    LoadLogs(downloads, uploads);
    fake->questions.clear();
    whileAsking.clear();
    fake->duringQuestion = [&] { whileAsking = Report(); };
    for (int run = 1; run <= 2; ++run) {  // again on the same tables: the same report
      Click("cmdAnalyzeLog");
      EXPECT_EQ(Report(), report);
      EXPECT_EQ(fake->questions.size(), asks ? run : 0);
      if (asks) {
        EXPECT_EQ(whileAsking, "|||||") << "run " << run << " showed the last run's figures";
      }
    }
  }
}

// Pressed from the keyboard: the button is disabled while it runs and keeps the focus after.
TEST_F(Analyze, WithAnEmptyTableLoadLogsRunsFirst) {
  LoadLogs({}, Many(30));
  fake->questions.clear();
  auto* analyze = Control<QPushButton>("cmdAnalyzeLog");
  bool disabledDuringQuestion = false;
  fake->duringQuestion = [&] { disabledDuringQuestion = !analyze->isEnabled(); };
  fake->answers = {WriteLog("Download Log.txt", Many(120)), WriteLog("Upload Log.txt", Many(30))};
  window->activateWindow();
  ASSERT_TRUE(QTest::qWaitForWindowActive(window.get()));
  analyze->setFocus();
  QTest::keyClick(analyze, Qt::Key_Space);
  EXPECT_EQ(fake->questions.join('|'),
            "Choose a Download Log file...+history|Choose an Upload Log file...");
  EXPECT_TRUE(disabledDuringQuestion);
  EXPECT_EQ(Report(), "120|30|4.00/1|1.00|1.00|1/1");
  EXPECT_TRUE(analyze->isEnabled());
  EXPECT_TRUE(analyze->hasFocus());
}

// Picking a user runs the user's report alone, on its own bar; Analyze then runs the whole
// report and, with a user chosen, the user's too: its bar goes to twice the rows instead of once.
TEST_F(Analyze, ChosenUsersAreReportedAloneAndWithTheWholeReport) {
  LoadUsers();  // 10 rows
  // A user to pick (none: Analyze is pressed), the whole report, then the user's figures and
  // uploaded files.
  const std::vector<std::tuple<const char*, const char*, QString, QString>> steps = {
      {"pick ann", "ann", "|||||", "3|2|1.50/1|file1.zip|file4.zip"},
      {"pick Ann", "Ann", "|||||", "1|1|1/1|file3.zip"},
      {"pick bob", "bob", "|||||", "1|1|1/1|file2.zip"},
      {"Analyze with bob", nullptr, "6|4|1.50/1|2.00|1.50|1.33/1", "1|1|1/1|file2.zip"}};
  for (const auto& [label, user, report, userReport] : steps) {
    SCOPED_TRACE(label);
    const BarWatch userBar(Control<QProgressBar>("prgAnalyzeUser"));
    const BarWatch analyzeBar(Control<QProgressBar>("prgAnalyze"));
    if (user)
      ChooseUser(user);
    else
      Click("cmdAnalyzeLog");
    EXPECT_EQ(Report(), report);
    EXPECT_EQ(UserReport(), userReport);
    userBar.ExpectRanTo(10);
    if (!user)
      analyzeBar.ExpectRanTo(20);
    EXPECT_FALSE(Control<QProgressBar>("prgAnalyze")->isVisible());
  }
  LoadUsers();  // chooses nobody and runs no report
  const BarWatch analyzeBar(Control<QProgressBar>("prgAnalyze"));
  fake->busyChanges.clear();
  Click("cmdAnalyzeLog");
  analyzeBar.ExpectRanTo(10);
  EXPECT_EQ(UserReport(), "||") << "the load cleared the report; with nobody chosen, none runs";
  EXPECT_EQ(fake->busyChanges, std::vector<bool>({true, false}));
}

TEST(BarProgressTest, AdvancesFromTheBarsValueAndStopsAtItsMaximum) {
  QProgressBar bar;
  bar.setRange(0, 100);
  bar.setValue(40);
  BarProgress progress(bar);
  progress.Advance(25);
  EXPECT_EQ(bar.value(), 65);
  progress.Advance(90);  // past the maximum: stays there
  EXPECT_EQ(bar.value(), 100);
}

}  // namespace
}  // namespace quorvane
