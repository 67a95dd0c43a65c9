#pragma once

// The program's start-up and its identity: title, version and icon, the same in every window.

#include <QIcon>
#include <QPixmap>
#include <QString>

// Window geometry is designed in twips: 1440 to the inch, 15 to a pixel at 96 dots per inch.
constexpr int TwipsToPixels(int twips) {
  return (twips * 2 + 15) / 30;
}

QString AppTitle();  // "Quorvane"
int AppVersionMajor();
int AppVersionMinor();
int AppVersionRevision();
QIcon AppIcon();  // 16 and 32 pixel images
QPixmap SplashPicture();

// Names the application and gives every window the program's icon.
void SetAppIdentity();

// Shows the splash modally, then creates and shows the main window. Returns while the main
// window is open; the event loop runs the rest of the program.
void Main();
