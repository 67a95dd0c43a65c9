#pragma once

// The program's identity, the same in every window: title, version, icon and splash picture; and
// the one thing it remembers between runs.

#include <QIcon>
#include <QPixmap>
#include <QString>

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

}  // namespace quorvane
