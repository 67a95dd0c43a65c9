#include "app/AppIdentity.h"

#include <QApplication>
#include <QSettings>

// Resources of a static library are registered by hand; outside any namespace by necessity.
static void InitAppResources() {
  static const bool done = [] {
    Q_INIT_RESOURCE(quorvane);
    return true;
  }();
  (void)done;
}

namespace quorvane {

QString AppTitle() {
  return QStringLiteral("Quorvane");
}
int AppVersionMajor() {
  return QUORVANE_VERSION_MAJOR;
}
int AppVersionMinor() {
  return QUORVANE_VERSION_MINOR;
}
int AppVersionRevision() {
  return QUORVANE_VERSION_PATCH;
}

QString AppVersionText() {
  return QStringLiteral("%1.%2.%3")
      .arg(AppVersionMajor())
      .arg(AppVersionMinor())
      .arg(AppVersionRevision());
}

QIcon AppIcon() {
  InitAppResources();
  QIcon icon;
  icon.addFile(QStringLiteral(":/quorvane/quorvane-16.png"), QSize(16, 16));
  icon.addFile(QStringLiteral(":/quorvane/quorvane-32.png"), QSize(32, 32));
  return icon;
}

QPixmap SplashPicture() {
  InitAppResources();
  return QPixmap(QStringLiteral(":/quorvane/splash.jpg"), "JPG");
}

void SetAppIdentity() {
  QApplication::setApplicationName(AppTitle());
  // Settings go to Quorvane/Quorvane.conf (or the registry key of that name), not to an
  // "Unknown Organization".
  QApplication::setOrganizationName(AppTitle());
  QApplication::setApplicationVersion(AppVersionText());
  QApplication::setWindowIcon(AppIcon());
  // Lets desktops match the running windows to the installed menu entry and its icon.
  QGuiApplication::setDesktopFileName(QStringLiteral("quorvane"));
}

namespace {
const QString kLastLogFolder = QStringLiteral("LastLogFolder");
const QString kDateOrder = QStringLiteral("DateOrder");

// The store SetAppIdentity names, the one every window uses.
QSettings Settings() {
  return QSettings();
}
}  // namespace

QString LastLogFolder() {
  return Settings().value(kLastLogFolder).toString();
}

void RememberLogFolder(const QString& folder) {
  Settings().setValue(kLastLogFolder, folder);
}

// Kept as the report command's words, so the file reads plainly; anything else is Detect.
DateOrder RememberedDateOrder() {
  const QString order = Settings().value(kDateOrder).toString();
  if (order == QLatin1String("mdy"))
    return DateOrder::MonthFirst;
  return order == QLatin1String("dmy") ? DateOrder::DayFirst : DateOrder::Detect;
}

void RememberDateOrder(DateOrder order) {
  const char* const words[] = {"auto", "mdy", "dmy"};
  Settings().setValue(kDateOrder, QLatin1String(words[static_cast<int>(order)]));
}

}  // namespace quorvane
