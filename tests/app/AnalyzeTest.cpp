#include <QComboBox>
#include <QLabel>
#include <QListWidget>
#include <QLocale>
#include <QProgressBar>
#include <QPushButton>
#include <QTest>

#include "app/LogTableModel.h"
#include "support/BarWatch.h"
#include "support/MainWindowFixture.h"

namespace {

using quorvane::testing::Rows;

// Rows of the given addresses, each by its own made-up user.
MainWindowFixture::LogRows OfAddresses(const std::vector<std::string>& addresses) {
  std::vector<std::pair<std::string, std::string>> rows;
  for (const std::string& address : addresses)
    rows.push_back({address, "user " + address});
  return Rows(rows);
}

MainWindowFixture::LogRows Many(std::size_t count, const std::string& prefix) {
  std::vector<std::string> addresses;
  for (std::size_t i = 0; i < count; ++i)
    addresses.push_back(prefix + std::to_string(i));
  return OfAddresses(addresses);
}

class Analyze : public MainWindowFixture {
 protected:
  QStringList Figures() {
    QStringList figures;
    for (const char* name : {"lblTotalDownloads", "lblTotalUploads", "lblTotalRatio",
                             "lblAvgDownloads", "lblAvgUploads", "lblAvgRatio"}) {
      figures.push_back(Text(name));
    }
    return figures;
  }
  QStringList UserFigures() {
    return {Text("lblUserDownloads"), Text("lblUserUploads"), Text("lblUserRatio")};
  }
  QStringList Uploads() {
    QStringList files;
    auto* list = Control<QListWidget>("lstUploads");
    for (int i = 0; i < list->count(); ++i)
      files.push_back(list->item(i)->text());
    return files;
  }
  // ann: 3 downloads, 2 uploads (one file twice); Ann and "ann " are others.
  void LoadUsersPair() {
    LoadLogs({{"t", "1.1.1.1", "g", "ann", "a.zip"},
              {"t", "1.1.1.2", "g", "Ann", "b.zip"},
              {"t", "1.1.1.1", "g", "ann", "c.zip"},
              {"t", "1.1.1.3", "g", "ann ", "d.zip"},
              {"t", "1.1.1.1", "g", "ann", "e.zip"},
              {"t", "1.1.1.4", "g", "bob", "f.zip"}},
             {{"t", "1.1.1.1", "g", "ann", "up.sit"},
              {"t", "1.1.1.4", "g", "bob", "bob.sit"},
              {"t", "1.1.1.2", "g", "Ann", "other.sit"},
              {"t", "1.1.1.1", "g", "ann", "up.sit"}});
  }
};

TEST_F(Analyze, TotalsAreTheRowCountsWithTheirRatio) {
  LoadLogs(Many(120, "d"), Many(30, "u"));
  fake->questions.clear();
  Click("cmdAnalyzeLog");
  EXPECT_TRUE(fake->questions.isEmpty());  // both tables hold rows: no question
  EXPECT_EQ(Figures(), QStringList({"120", "30", "4.00/1", "1.00", "1.00", "1/1"}));
}

TEST_F(Analyze, AveragesCountRowsPerAddressAndTheirRatioUsesTheShownFigures) {
  LoadLogs(OfAddresses({"A", "A", "A", "B"}), OfAddresses({"A", "A", "B"}));
  Click("cmdAnalyzeLog");
  EXPECT_EQ(Figures(), QStringList({"4", "3", "1.33/1", "2.50", "1.67", "1.50/1"}));
  Click("cmdAnalyzeLog");  // again on unchanged tables: the same figures
  EXPECT_EQ(Figures(), QStringList({"4", "3", "1.33/1", "2.50", "1.67", "1.50/1"}));
}

TEST_F(Analyze, FiguresUseTheLocaleDecimalSeparator) {
  QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany));
  LoadLogs(OfAddresses({"A", "A", "A", "B"}), OfAddresses({"A", "A", "B"}));
  Click("cmdAnalyzeLog");
  EXPECT_EQ(Figures(), QStringList({"4", "3", "1,33/1", "2,50", "1,67", "1,50/1"}));
}

TEST_F(Analyze, WithAnEmptyTableLoadLogsRunsFirst) {
  LoadLogs({}, Many(30, "u"));
  fake->questions.clear();
  bool disabledDuringQuestion = false;
  fake->duringQuestion = [&] {
    disabledDuringQuestion = !Control<QPushButton>("cmdAnalyzeLog")->isEnabled();
  };
  fake->answers = {WriteLog("Download Log.txt", Many(120, "d")),
                   WriteLog("Upload Log.txt", Many(30, "u"))};
  Click("cmdAnalyzeLog");
  EXPECT_EQ(fake->questions,
            QStringList({"Choose a Download Log file...", "Choose an Upload Log file..."}));
  EXPECT_TRUE(disabledDuringQuestion);
  EXPECT_EQ(Figures(), QStringList({"120", "30", "4.00/1", "1.00", "1.00", "1/1"}));
  EXPECT_TRUE(Control<QPushButton>("cmdAnalyzeLog")->isEnabled());
}

TEST_F(Analyze, CancellingTheQuestionsAnalyzesTheTablesAsTheyAre) {
  LoadLogs({}, OfAddresses({"A", "A", "B"}));
  fake->questions.clear();
  Click("cmdAnalyzeLog");  // Cancel
  EXPECT_EQ(fake->questions.size(), 1);
  EXPECT_EQ(Figures(), QStringList({"0", "3", "0/3.00", ".00", "1.67", "0/1.67"}));
  Click("cmdAnalyzeLog");  // asks again, for as long as a table is empty
  EXPECT_EQ(fake->questions.size(), 2);
}

TEST_F(Analyze, OnTwoEmptyTablesShowsZeroes) {
  Click("cmdAnalyzeLog");
  EXPECT_EQ(Figures(), QStringList({"0", "0", "0/.00", ".00", ".00", "0/.00"}));
  EXPECT_FALSE(Control<QProgressBar>("prgAnalyze")->isVisible());
}

TEST_F(Analyze, WithoutAChosenUserTheBarRunsToTheRowSum) {
  LoadUsersPair();
  auto* bar = Control<QProgressBar>("prgAnalyze");
  BarWatch values(bar);
  fake->busyChanges.clear();
  Click("cmdAnalyzeLog");
  EXPECT_EQ(bar->maximum(), 10);
  EXPECT_EQ(values.Peak(), 10);
  EXPECT_TRUE(values.ShownWhileMoving());
  EXPECT_EQ(bar->value(), 0);
  EXPECT_FALSE(bar->isVisible());
  EXPECT_EQ(UserFigures(), QStringList({"", "", ""}));
  EXPECT_EQ(fake->busyChanges, std::vector<bool>({true, false}));
}

TEST_F(Analyze, WithAChosenUserTheBarRunsToTwiceTheRowSumAndTheUserIsReported) {
  LoadUsersPair();
  ChooseUser("ann");
  auto* bar = Control<QProgressBar>("prgAnalyze");
  BarWatch values(bar);
  Click("cmdAnalyzeLog");
  EXPECT_EQ(bar->maximum(), 20);
  EXPECT_EQ(values.Peak(), 20);
  EXPECT_EQ(values.Last(), 0);
  EXPECT_TRUE(values.ShownWhileMoving());
  EXPECT_FALSE(bar->isVisible());
  EXPECT_EQ(UserFigures(), QStringList({"3", "2", "1.50/1"}));
  EXPECT_EQ(Uploads(), QStringList({"up.sit", "up.sit"}));
}

TEST_F(Analyze, ChoosingAUserReportsOnlyThatUser) {
  LoadUsersPair();
  auto* userBar = Control<QProgressBar>("prgAnalyzeUser");
  BarWatch userValues(userBar);
  ChooseUser("ann");
  EXPECT_EQ(UserFigures(), QStringList({"3", "2", "1.50/1"}));
  EXPECT_EQ(Uploads(), QStringList({"up.sit", "up.sit"}));
  EXPECT_EQ(userValues.Peak(), 10);
  EXPECT_TRUE(userValues.ShownWhileMoving());
  EXPECT_EQ(userBar->maximum(), 10);
  EXPECT_FALSE(userBar->isVisible());
  EXPECT_FALSE(Control<QProgressBar>("prgAnalyze")->isVisible());
  EXPECT_TRUE(Text("lblTotalDownloads").isEmpty());  // the per-user report alone

  ChooseUser("Ann");
  EXPECT_EQ(UserFigures(), QStringList({"1", "1", "1/1"}));
  EXPECT_EQ(Uploads(), QStringList({"other.sit"}));
  ChooseUser("bob");
  EXPECT_EQ(UserFigures(), QStringList({"1", "1", "1/1"}));
  EXPECT_EQ(Uploads(), QStringList({"bob.sit"}));
}

TEST_F(Analyze, AnalyzeWithoutAUserBlanksTheUserFiguresButKeepsTheUploadList) {
  LoadUsersPair();
  ChooseUser("ann");
  LoadUsersPair();  // rebuilding the list chooses nobody and runs no report
  EXPECT_EQ(UserFigures(), QStringList({"3", "2", "1.50/1"}));
  Click("cmdAnalyzeLog");
  EXPECT_EQ(UserFigures(), QStringList({"", "", ""}));
  EXPECT_EQ(Uploads(), QStringList({"up.sit", "up.sit"}));
}

TEST_F(Analyze, KeepsTheFocusOnItsButton) {
  LoadUsersPair();
  window->activateWindow();
  ASSERT_TRUE(QTest::qWaitForWindowActive(window.get()));
  auto* analyze = Control<QPushButton>("cmdAnalyzeLog");
  analyze->setFocus();
  QTest::keyClick(analyze, Qt::Key_Space);
  EXPECT_EQ(Text("lblTotalDownloads"), "6");
  EXPECT_TRUE(analyze->hasFocus());
}

}  // namespace
