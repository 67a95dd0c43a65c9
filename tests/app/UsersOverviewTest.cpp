#include <QAbstractSpinBox>
#include <QApplication>
#include <QBarCategoryAxis>
#include <QBarSeries>
#include <QBarSet>
#include <QCheckBox>
#include <QDateEdit>
#include <QDateTime>
#include <QDoubleSpinBox>
#include <QFile>
#include <QHeaderView>
#include <QHelpEvent>
#include <QLineEdit>
#include <QSettings>
#include <QShortcut>
#include <QSpinBox>
#include <QTabWidget>
#include <QToolTip>
#include <fstream>
#include <sstream>

#include "ReportCommand.h"
#include "analysis/Averages.h"
#include "app/ActivityChart.h"
#include "app/LogDocument.h"
#include "app/frmUsersOverview.h"
#include "support/MainWindowFixture.h"

namespace quorvane {
namespace {

// Rows of "name YYYY-MM-DD" (at 10:00) or "name undated", each name from an address of its own.
MainWindowFixture::LogRows Dated(const QString& rows) {
  MainWindowFixture::LogRows dated;
  for (const QString& row : rows.split(", ")) {
    const QString day = row.section(' ', 1);
    const std::string name = row.section(' ', 0, 0).toStdString();
    dated.push_back(
        {(day == "undated" ? day : day + " 10:00:00").toStdString(), name, "guest", name, "f"});
  }
  return dated;
}

// Rows from runs of "name count file", each name from an address of its own.
MainWindowFixture::LogRows Runs(const QString& runs) {
  MainWindowFixture::LogRows rows;
  for (const QString& run : runs.split(", ")) {
    const std::string name = run.section(' ', 0, 0).toStdString();
    for (int i = 0; i < run.section(' ', 1, 1).toInt(); ++i)
      rows.push_back(
          {"12/06/2026 10:00:00", name, "guest", name, run.section(' ', 2).toStdString()});
  }
  return rows;
}

class UsersOverview : public MainWindowFixture {
 protected:
  void SetUp() override {
    // Downloads, uploads and ratio: ann 3 1 3, Bob 12 0 inf, cy 20 2 10, dee 1 2 0.5, Eve 0 1 0,
    // fay 12 1 12. Bob fetches ann's upload twelve times: her credit.
    LoadLogs(Runs("ann 3 x, Bob 12 a.zip, cy 20 x, dee 1 x, fay 12 x"),
             Runs("ann 1 a.zip, cy 2 c, dee 2 d, Eve 1 e, fay 1 f"));
    Open();
  }
  void Open() {
    Click("cmdUsersOverview");
    overview = window->findChild<frmUsersOverview*>();
    ASSERT_NE(overview, nullptr);
    ASSERT_TRUE(QTest::qWaitForWindowExposed(overview));
    table = Get<QTableView>("lvwUsers");
    checker = std::make_unique<QAbstractItemModelTester>(
        table->model(), QAbstractItemModelTester::FailureReportingMode::Fatal);
  }
  template <typename Widget>
  Widget* Get(const char* name) {
    auto* widget = overview->findChild<Widget*>(QString::fromLatin1(name));
    EXPECT_NE(widget, nullptr) << name;
    return widget;
  }
  // One column of the table as shown, top to bottom.
  std::string Shown(int column = 0) {
    QStringList cells;
    for (int row = 0; row < table->model()->rowCount(); ++row)
      cells << table->model()->index(row, column).data().toString();
    return cells.join(' ').toStdString();
  }
  void SortBy(int column, bool descending) {
    Get<QComboBox>("cboSortBy")->setCurrentIndex(column);
    Get<QCheckBox>("chkDescending")->setChecked(descending);
  }
  void Pick(const QString& name) {
    table->setFocus();
    table->setCurrentIndex(
        table->model()->index(int(QString::fromStdString(Shown()).split(' ').indexOf(name)), 0));
  }
  static QString Read(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()) : "(none)";
  }
  // Exports to this file and returns what it holds after.
  QString Export(const QString& path) {
    fake->saveAnswer = path;
    QTest::mouseClick(Get<QPushButton>("cmdExport"), Qt::LeftButton);
    return Read(path);
  }

  // Unchecks All time and sets the period's days.
  void SetPeriod(QDate from, QDate to) {
    Get<QCheckBox>("chkAllTime")->setChecked(false);
    Get<QDateEdit>("dtpFrom")->setDate(from);
    Get<QDateEdit>("dtpTo")->setDate(to);
  }
  // The chart's bars as "label:downloads/uploads", from the series it draws.
  std::string Bars(ActivityChart* drawn = nullptr) {
    auto* chart = (drawn != nullptr ? drawn : Get<ActivityChart>("chtActivity"))->chart();
    const auto* series = static_cast<QBarSeries*>(chart->series().at(0));
    const QStringList labels =
        static_cast<QBarCategoryAxis*>(chart->axes(Qt::Horizontal)[0])->categories();
    std::string bars;
    for (int bar = 0; bar < series->barSets()[0]->count(); ++bar)
      bars += QString("%1:%2/%3 ")
                  .arg(labels.value(bar))
                  .arg(series->barSets()[0]->at(bar))
                  .arg(series->barSets()[1]->at(bar))
                  .toStdString();
    return bars;
  }

  frmUsersOverview* overview = nullptr;
  QTableView* table = nullptr;
  std::unique_ptr<QAbstractItemModelTester> checker;
};

TEST_F(UsersOverview, SortsNumbersAsNumbersRatiosWithoutUploadsHighestTiesInDisplayOrder) {
  // Column, descending, the users in order.
  const std::vector<std::tuple<int, bool, std::string>> sorts = {
      {0, false, "ann Bob cy dee Eve fay"}, {0, true, "fay Eve dee cy Bob ann"},
      {1, false, "Eve dee ann Bob fay cy"}, {1, true, "cy Bob fay ann dee Eve"},
      {2, true, "cy dee ann Eve fay Bob"},  {3, false, "Eve dee ann cy fay Bob"},
      {3, true, "Bob fay cy ann dee Eve"},  {4, false, "Bob cy dee Eve fay ann"}};
  for (const auto& [column, descending, order] : sorts) {
    SCOPED_TRACE(column);
    SortBy(column, descending);
    EXPECT_EQ(Shown(), order) << descending;
  }
  EXPECT_EQ(Shown(4), "0 0 0 0 0 12");
  SortBy(0, false);
  EXPECT_EQ(Shown(3), "3.00/1 12.00/0 10.00/1 1/2.00 0/1.00 12.00/1");
  // A header click sorts and the sort controls follow; a second click reverses.
  QHeaderView* header = table->horizontalHeader();
  for (const bool second : {false, true}) {
    QTest::mouseClick(header->viewport(), Qt::LeftButton, {},
                      {header->sectionViewportPosition(3) + header->sectionSize(3) / 2, 5});
    const bool descending = header->sortIndicatorOrder() == Qt::DescendingOrder;
    EXPECT_EQ(Get<QComboBox>("cboSortBy")->currentText(), "Ratio") << second;
    EXPECT_EQ(Get<QCheckBox>("chkDescending")->isChecked(), descending) << second;
    EXPECT_EQ(Shown(), descending ? "Bob fay cy ann dee Eve" : "Eve dee ann cy fay Bob") << second;
  }
  // The chosen user stays chosen through a sort, in its new row.
  Pick("cy");
  SortBy(1, true);
  EXPECT_EQ(table->currentIndex().data().toString().toStdString(), "cy");
  EXPECT_EQ(table->selectionModel()->selectedRows().value(0).data().toString().toStdString(), "cy");
  // Addresses: ann uses two, bob one (for three downloads), cy three.
  LoadLogs(testing::Rows({{"a", "ann"},
                          {"b", "ann"},
                          {"c", "bob"},
                          {"c", "bob"},
                          {"c", "bob"},
                          {"d", "cy"},
                          {"e", "cy"},
                          {"f", "cy"}}),
           {});
  SortBy(5, false);
  ASSERT_TRUE(QTest::qWaitFor([&] { return Shown() == "bob ann cy"; })) << Shown();
  SortBy(5, true);
  EXPECT_EQ(Shown(), "cy ann bob");
  // Without uploads, by downloads (9.00/0 above 3.00/0); counts grouped as the locale groups
  // them, and exported bare.
  LoadLogs(Runs("three 3 x, nine 1234 x, one 1 x"), Runs("up 1 y"));
  SortBy(3, true);
  ASSERT_TRUE(QTest::qWaitFor([&] { return Shown() == "nine three one up"; })) << Shown();
  SortBy(3, false);
  EXPECT_EQ(Shown(), "up one three nine");
  EXPECT_EQ(Shown(1), "0 1 3 1,234");
  QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany));
  EXPECT_EQ(Shown(1), "0 1 3 1.234");
  const QString csv = QString::fromStdString((folder.Path() / "users.csv").string());
  EXPECT_TRUE(Export(csv).contains("\nnine,1234,0,")) << Read(csv).toStdString();
}

TEST_F(UsersOverview, FindAndLeechesNarrowTheRowsAndTheLimitsAreRemembered) {
  // Find, leeches only, N, R, the users shown.
  const std::vector<std::tuple<QString, bool, int, double, std::string>> filters = {
      {"E", false, 10, 10, "dee Eve"},  {"Y", false, 10, 10, "cy fay"},
      {"", true, 10, 10, "Bob cy fay"}, {"", true, 10, 10.01, "Bob fay"},
      {"", true, 12, 0, "Bob cy fay"},  {"", true, 0, 0.5, "ann Bob cy dee fay"},
      {"f", true, 0, 0.5, "fay"},       {"", false, 13, 0, "ann Bob cy dee Eve fay"},
      {"nobody", false, 0, 0, ""}};
  for (const auto& [find, leeches, n, r, shown] : filters) {
    SCOPED_TRACE(find.toStdString() + ' ' + std::to_string(n) + ' ' + std::to_string(r));
    Get<QLineEdit>("txtFind")->setText(find);
    Get<QCheckBox>("chkLeeches")->setChecked(leeches);
    Get<QSpinBox>("spnMinDownloads")->setValue(n);
    Get<QDoubleSpinBox>("spnMinRatio")->setValue(r);
    EXPECT_EQ(Shown(), shown);
  }
  EXPECT_EQ(Get<QLabel>("lblStatus")->text(), "Users shown: 0 of 6");
  Get<QSpinBox>("spnMinDownloads")->setValue(7);
  Get<QDoubleSpinBox>("spnMinRatio")->setValue(2.5);
  overview->close();
  EXPECT_TRUE(QTest::qWaitFor([&] { return window->findChild<frmUsersOverview*>() == nullptr; }));
  Open();
  EXPECT_EQ(Get<QSpinBox>("spnMinDownloads")->value(), 7);
  EXPECT_EQ(Get<QDoubleSpinBox>("spnMinRatio")->value(), 2.5);
}

// Limits typed key by key count as typed, at the boundary their labels promise ("at least"):
// 2.3 is 230 hundredths (not 229.99...), so 459 downloads per 200 uploads (2.295) fall short
// while 23 per 10 count; a count typed past what the box takes stops at its most.
TEST_F(UsersOverview, TypedLimitsCountAtTheirBoundary) {
  LoadLogs(Runs("p 459 x, q 23 x, r 22 x, s 5 x, a.b 30 x, axb 30 x"),
           Runs("p 200 y, q 10 y, r 10 y, a.b 1 y, axb 1 y"));
  const auto type = [&](const char* box, const QString& text) {
    auto* spin = Get<QAbstractSpinBox>(box);
    spin->setFocus();
    spin->selectAll();
    QTest::keyClicks(spin, text);
  };
  const std::vector<std::tuple<QString, QString, std::string>> limits = {
      {"23", "2.3", "a.b axb q"}, {"22", "2.29", "a.b axb p q"},
      {"24", "2.2", "a.b axb p"}, {"30", "30", "a.b axb"},
      {"31", "0", "p"},           {"12000", "999999.99", ""}};
  SortBy(0, false);
  ASSERT_TRUE(QTest::qWaitFor([&] { return Shown() == "a.b axb p q r s"; })) << Shown();
  Get<QCheckBox>("chkLeeches")->setChecked(true);
  for (const auto& [downloads, ratio, leeches] : limits) {
    type("spnMinDownloads", downloads);
    type("spnMinRatio", ratio);
    EXPECT_EQ(Shown(), leeches) << downloads.toStdString() << ' ' << ratio.toStdString();
  }
  EXPECT_EQ(Get<QSpinBox>("spnMinDownloads")->value(), 12000);
  type("spnMinDownloads", "9999999999");
  EXPECT_EQ(Get<QSpinBox>("spnMinDownloads")->value(), 999999999);
  // Find takes what is typed as plain text, in any case.
  Get<QCheckBox>("chkLeeches")->setChecked(false);
  Get<QLineEdit>("txtFind")->setFocus();
  QTest::keyClicks(Get<QLineEdit>("txtFind"), "A.");
  EXPECT_EQ(Shown(), "a.b");
}

// What a person sees first, each from the data on a load where the easy wrong choice shows
// otherwise: users by name whatever its case, files by downloads, most first; the period and the
// chart's step span both logs (the uploads hold the first day, which makes 121 days: weeks), the
// undated row aside; the dates as each log shows them; leeches from 10 downloads and 10.00.
TEST_F(UsersOverview, WhatItShowsFirstFollowsBothLogs) {
  LoadLogs({{"2026-01-02 10:00:00", "z", "g", "Zed", "a.zip"},
            {"2026-05-01 10:00:00", "a", "g", "amy", "b.zip"},
            {"2026-05-01 10:00:00", "a", "g", "amy", "b.zip"}},
           {{"2026-01-01 10:00:00", "b", "g", "bea", "c.zip"}, {"undated", "c", "g", "cy", "d"}});
  overview->close();
  ASSERT_TRUE(QTest::qWaitFor([&] { return window->findChild<frmUsersOverview*>() == nullptr; }));
  Open();
  EXPECT_EQ(Shown(), "amy bea cy Zed");
  EXPECT_EQ(Get<QComboBox>("cboSortBy")->currentText(), "User");
  EXPECT_FALSE(Get<QCheckBox>("chkDescending")->isChecked());
  EXPECT_TRUE(Get<QCheckBox>("chkAllTime")->isChecked());
  EXPECT_EQ(Get<QDateEdit>("dtpFrom")->date(), QDate(2026, 1, 1));
  EXPECT_EQ(Get<QDateEdit>("dtpTo")->date(), QDate(2026, 5, 1));
  EXPECT_EQ(Get<QComboBox>("cboDates")->currentText(), "As each log shows");
  EXPECT_FALSE(Get<QCheckBox>("chkLeeches")->isChecked());
  EXPECT_EQ(
      Get<QSpinBox>("spnMinDownloads")->text() + ' ' + Get<QDoubleSpinBox>("spnMinRatio")->text(),
      "10 10.00");
  Get<QTabWidget>("tabViews")->setCurrentIndex(1);
  EXPECT_EQ(Get<QLabel>("lblActivity")->text().toStdString(),
            "Downloads and uploads per week, 12/29/2025 to 5/3/2026, of everyone");
  Get<QTabWidget>("tabViews")->setCurrentIndex(2);
  const QAbstractItemModel* files = Get<QTableView>("lvwFiles")->model();
  QStringList order;
  for (int row = 0; row < files->rowCount(); ++row)
    order << files->index(row, 0).data().toString();
  EXPECT_EQ(order.join(' ').toStdString(), "b.zip a.zip c.zip d");
}

TEST_F(UsersOverview, DoubleClickOrEnterShowsTheUsersOrTheUploadersReportInTheMainWindow) {
  Pick("cy");
  const QPoint cell = table->visualRect(table->currentIndex()).center();
  QTest::mouseClick(table->viewport(), Qt::LeftButton, {}, cell);
  EXPECT_EQ(Control<QComboBox>("cboUsers")->currentIndex(), -1) << "not on one click";
  QTest::mouseDClick(table->viewport(), Qt::LeftButton, {}, cell);
  EXPECT_EQ(Control<QComboBox>("cboUsers")->currentText() + Text("lblUserDownloads"), "cy20");
  Pick("dee");
  QTest::keyClick(table, Qt::Key_Return);
  EXPECT_EQ(Control<QComboBox>("cboUsers")->currentText() + Text("lblUserDownloads"), "dee1");
  // On the Files page, Enter chooses the file's first uploader.
  Get<QTabWidget>("tabViews")->setCurrentIndex(2);
  auto* files = Get<QTableView>("lvwFiles");
  files->setFocus();
  files->setCurrentIndex(files->model()->match(files->model()->index(0, 0), Qt::DisplayRole,
                                               "a.zip", 1, Qt::MatchExactly)[0]);
  QTest::keyClick(files, Qt::Key_Enter);
  EXPECT_EQ(Control<QComboBox>("cboUsers")->currentText() + Text("lblUserDownloads"), "ann3");
  // Shown again after another page: its rows as high as before, their header still hidden.
  const int rowHeight = files->rowHeight(0);
  Get<QTabWidget>("tabViews")->setCurrentIndex(0);
  Get<QTabWidget>("tabViews")->setCurrentIndex(2);
  EXPECT_EQ(files->rowHeight(0), rowHeight);
  EXPECT_TRUE(files->verticalHeader()->isHidden());
  // Names that differ in case only are two users.
  LoadLogs(Runs("Ann 1 x, ann 2 x"), Runs("ann 1 y"));
  ASSERT_TRUE(QTest::qWaitFor([&] { return Shown() == "Ann ann"; }));
  Pick("ann");
  QTest::keyClick(table, Qt::Key_Return);
  EXPECT_EQ(Control<QComboBox>("cboUsers")->currentText() + Text("lblUserDownloads"), "ann2");
}

TEST_F(UsersOverview, ExportsTheRowsAsShownAsTheReportCommandWritesThem) {
  const std::string downloads = QUORVANE_EXAMPLES_DIR "/Download Log.txt";
  const std::string uploads = QUORVANE_EXAMPLES_DIR "/Upload Log.txt";
  ASSERT_TRUE(window->LoadLog(QString::fromStdString(downloads), QString::fromStdString(uploads)));
  std::ostringstream command, errors;
  ASSERT_EQ(RunReportCommand({"--format", "csv", downloads, uploads}, command, errors), 0);
  const QString path = WriteLog("overview.csv", {});  // written over
  EXPECT_EQ(Export(path), QString::fromStdString(command.str()));
  EXPECT_EQ(fake->questions.last(), "Export Users Overview|Users Overview.csv|CSV files (*.csv)");
  Get<QLineEdit>("txtFind")->setText("O");
  SortBy(1, true);
  // Narrowed: said so first; No writes nothing.
  const qsizetype asked = fake->questions.size();
  QTest::mouseClick(Get<QPushButton>("cmdExport"), Qt::LeftButton);
  EXPECT_EQ(fake->yesNoQuestions.last().toStdString(), "Export|Export the 5 users shown of 8?|Yes");
  EXPECT_EQ(fake->questions.size(), asked) << "no file asked for, nothing written";
  fake->answerYes = true;
  QStringList names;
  for (const QString& line : Export(path).split('\n', Qt::SkipEmptyParts))
    names << line.section(',', 0, 0);
  EXPECT_EQ(names.join(' '), "user tobyk joe32 joe2000 Tobyk sysop");
  // Over a period, the same as the command's CSV of that period.
  Get<QLineEdit>("txtFind")->clear();
  SortBy(0, false);
  SetPeriod(QDate(2026, 11, 5), QDate(2026, 11, 20));
  std::ostringstream inPeriod;
  ASSERT_EQ(RunReportCommand({"--format", "csv", "--from", "2026-11-05", "--to", "2026-11-20",
                              downloads, uploads},
                             inPeriod, errors),
            0);
  EXPECT_EQ(Export(path), QString::fromStdString(inPeriod.str()));
  EXPECT_NE(inPeriod.str(), command.str());
  EXPECT_TRUE(fake->messages.isEmpty());
}

TEST_F(UsersOverview, ExportNeverWritesOverALogAndReportsAFailedWrite) {
  const QString log = QString::fromStdString((folder.Path() / "Upload Log.txt").string());
  const QString logText = Read(log);
  const QString missingFolder = QString::fromStdString(folder.Path().string()) + "/no/x.csv";
  // The chosen file, what it holds after, the message's start.
  const std::vector<std::tuple<QString, QString, QString>> cases = {
      {log, logText, "Export|" + log + " is one of the loaded logs"},
      {folder.Path().c_str() + QString("/./Upload Log.txt"), logText, "Export|"},
      {missingFolder, "(none)",
       "Export|The users overview could not be saved to " + missingFolder}};
  for (const auto& [path, after, message] : cases) {
    fake->messages.clear();
    EXPECT_EQ(Export(path), after);
    ASSERT_EQ(fake->messages.size(), 1);
    EXPECT_TRUE(fake->messages[0].startsWith(message)) << fake->messages[0].toStdString();
  }
}

// The Files page: most fetched first, Find and any column narrow and sort it, Export writes the
// command's CSV, a double-click shows the first uploader; Export HTML writes the command's page.
TEST_F(UsersOverview, FilesPageAndTheHtmlPageAreTheCommands) {
  Get<QTabWidget>("tabViews")->setCurrentWidget(Get<QWidget>("pgFiles"));
  auto* files = Get<QTableView>("lvwFiles");
  const auto shown = [files](int column) {
    QStringList cells;
    for (int row = 0; row < files->model()->rowCount(); ++row)
      cells << files->model()->index(row, column).data().toString();
    return cells.join(' ').toStdString();
  };
  EXPECT_EQ(shown(0), "x a.zip c d e f");
  EXPECT_EQ(shown(2) + " " + shown(4), "4 1 0 0 0 0  ann cy dee Eve fay");
  Get<QLineEdit>("txtFindFiles")->setText("A.");
  EXPECT_EQ(shown(0), "a.zip");
  EXPECT_EQ(Get<QLabel>("lblStatus")->text(), "Files shown: 1 of 6");
  Get<QLineEdit>("txtFindFiles")->clear();
  files->sortByColumn(3, Qt::DescendingOrder);
  EXPECT_EQ(shown(0), "c d a.zip e f x");
  // Another page holds no files; back on this one they show as sorted before.
  Get<QTabWidget>("tabViews")->setCurrentIndex(0);
  EXPECT_EQ(files->model()->rowCount(), 0);
  Get<QTabWidget>("tabViews")->setCurrentWidget(Get<QWidget>("pgFiles"));
  EXPECT_EQ(shown(0), "c d a.zip e f x");
  const QPoint cell = files->visualRect(files->model()->index(2, 0)).center();
  QTest::mouseClick(files->viewport(), Qt::LeftButton, {}, cell);
  QTest::mouseDClick(files->viewport(), Qt::LeftButton, {}, cell);
  EXPECT_EQ(Control<QComboBox>("cboUsers")->currentText(), "ann");

  const std::string logs[] = {(folder.Path() / "Download Log.txt").string(),
                              (folder.Path() / "Upload Log.txt").string()};
  const auto command = [&](std::vector<std::string> args) {
    std::ostringstream out, err;
    args.insert(args.end(), std::begin(logs), std::end(logs));
    EXPECT_EQ(RunReportCommand(args, out, err), 0) << err.str();
    return QString::fromStdString(out.str());
  };
  files->sortByColumn(1, Qt::DescendingOrder);
  EXPECT_EQ(files->currentIndex().data().toString().toStdString(), "a.zip");  // in its new row
  const QString csv = WriteLog("files.csv", {});
  EXPECT_EQ(Export(csv), command({"--format", "csv", "--files"}));
  EXPECT_EQ(fake->questions.last(), "Export Files|Files.csv|CSV files (*.csv)");
  const QString html = WriteLog("page.html", {});
  const auto exportHtml = [&](const QString& path) {
    fake->saveAnswer = path;
    QTest::mouseClick(Get<QPushButton>("cmdExportHtml"), Qt::LeftButton);
    return Read(path);
  };
  EXPECT_EQ(exportHtml(html), command({"--format", "html"}));
  SetPeriod(QDate(2026, 12, 6), QDate(2026, 12, 7));
  EXPECT_EQ(exportHtml(html),
            command({"--format", "html", "--from", "2026-12-06", "--to", "2026-12-07"}));
  EXPECT_TRUE(fake->messages.isEmpty());
  const QString log = QString::fromStdString(logs[1]);
  const QString logText = Read(log);
  EXPECT_EQ(exportHtml(log), logText);
  ASSERT_EQ(fake->messages.size(), 1);
  EXPECT_TRUE(fake->messages[0].startsWith("Export HTML|" + log + " is one of the loaded logs"));
}

TEST_F(UsersOverview, ChangesLoadsAndFollowsKeepTheSortFindAndPeriod) {
  SortBy(1, true);
  Pick("fay");
  window->RenameUser("cy", "fay");
  QApplication::processEvents();
  EXPECT_EQ(Shown(), "fay Bob ann dee Eve");
  EXPECT_EQ(Shown(1), "32 12 3 1 0");
  EXPECT_EQ(table->currentIndex().row(), 0);
  auto* downloads = Control<QTableView>("lvwDownloadLog");
  downloads->setCurrentIndex(downloads->model()->index(0, 0));  // ann's first download
  QTest::keyClick(downloads, Qt::Key_Backspace);
  QApplication::processEvents();
  EXPECT_EQ(Shown(1), "32 12 2 1 0");
  EXPECT_EQ(Get<QLabel>("lblStatus")->text(), "Users shown: 5 of 5");
  // Find holds across a change: a renamed user it no longer finds goes.
  Get<QLineEdit>("txtFind")->setText("e");
  EXPECT_EQ(Shown(), "dee Eve");
  window->RenameUser("Eve", "Ivy");
  QApplication::processEvents();
  EXPECT_EQ(Shown(), "dee");
  EXPECT_EQ(Users().join(' ').toStdString(), "ann Bob dee fay Ivy");  // the main window's list
  EXPECT_EQ(Get<QLabel>("lblStatus")->text(), "Users shown: 1 of 5");

  // F5 reads the logs again: every merge and removal goes; Find, the sort and the period stay.
  const auto reload = [&] {  // the window's F5, whichever window has the focus
    for (QShortcut* key : window->findChildren<QShortcut*>())
      if (key->key() == QKeySequence(Qt::Key_F5))
        emit key->activated();
  };
  reload();
  EXPECT_TRUE(QTest::qWaitFor([&] { return Shown() == "dee Eve"; })) << Shown();
  Get<QLineEdit>("txtFind")->setText("a");
  EXPECT_EQ(Shown() + ' ' + Shown(1), "fay ann 12 3");
  EXPECT_EQ(window->DownloadLog().rowCount(), 48);
  EXPECT_EQ(Users().join(' ').toStdString(), "ann Bob cy dee Eve fay");
  const auto day = [](int d, const std::string& name) {
    const std::string date = QString("12/0%1/2026 10:00:00").arg(d).toStdString();
    return std::vector<std::string>{date, name, "g", name, date.substr(3, 2)};
  };
  SetPeriod(QDate(2026, 12, 6), QDate(2026, 12, 6));
  const QString logFile =
      WriteLog("Download Log.txt", {day(6, "ann"), day(7, "ann"), day(7, "fay"), day(7, "ann")});
  reload();
  EXPECT_TRUE(QTest::qWaitFor([&] { return Shown(1) == "1 0"; })) << Shown(1);
  EXPECT_EQ(Get<QDateEdit>("dtpTo")->date(), QDate(2026, 12, 6)) << "the period stays";
  // Merges and removals made since hold for the rows that arrive, from a file rotated too, and
  // after following was off and on again; those undone by the load do not (cy stays cy).
  Get<QCheckBox>("chkAllTime")->setChecked(true);
  window->RenameUser("ann", "annie");
  downloads->setFocus();
  downloads->setCurrentIndex(downloads->model()->index(2, 0));  // fay's
  QTest::keyClick(downloads, Qt::Key_Backspace);
  Control<QCheckBox>("chkFollow")->click();
  QFile::rename(logFile, logFile + ".1");
  WriteLog("Download Log.txt", {day(8, "ann"), day(8, "fay"), day(8, "cy")});
  EXPECT_TRUE(QTest::qWaitFor([&] { return Shown() + Shown(1) == "annie fay4 1"; }, 5000))
      << Shown() << Shown(1);
  Control<QCheckBox>("chkFollow")->click();
  std::ofstream(logFile.toStdString(), std::ios::app) << "12/09/2026 10:00:00\ta\tg\tann\tf\r\n";
  Control<QCheckBox>("chkFollow")->click();
  EXPECT_TRUE(QTest::qWaitFor([&] { return Shown(1) == "5 1"; }, 5000)) << Shown(1);
  EXPECT_EQ(Names(window->DownloadLog()).join(' '), "annie annie annie annie fay cy annie");
  // Every user found, then one renamed to a name Find leaves out.
  Get<QLineEdit>("txtFind")->setText("n");
  LoadLogs(Runs("ann 1 x, dan 1 x"), {});
  ASSERT_TRUE(QTest::qWaitFor([&] { return Shown() == "ann dan"; })) << Shown();
  window->RenameUser("dan", "Bo");
  QApplication::processEvents();
  EXPECT_EQ(Shown(), "ann");
}

TEST_F(UsersOverview, OneWindowWithUniqueAccessKeysOpensOnlyWhenThereAreUsers) {
  Click("cmdUsersOverview");
  EXPECT_EQ(window->findChildren<frmUsersOverview*>().size(), 1);
  EXPECT_EQ(overview->windowTitle(), "Users Overview");
  EXPECT_EQ(table->accessibleName(), "Users");
  EXPECT_EQ(Get<QSpinBox>("spnMinDownloads")->value(), 10);
  EXPECT_EQ(Get<QDoubleSpinBox>("spnMinRatio")->value(), 10);
  QStringList texts, keys;
  for (const QWidget* control : overview->findChildren<QWidget*>())
    texts << control->property("text").toString();
  auto* tabs = Get<QTabWidget>("tabViews");
  for (int tab = 0; tab < tabs->count(); ++tab)
    texts << tabs->tabText(tab);
  for (const QString& text : texts) {
    if (text.contains('&'))
      keys << text.section('&', 1).left(1).toLower();
  }
  keys.sort();
  EXPECT_EQ(keys.join(""), "acdefghilmnorstuvw");
  LoadLogs({}, {});
  EXPECT_FALSE(Control<QPushButton>("cmdUsersOverview")->isEnabled());
}

// Tab runs through the controls of the page shown as they are laid out, top left to bottom right
// (a date field steps through its day, month and year first).
TEST_F(UsersOverview, TabFollowsTheLayoutOfThePageShown) {
  overview->activateWindow();
  ASSERT_TRUE(QTest::qWaitForWindowActive(overview));
  const auto tabs = [&](int steps) {
    QStringList visited;
    Get<QCheckBox>("chkAllTime")->setFocus();
    for (int step = 0; step < steps; ++step) {
      QWidget* focus = QApplication::focusWidget();
      while (focus->objectName().isEmpty() || focus->objectName().startsWith("qt_"))
        focus = focus->parentWidget();  // a spin box's or a tab widget's own part
      if (visited.isEmpty() || visited.back() != focus->objectName())
        visited << focus->objectName();
      QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
    }
    return visited.join(' ').toStdString();
  };
  EXPECT_EQ(tabs(14),
            "chkAllTime cboDates tabViews txtFind cboSortBy chkDescending chkLeeches "
            "spnMinDownloads spnMinRatio lvwUsers cmdExport cmdExportHtml cmdClose chkAllTime");
  Get<QCheckBox>("chkAllTime")->setChecked(false);
  Get<QTabWidget>("tabViews")->setCurrentIndex(1);
  EXPECT_EQ(tabs(15),
            "chkAllTime dtpFrom dtpTo cboDates tabViews cmdSaveChart chtActivity "
            "cmdExport cmdExportHtml cmdClose chkAllTime");
  Get<QTabWidget>("tabViews")->setCurrentIndex(2);
  EXPECT_EQ(tabs(14),
            "chkAllTime dtpFrom dtpTo cboDates tabViews txtFindFiles lvwFiles "
            "cmdExport cmdExportHtml cmdClose");
}

// The smallest logs that have a user, in locales whose short formats differ (a two- or
// four-digit year, day or month first, a 12- or 24-hour clock, a decimal comma, a group
// separator of its own): every column, one bar, the period's fields, each file. Dates and counts
// as the locale itself writes them, with the year in full; decimal marks written out by hand.
TEST_F(UsersOverview, AWholeOverviewInFourLocales) {
  LogRows many(1234, {"2026-11-22 08:30:00", "many", "guest", "many", "u"});
  LoadLogs({{"2026-03-04 17:05:09", "solo", "guest", "solo", "f"}}, many);
  for (const auto& [name, point] : {std::pair{"en_US", "."}, std::pair{"de_DE", ","},
                                    std::pair{"en_GB", "."}, std::pair{"fr_FR", ","}}) {
    SCOPED_TRACE(name);
    const QLocale locale(QString::fromLatin1(name));
    QLocale::setDefault(locale);
    overview->close();
    ASSERT_TRUE(QTest::qWaitFor([&] { return window->findChild<frmUsersOverview*>() == nullptr; }));
    Open();
    const auto full = [](const auto& value) {
      const QString text = QLocale().toString(value, QLocale::ShortFormat);
      return (text.contains("2026") ? text : QString(text).replace("26", "2026")).toStdString();
    };
    const std::string first = full(QDateTime(QDate(2026, 3, 4), QTime(17, 5, 9), Qt::UTC));
    const std::string last = full(QDateTime(QDate(2026, 11, 22), QTime(8, 30), Qt::UTC));
    const std::string count = locale.toString(1234).toStdString();
    const auto rows = [](const QAbstractItemModel* model) {
      QStringList lines;
      for (int row = 0; row < model->rowCount(); ++row) {
        QStringList cells;
        for (int column = 0; column < model->columnCount(); ++column)
          cells << model->index(row, column).data().toString();
        lines << cells.join('|');
      }
      lines.sort();
      return lines.join('\n').toStdString();
    };
    EXPECT_EQ(rows(table->model()), "many|0|" + count + "|0/1234" + point + "00|0|1|" + last + '|' +
                                        last + "\nsolo|1|0|1" + point + "00/0|0|1|" + first + '|' +
                                        first);
    EXPECT_EQ(Get<QLabel>("lblStatus")->text(), "Users shown: 2 of 2");
    Get<QCheckBox>("chkAllTime")->setChecked(false);
    EXPECT_EQ(
        (Get<QDateEdit>("dtpFrom")->text() + ' ' + Get<QDateEdit>("dtpTo")->text()).toStdString(),
        full(QDate(2026, 3, 4)) + ' ' + full(QDate(2026, 11, 22)));
    Get<QTabWidget>("tabViews")->setCurrentIndex(1);
    const std::string bar = full(QDate(2026, 3, 2)) + ":1/0 ";
    EXPECT_EQ(Bars().substr(0, bar.size()), bar);
    Get<QTabWidget>("tabViews")->setCurrentIndex(2);
    EXPECT_EQ(rows(Get<QTableView>("lvwFiles")->model()),
              "f|1|1|0||" + first + '|' + first + "\nu|0|0|" + count + "|many||");
    EXPECT_EQ(Get<QLabel>("lblStatus")->text(), "Files shown: 2 of 2");
    Get<QCheckBox>("chkAllTime")->setChecked(true);
  }
}

// A server's paths show from the folder they all share, the long one shortened between whole
// characters, each whole and as plain text in its tooltip; Find looks at what is shown; the
// export keeps the paths as the logs have them. Expected texts written out by hand.
TEST_F(UsersOverview, ServerPathsShowFromTheFolderTheyShare) {
  const std::string root = "/srv/mobius/Files/", hostile = "Uploads/<b>x</b>.sit";
  const std::string longName = "Apps/" + std::string(18, 'y') + "\xF0\x9F\x98\x80" +
                               std::string(10, 'z') + "\xF0\x9F\x98\x80" + std::string(39, 'w') +
                               "end.sit";
  LoadLogs({{"12/06/2026 10:00:00", "a", "guest", "ann", root + "Apps/a.sit"},
            {"12/06/2026 10:00:00", "a", "guest", "ann", root + "Apps/a.sit"},
            {"12/06/2026 10:00:00", "b", "guest", "bob", root + hostile},
            {"12/06/2026 10:00:00", "b", "guest", "bob", root + hostile},
            {"12/06/2026 10:00:00", "c", "guest", "cy", root + longName}},
           {{"12/06/2026 10:00:00", "a", "guest", "ann", root + hostile}});
  Get<QTabWidget>("tabViews")->setCurrentWidget(Get<QWidget>("pgFiles"));
  const QAbstractItemModel* files = Get<QTableView>("lvwFiles")->model();
  const auto column = [files](int role) {
    QStringList cells;
    for (int row = 0; row < files->rowCount(); ++row)
      cells << files->index(row, 0).data(role).toString();
    return cells.join('|').toStdString();
  };
  ASSERT_TRUE(QTest::qWaitFor([&] { return files->rowCount() == 3; }));
  EXPECT_EQ(column(Qt::DisplayRole), "Apps/a.sit|Uploads/<b>x</b>.sit|Apps/" +
                                         std::string(18, 'y') + "\u2026" + std::string(39, 'w') +
                                         "end.sit");
  EXPECT_EQ(column(Qt::AccessibleTextRole), "Apps/a.sit|" + hostile + "|" + longName);
  EXPECT_EQ(files->index(1, 0).data(Qt::ToolTipRole).toString().toStdString(),
            "<p style=\"white-space:pre\">/srv/mobius/Files/Uploads/&lt;b&gt;x&lt;/b&gt;.sit</p>");
  Get<QLineEdit>("txtFindFiles")->setText("srv");
  EXPECT_EQ(files->rowCount(), 0);
  Get<QLineEdit>("txtFindFiles")->setText("APPS/");
  EXPECT_EQ(files->rowCount(), 2);
  Get<QLineEdit>("txtFindFiles")->clear();
  const QString csv = Export(QString::fromStdString(folder.Path() / "files.csv"));
  for (const std::string path : {"Apps/a.sit", hostile.c_str(), longName.c_str()})
    EXPECT_TRUE(csv.contains(QString::fromStdString("\n" + root + path + ","))) << path;
}

class UsersOverviewOverTime : public UsersOverview {
 protected:
  void SetUp() override {
    UsersOverview::SetUp();
    LoadLogs(Dated("ann 2026-03-01, ann 2026-03-02, bob 2026-03-02, bob 2026-03-05, cy undated, "
                   "dee undated"),
             Dated("ann 2026-03-06, cy 2026-03-03"));
    QApplication::processEvents();
  }
};

// Counts and dates are never cut: each figure column is at least as wide as the view itself
// measures its widest cell, in every month.
TEST_F(UsersOverviewOverTime, NoCountOrDateIsCut) {
  QString rows = "ann 2026-01-01";
  for (int month = 2; month <= 12; ++month)
    rows += QString(", bob 2026-%1-28").arg(month, 2, 10, QChar('0'));
  for (int i = 0; i < 1234; ++i)
    rows += ", cy 2026-09-30";
  LoadLogs(Dated(rows), Dated("cy 2026-12-28"));
  ASSERT_TRUE(QTest::qWaitFor([&] { return Shown(1) == "1 11 1,234"; })) << Shown(1);
  Get<QTabWidget>("tabViews")->setCurrentIndex(2);
  for (auto* view : {table, Get<QTableView>("lvwFiles")}) {
    for (int column = 1; column < view->model()->columnCount(); ++column) {
      if (view->model()->headerData(column, Qt::Horizontal).toString() == "First Uploader")
        continue;  // a name, shortened when long
      EXPECT_GE(view->horizontalHeader()->sectionSize(column),
                static_cast<QAbstractItemView*>(view)->sizeHintForColumn(column))
          << view->objectName().toStdString() << ' ' << column;
    }
  }
}

// Rows arriving (some past the logs' last day), read again whole, or arriving after a removal or a
// rename: the user list, the averages and everyone's chart, kept from what arrived, show what full
// passes over the tables give.
TEST_F(UsersOverviewOverTime, ArrivingRowsShowAsFullPassesCountThem) {
  Click("cmdAnalyzeLog");
  Get<QTabWidget>("tabViews")->setCurrentIndex(1);
  LogDocument& document = window->Document();
  const auto arrive = [&](LogKind kind, const QString& rows, std::optional<std::size_t> replaces) {
    LogTable arrived = testing::TableOf(Dated(rows));
    arrived.ReadDates(DateOrder::MonthFirst);
    FollowUpdate update;
    update.rows.push_back({0, kind, replaces, std::move(arrived)});
    document.Apply(update);
  };
  const std::vector<std::function<void()>> steps = {
      [&] { arrive(LogKind::Download, "ann 2026-03-04, eve 2026-03-02", {}); },
      [&] { arrive(LogKind::Upload, "fay 2026-03-09", {}); },  // a later day: more bars
      [&] { arrive(LogKind::Upload, "ann 2026-03-01", 2); },   // fay's row read again
      [&] {
        document.RemoveRow(LogKind::Download, 5);  // dee's only row
        arrive(LogKind::Download, "bob 2026-03-03", {});
      },
      [&] {
        window->RenameUser("bob", "ann");
        arrive(LogKind::Upload, "hal 2026-03-05", {});
      }};
  for (std::size_t step = 0; step < steps.size(); ++step) {
    steps[step]();
    QApplication::processEvents();
    QApplication::processEvents();
    const LogTable& downloads = document.Table(LogKind::Download);
    const LogTable& uploads = document.Table(LogKind::Upload);
    QStringList names;
    for (const std::string& name : CollectUserNames(downloads, uploads))
      names << QString::fromStdString(name);
    EXPECT_EQ(Users(), names) << step;
    const Averages averages = ComputeAverages(downloads, uploads, ".");
    EXPECT_EQ(
        Text("lblAvgDownloads") + Text("lblAvgUploads") + Text("lblAvgRatio"),
        QString::fromStdString(averages.downloadsText + averages.uploadsText + averages.ratio))
        << step;
    ActivityChart counted;  // drawn whole
    counted.Show(CountActivity(downloads, uploads, {}, *DatedDays(downloads, uploads)), "");
    EXPECT_EQ(Bars(), Bars(&counted)) << step;
  }
}

TEST_F(UsersOverviewOverTime, FirstAndLastSeenShowAndSortWithTheUndatedFirst) {
  EXPECT_EQ(Shown(6), "3/1/2026 10:00 AM 3/2/2026 10:00 AM 3/3/2026 10:00 AM ");
  EXPECT_EQ(Shown(7), "3/6/2026 10:00 AM 3/5/2026 10:00 AM 3/3/2026 10:00 AM ");
  SortBy(6, false);
  EXPECT_EQ(Shown(), "dee ann bob cy");
  SortBy(7, false);
  EXPECT_EQ(Shown(), "dee cy bob ann");
  EXPECT_EQ(Get<QComboBox>("cboSortBy")->currentText(), "Last Seen");
}

TEST_F(UsersOverviewOverTime, ThePeriodNarrowsEveryFigureAndFromAfterToChangesNothing) {
  // All time: the fields show the logs' first and last dated day, and cannot be changed.
  EXPECT_EQ(Get<QDateEdit>("dtpFrom")->date(), QDate(2026, 3, 1));
  EXPECT_EQ(Get<QDateEdit>("dtpTo")->date(), QDate(2026, 3, 6));
  EXPECT_FALSE(Get<QDateEdit>("dtpFrom")->isEnabled());
  EXPECT_EQ(Shown(), "ann bob cy dee");
  // From, to, the users, their downloads and uploads, the status.
  const std::vector<std::tuple<QDate, QDate, std::string, std::string, std::string, QString>>
      periods = {{{2026, 3, 1},
                  {2026, 3, 6},
                  "ann bob cy",
                  "2 2 0",
                  "1 0 1",
                  "Users shown: 3 of 3; undated rows left out: 2"},
                 {{2026, 3, 2},
                  {2026, 3, 3},
                  "ann bob cy",
                  "1 1 0",
                  "0 0 1",
                  "Users shown: 3 of 3; undated rows left out: 2"},
                 {{2026, 3, 4},
                  {2026, 3, 5},
                  "bob",
                  "1",
                  "0",
                  "Users shown: 1 of 1; undated rows left out: 2"},
                 {{2026, 3, 5},
                  {2026, 3, 4},
                  "bob",
                  "1",
                  "0",
                  "From is after To: the figures are still those of the last period."}};
  for (const auto& [from, to, users, downloads, uploads, status] : periods) {
    SCOPED_TRACE(from.toString().toStdString());
    SetPeriod(from, to);
    EXPECT_TRUE(Get<QDateEdit>("dtpFrom")->isEnabled());
    EXPECT_EQ(Shown(), users);
    EXPECT_EQ(Shown(1) + '|' + Shown(2), downloads + '|' + uploads);
    EXPECT_EQ(Get<QLabel>("lblStatus")->text(), status);
  }
  // Typed key by key over 3/5, To counts as typed once whole: 3/6's upload counts.
  SetPeriod(QDate(2026, 3, 4), QDate(2026, 3, 5));
  auto* to = Get<QDateEdit>("dtpTo");
  to->setFocus();
  to->selectAll();
  QTest::keyClicks(to, "3/6/2026");
  EXPECT_EQ(to->date(), QDate(2026, 3, 6)) << to->text().toStdString();
  EXPECT_EQ(Shown() + '|' + Shown(2), "ann bob|1 0");
  Get<QCheckBox>("chkAllTime")->setChecked(true);
  EXPECT_EQ(Shown(), "ann bob cy dee");
}

TEST_F(UsersOverviewOverTime, TheChartCountsEveryoneOrTheSelectedUsersPerDayOverThePeriod) {
  Get<QTabWidget>("tabViews")->setCurrentIndex(1);
  auto* chart = Get<ActivityChart>("chtActivity");
  EXPECT_EQ(Bars(),
            "3/1/2026:1/0 3/2/2026:2/0 3/3/2026:0/1 3/4/2026:0/0 3/5/2026:1/0 "
            "3/6/2026:0/1 ");
  EXPECT_EQ(chart->accessibleName(), "Activity");
  // The tooltip over the second day's bars.
  QApplication::processEvents();  // the chart laid out
  const QRectF plot = chart->chart()->plotArea();
  const QPoint over = chart->mapFromScene(
      chart->chart()->mapToScene(plot.left() + plot.width() * 1.5 / 6, plot.center().y()));
  QHelpEvent help(QEvent::ToolTip, over, chart->viewport()->mapToGlobal(over));
  QApplication::sendEvent(chart->viewport(), &help);
  EXPECT_EQ(QToolTip::text().toStdString(), "Monday, 3/2/2026\nDownloads: 2\nUploads: 0");
  // Selected users only, over their own days.
  table->selectionModel()->select(table->model()->index(1, 0),
                                  QItemSelectionModel::Select | QItemSelectionModel::Rows);
  table->selectionModel()->select(table->model()->index(2, 0),
                                  QItemSelectionModel::Select | QItemSelectionModel::Rows);
  EXPECT_EQ(Bars(), "3/2/2026:1/0 3/3/2026:0/1 3/4/2026:0/0 3/5/2026:1/0 ");
  EXPECT_EQ(chart->accessibleDescription(),
            "Downloads and uploads per day, 2026-03-02 to 2026-03-05, of bob and cy");
  // The selection stays through a period, and the chart follows both.
  SetPeriod(QDate(2026, 3, 2), QDate(2026, 3, 3));
  EXPECT_EQ(Bars(), "3/2/2026:1/0 3/3/2026:0/1 ");
  EXPECT_EQ(Get<QLabel>("lblActivity")->text().toStdString(),
            "Downloads and uploads per day, 3/2/2026 to 3/3/2026, of bob and cy");
  // 120 days: a date under every few bars, the first bar's among them.
  SetPeriod(QDate(2026, 1, 1), QDate(2026, 4, 30));
  const QStringList labels = chart->ShownLabels();
  ASSERT_EQ(labels.size(), 120);
  const auto every = std::find_if(labels.begin() + 1, labels.end(),
                                  [](const QString& label) { return !label.isEmpty(); }) -
                     labels.begin();
  EXPECT_GT(every, 1);
  for (qsizetype bar = 0; bar < labels.size(); ++bar)
    EXPECT_EQ(labels[bar].isEmpty(), bar % every != 0) << bar;
  // 121 days: a bar a week, Monday to Sunday.
  SetPeriod(QDate(2026, 1, 1), QDate(2026, 5, 1));
  EXPECT_EQ(Get<QLabel>("lblActivity")->text().toStdString(),
            "Downloads and uploads per week, 12/29/2025 to 5/3/2026, of bob and cy");
  table->selectAll();
  EXPECT_EQ(Get<QLabel>("lblActivity")->text().section(", of ", 1).toStdString(),
            "ann, bob and cy");
  Get<QCheckBox>("chkAllTime")->setChecked(true);
  table->selectAll();
  EXPECT_EQ(Get<QLabel>("lblActivity")->text().section(", of ", 1).toStdString(),
            "ann, bob, cy and 1 more");
}

TEST_F(UsersOverviewOverTime, SaveChartWritesAPngButNeverOverALog) {
  Get<QTabWidget>("tabViews")->setCurrentIndex(1);
  const QString png = QString::fromStdString((folder.Path() / "chart.png").string());
  const QString log = QString::fromStdString((folder.Path() / "Upload Log.txt").string());
  const QString logText = Read(log);
  fake->saveAnswer = png;
  QTest::mouseClick(Get<QPushButton>("cmdSaveChart"), Qt::LeftButton);
  EXPECT_EQ(fake->questions.last(), "Save Activity Chart|Activity.png|PNG images (*.png)");
  QFile saved(png);
  ASSERT_TRUE(saved.open(QIODevice::ReadOnly));
  EXPECT_TRUE(saved.readAll().startsWith("\x89PNG\r\n"));
  EXPECT_TRUE(fake->messages.isEmpty());
  fake->saveAnswer = log;
  QTest::mouseClick(Get<QPushButton>("cmdSaveChart"), Qt::LeftButton);
  EXPECT_EQ(Read(log), logText);
  ASSERT_EQ(fake->messages.size(), 1);
  EXPECT_TRUE(fake->messages[0].startsWith("Save Chart|" + log + " is one of the loaded logs"));
}

TEST_F(UsersOverviewOverTime, TheDateOrderSettingRereadsTheLogsAndIsKeptForTheNextRun) {
  LoadLogs(Dated("ann 03/04/2026"), {});
  SetPeriod(QDate(2026, 4, 3), QDate(2026, 4, 3));
  EXPECT_EQ(Shown(), "") << "3/4 reads as March 4 when nothing in the log says otherwise";
  Get<QComboBox>("cboDates")->setCurrentIndex(2);  // day first
  EXPECT_EQ(window->ReadingDateOrder(), DateOrder::DayFirst);
  EXPECT_EQ(Shown(), "ann");
  EXPECT_EQ(frmMain().ReadingDateOrder(), DateOrder::DayFirst);
  Get<QComboBox>("cboDates")->setCurrentIndex(1);
  EXPECT_EQ(Shown(), "");
  EXPECT_EQ(frmMain().ReadingDateOrder(), DateOrder::MonthFirst);
  // Beside the box, how many dated rows the order set leaves undated; the figures are its own.
  const auto* unread = Get<QLabel>("lblDatesUnread");
  SetPeriod(QDate(2025, 1, 1), QDate(2026, 12, 31));
  LoadLogs(Dated("ann 03/04/2026, bob 25/12/2025, cy 13/01/2026, dee 12/25/2025, fay undated"),
           Dated("eve 31/01/2026"));
  EXPECT_EQ((unread->isVisible() ? unread->text() : "").toStdString(),
            "3 dated rows do not read month first");
  EXPECT_TRUE(QTest::qWaitFor([&] { return Shown() == "ann dee"; })) << Shown();
  Get<QComboBox>("cboDates")->setCurrentIndex(2);
  EXPECT_EQ((unread->isVisible() ? unread->text() : "").toStdString(),
            "1 dated row does not read day first");
  EXPECT_EQ(Shown(), "ann bob cy eve");
  Get<QComboBox>("cboDates")->setCurrentIndex(0);
  EXPECT_FALSE(unread->isVisible());
}

}  // namespace
}  // namespace quorvane
