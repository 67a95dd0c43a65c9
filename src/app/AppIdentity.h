#pragma once

// The program's identity, the same in every window: title, version, icon and splash picture.

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

}  // namespace quorvane
