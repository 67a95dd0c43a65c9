#include "support/MainWindowFixture.h"

namespace quorvane {
namespace {

using Layout = MainWindowFixture;

TEST_F(Layout, ControlsFollowTheClientSize) {
  // After each resize, control name with left, top, width and height in twips.
  const std::vector<std::tuple<const char*, QSize, QStringList>> steps = {
      {"creation size, 12375 x 8685 twips",
       {825, 579},
       {"fraDownloadLog 120 120 6007.5 5070", "fraUploadLog 6247.5 120 6007.5 5070",
        "lvwUploadLog 120 240 5767.5 4335", "prgDownloadLog 120 4695 5767.5 255",
        "fraAnalyzeLog 120 5310 10335 3255", "cmdRenameUser 10920 5865 1335 375",
        "cmdAbout 10920 7695 1335 375"}},
      {"widened to 18000 twips: the logs share the width, the analysis panel stays",
       {1200, 579},
       {"fraDownloadLog 120 120 8820 5070", "fraUploadLog 9060 120 8820 5070",
        "lvwUploadLog 120 240 8580 4335", "prgUploadLog 120 4695 8580 255",
        "fraAnalyzeLog 120 5310 10335 3255", "cmdLoadLogs 16545 5370 1335 375",
        "cmdExit 16545 8190 1335 375"}},
      {"12000 twips high: the log frames take the height",
       {825, 800},
       {"lvwDownloadLog 120 240 5767.5 7650", "prgDownloadLog 120 8010 5767.5 255",
        "fraAnalyzeLog 120 8625 10335 3255", "cmdRenameUser 10920 9180 1335 375",
        "cmdAbout 10920 11010 1335 375"}},
      // Below 3615 twips the log frames' height would be negative: sizes keep their old values,
      // the rest goes on, and the corner buttons follow the window even above its top.
      {"3000 twips high",
       {825, 200},
       {"fraDownloadLog 120 120 6007.5 8385", "lvwDownloadLog 120 240 5767.5 7650",
        "fraAnalyzeLog 120 8625 10335 3255", "cmdLoadLogs 10920 8685 1335 375",
        "cmdAbout 10920 2010 1335 375", "cmdExit 10920 2505 1335 375"}},
      {"300 x 1500 twips: the widths would be negative too",
       {20, 100},
       {"fraDownloadLog 120 120 6007.5 8385", "fraUploadLog 6247.5 120 6007.5 8385",
        "cmdExit -1155 1005 1335 375"}}};
  for (const auto& [label, clientSize, places] : steps) {
    SCOPED_TRACE(label);
    window->resize(clientSize);
    for (const QString& place : places) {
      const QStringList figures = place.split(' ');
      const QRect g = Control<QWidget>(figures[0].toLatin1().constData())->geometry();
      const double actual[] = {g.x() * 15.0, g.y() * 15.0, g.width() * 15.0, g.height() * 15.0};
      for (int i = 0; i < 4; ++i)  // within a pixel of the exact twip figure
        EXPECT_NEAR(actual[i], figures[i + 1].toDouble(), 15) << place.toStdString();
    }
    // Users Overview sits under Rename Users, its right edge in line, wide enough for its caption.
    const QRect rename = Control<QWidget>("cmdRenameUser")->geometry();
    const auto* overview = Control<QWidget>("cmdUsersOverview");
    EXPECT_EQ(overview->geometry().right(), rename.right());
    EXPECT_NEAR(overview->y(), rename.bottom() + 1 + 120 / 15, 1);
    EXPECT_GE(overview->width(), std::max(rename.width(), overview->sizeHint().width()));
  }
}

}  // namespace
}  // namespace quorvane
