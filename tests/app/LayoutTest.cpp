#include "app/Controls.h"
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
  };
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

// Twips (15 to the pixel) become the nearest pixel: a truncation would put each control up to
// a pixel short, and a pixel off where several meet.
TEST(Twips, BecomeTheNearestPixel) {
  const std::pair<double, int> cases[] = {{0, 0},    {7, 0},  {7.5, 1},      {22, 1},
                                          {22.5, 2}, {23, 2}, {6007.5, 401}, {12375, 825}};
  for (const auto& [twips, pixels] : cases)
    EXPECT_EQ(Px(twips), pixels) << twips;
}

// The Users Overview goes to the right of the main window, else to its left, level with it and
// inside the screen; without room on either side, nowhere beside it.
TEST(Placement, BesideTheMainWindowWhenTheScreenHasRoom) {
  const QRect screen(0, 0, 1920, 1080);
  const QSize size(700, 500);
  EXPECT_EQ(BesideOnScreen(screen, QRect(320, 50, 900, 600), size), QPoint(1220, 50));
  EXPECT_EQ(BesideOnScreen(screen, QRect(1219, 50, 700, 600), size), QPoint(519, 50));
  EXPECT_EQ(BesideOnScreen(screen, QRect(1220, 700, 700, 300), size), QPoint(520, 580));
  EXPECT_EQ(BesideOnScreen(screen, QRect(1221, 50, 699, 600), size), QPoint(521, 50));
  EXPECT_EQ(BesideOnScreen(screen, QRect(600, 50, 800, 600), size), std::nullopt);
  EXPECT_EQ(BesideOnScreen(QRect(0, 0, 800, 600), QRect(0, 0, 720, 520), size), std::nullopt);
}

// The window cannot be made smaller than its controls need: at its minimum no control covers
// another and every one is inside the window.
TEST_F(Layout, AtItsMinimumSizeNoControlCoversAnother) {
  window->resize(200, 150);
  const QSize minimum = window->size();
  EXPECT_EQ(minimum, window->minimumSize());
  EXPECT_LT(minimum.width(), 825);
  EXPECT_LT(minimum.height(), 579);
  const char* names[] = {"fraDownloadLog", "fraUploadLog",     "fraAnalyzeLog", "cmdLoadLogs",
                         "cmdRenameUser",  "cmdUsersOverview", "cmdAbout",      "cmdExit",
                         "lvwDownloadLog", "cmdAnalyzeLog"};
  std::vector<QRect> boxes;
  for (const char* name : names) {
    const auto* control = Control<QWidget>(name);
    boxes.emplace_back(control->mapTo(window.get(), QPoint(0, 0)), control->size());
    EXPECT_TRUE(window->rect().contains(boxes.back())) << name;
    EXPECT_GT(control->height(), 10) << name;
  }
  for (std::size_t a = 0; a < 8; ++a) {
    for (std::size_t b = a + 1; b < 8; ++b)
      EXPECT_FALSE(boxes[a].intersects(boxes[b])) << names[a] << " and " << names[b];
  }
}

}  // namespace
}  // namespace quorvane
