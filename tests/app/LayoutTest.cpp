#include <QGroupBox>
#include <QProgressBar>
#include <QPushButton>
#include <QTableView>

#include "support/MainWindowFixture.h"

namespace {

using Layout = MainWindowFixture;

// Geometry in twips (15 to a pixel), as the layout computes it.
QRectF Twips(QWidget* widget) {
  const QRect g = widget->geometry();
  return {g.x() * 15.0, g.y() * 15.0, g.width() * 15.0, g.height() * 15.0};
}

// Within a pixel of the exact twip figure.
void ExpectNear(QWidget* widget, double left, double top, double width, double height) {
  const QRectF actual = Twips(widget);
  EXPECT_NEAR(actual.x(), left, 15) << widget->objectName().toStdString() << " left";
  EXPECT_NEAR(actual.y(), top, 15) << widget->objectName().toStdString() << " top";
  EXPECT_NEAR(actual.width(), width, 15) << widget->objectName().toStdString() << " width";
  EXPECT_NEAR(actual.height(), height, 15) << widget->objectName().toStdString() << " height";
}

TEST_F(Layout, AtTheCreationSizeEveryControlSitsWhereTheLayoutPutsIt) {
  ExpectNear(Control<QGroupBox>("fraDownloadLog"), 120, 120, 6007.5, 5070);
  ExpectNear(Control<QGroupBox>("fraUploadLog"), 6247.5, 120, 6007.5, 5070);
  ExpectNear(Control<QTableView>("lvwDownloadLog"), 120, 240, 5767.5, 4335);
  ExpectNear(Control<QTableView>("lvwUploadLog"), 120, 240, 5767.5, 4335);
  ExpectNear(Control<QProgressBar>("prgDownloadLog"), 120, 4695, 5767.5, 255);
  ExpectNear(Control<QProgressBar>("prgUploadLog"), 120, 4695, 5767.5, 255);
  ExpectNear(Control<QGroupBox>("fraAnalyzeLog"), 120, 5310, 10335, 3255);
  ExpectNear(Control<QPushButton>("cmdLoadLogs"), 10920, 5370, 1335, 375);
  ExpectNear(Control<QPushButton>("cmdRenameUser"), 10920, 5865, 1335, 375);
  ExpectNear(Control<QPushButton>("cmdAbout"), 10920, 7695, 1335, 375);
  ExpectNear(Control<QPushButton>("cmdExit"), 10920, 8190, 1335, 375);
}

TEST_F(Layout, WideningSharesTheWidthAndKeepsTheAnalysisPanelInPlace) {
  window->resize(1200, 579);  // 18000 twips
  ExpectNear(Control<QGroupBox>("fraDownloadLog"), 120, 120, 8820, 5070);
  ExpectNear(Control<QGroupBox>("fraUploadLog"), 9060, 120, 8820, 5070);
  ExpectNear(Control<QTableView>("lvwUploadLog"), 120, 240, 8580, 4335);
  ExpectNear(Control<QProgressBar>("prgUploadLog"), 120, 4695, 8580, 255);
  ExpectNear(Control<QGroupBox>("fraAnalyzeLog"), 120, 5310, 10335, 3255);
  ExpectNear(Control<QPushButton>("cmdLoadLogs"), 16545, 5370, 1335, 375);
  ExpectNear(Control<QPushButton>("cmdExit"), 16545, 8190, 1335, 375);
}

TEST_F(Layout, TallerWindowsGiveTheLogFramesTheHeight) {
  window->resize(825, 800);  // 12000 twips high
  ExpectNear(Control<QGroupBox>("fraDownloadLog"), 120, 120, 6007.5, 8385);
  ExpectNear(Control<QTableView>("lvwDownloadLog"), 120, 240, 5767.5, 7650);
  ExpectNear(Control<QProgressBar>("prgDownloadLog"), 120, 8010, 5767.5, 255);
  ExpectNear(Control<QGroupBox>("fraAnalyzeLog"), 120, 8625, 10335, 3255);
  ExpectNear(Control<QPushButton>("cmdRenameUser"), 10920, 9180, 1335, 375);
  ExpectNear(Control<QPushButton>("cmdAbout"), 10920, 11010, 1335, 375);
}

TEST_F(Layout, BelowTheFixedPartsHeightSizesKeepTheirOldValuesAndTheRestGoesOn) {
  window->resize(825, 200);  // 3000 twips: the log frames' height would be -615
  ExpectNear(Control<QGroupBox>("fraDownloadLog"), 120, 120, 6007.5, 5070);
  ExpectNear(Control<QTableView>("lvwDownloadLog"), 120, 240, 5767.5, 4335);
  ExpectNear(Control<QGroupBox>("fraAnalyzeLog"), 120, 5310, 10335, 3255);
  ExpectNear(Control<QPushButton>("cmdLoadLogs"), 10920, 5370, 1335, 375);
  // The corner buttons follow the window, even above its top.
  ExpectNear(Control<QPushButton>("cmdExit"), 10920, 2505, 1335, 375);
  ExpectNear(Control<QPushButton>("cmdAbout"), 10920, 2010, 1335, 375);

  window->resize(20, 100);  // 300 x 1500 twips: the frames' width would be negative too
  ExpectNear(Control<QGroupBox>("fraDownloadLog"), 120, 120, 6007.5, 5070);
  ExpectNear(Control<QGroupBox>("fraUploadLog"), 6247.5, 120, 6007.5, 5070);
  ExpectNear(Control<QPushButton>("cmdExit"), -1155, 1005, 1335, 375);

  window->resize(825, 579);  // back to the creation size: as before
  ExpectNear(Control<QGroupBox>("fraDownloadLog"), 120, 120, 6007.5, 5070);
  ExpectNear(Control<QPushButton>("cmdExit"), 10920, 8190, 1335, 375);
}

}  // namespace
