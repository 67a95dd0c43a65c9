#include <QApplication>
#include <cstdio>
#include <cstdlib>

#include "app/AppIdentity.h"
#include "app/basMain.h"
#include "logs/LargeMemory.h"

using quorvane::CommandLine;

namespace {
int Usage() {
  std::fputs(quorvane::UsageText().toLocal8Bit().constData(), stderr);
  return 2;
}

// While Qt starts: its complaints are held back, and a start it cannot survive (no display to
// reach) ends the program with one line and status 1 instead of an abort.
void StartupMessage(QtMsgType type, const QMessageLogContext&, const QString&) {
  if (type == QtFatalMsg) {
    std::fputs(
        "quorvane: no display to open a window on (is DISPLAY set?); quorvane-report works "
        "without one\n",
        stderr);
    std::_Exit(1);
  }
}
}  // namespace

int main(int argc, char** argv) {
  quorvane::UseMemoryForAWindow();
  // Answered before Qt looks for a display, so they need none: --help, --version, and a wrong
  // command line without options (with options, Qt may take some of them as its own).
  QStringList arguments;
  bool options = false;
  for (int i = 1; i < argc; ++i) {
    arguments << QString::fromLocal8Bit(argv[i]);
    options = options || argv[i][0] == '-';
  }
  CommandLine line = quorvane::ReadCommandLine(arguments);
  if (line.action == CommandLine::Action::kHelp || line.action == CommandLine::Action::kVersion) {
    const QString text = line.action == CommandLine::Action::kHelp
                             ? quorvane::HelpText()
                             : quorvane::AppTitle() + ' ' + quorvane::AppVersionText() + '\n';
    std::fputs(text.toLocal8Bit().constData(), stdout);
    return 0;
  }
  if (line.action == CommandLine::Action::kWrong && !options)
    return Usage();
  // Qt takes its own options (-platform, -style...) out of the arguments.
  const QtMessageHandler previous = qInstallMessageHandler(StartupMessage);
  QApplication app(argc, argv);
  qInstallMessageHandler(previous);
  line = quorvane::ReadCommandLine(QApplication::arguments().mid(1));
  if (line.action != CommandLine::Action::kRun)
    return Usage();
  quorvane::Main(line.logs);
  return QApplication::exec();
}
