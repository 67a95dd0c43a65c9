#include <QApplication>

#include "app/basMain.h"

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  quorvane::Main();
  return QApplication::exec();
}
