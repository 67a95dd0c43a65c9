#pragma once

// The program's identity, the same in every window: title, version, icon and splash picture; and
// what every window goes by between runs.

#include <QIcon>
#include <QPixmap>
#include <QString>

#include "logs/DateTime.h"

namespace quorvane {

QString AppTitle();  // "Quorvane"
int AppVersionMajor();
int AppVersionMinor();
int AppVersionRevision();
QString AppVersionText();  // "1.1.3"
QIcon AppIcon();           // 16 and 32 pixel images
QPixmap SplashPicture();

// Names the application (and its settings) and gives every window the program's icon.
void SetAppIdentity();

// The folder of the last pair of logs loaded, remembered across runs in the program's own user
// settings; empty before the first load.
QString LastLogFolder();
void RememberLogFolder(const QString& folder);

// How dates such as 3/4/2026 are read, remembered across runs; Detect before it is first set.
DateOrder RememberedDateOrder();
void RememberDateOrder(DateOrder order);

}  // namespace quorvane
