#include <QApplication>

#include "app/basMain.h"

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  Main();
  return QApplication::exec();
}
