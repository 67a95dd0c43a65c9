#include "app/basMain.h"

#include <QCoreApplication>
#include <QTimer>

#include "app/AppIdentity.h"
#include "app/frmMain.h"
#include "app/frmSplash.h"
#include "logs/LargeMemory.h"

namespace quorvane {

CommandLine ReadCommandLine(const QStringList& arguments) {
  CommandLine line;
  bool options = true;
  for (const QString& argument : arguments) {
    if (options && argument == QLatin1String("--")) {
      options = false;
    } else if (options &&
               (argument == QLatin1String("--help") || argument == QLatin1String("-h"))) {
      return {CommandLine::Action::kHelp, {}};
    } else if (options && argument == QLatin1String("--version")) {
      return {CommandLine::Action::kVersion, {}};
    } else if (options && argument.size() > 1 && argument.startsWith('-')) {
      line.action = CommandLine::Action::kWrong;
    } else {
      line.logs << argument;
    }
  }
  return line;
}

QString UsageText() {
  return QStringLiteral(
      "usage: quorvane [--help] [--version] [DOWNLOAD_LOG [UPLOAD_LOG]] [LOG...]\n");
}

QString HelpText() {
  return UsageText() + QStringLiteral(
                           "\n"
                           "Shows who downloads and who uploads on a Hotline file server, from its "
                           "download log and upload log.\n"
                           "With two logs the window opens with them loaded; with one it asks "
                           "for the other.\n"
                           "Mobius server logs are told by their content; several files load as "
                           "one history.\n"
                           "A history file (quorvane-report --history) is told by its content "
                           "too and opens alone.\n"
                           "\n"
                           "  --help     print this help and exit\n"
                           "  --version  print the version and exit\n");
}

void StartReleasingIdleMemory() {
  auto* release = new QTimer(QCoreApplication::instance());
  QObject::connect(release, &QTimer::timeout, [] { ReleaseIdleMemory(); });
  release->start(kKeptBlockSeconds * 1000);
}

void Main(const QStringList& logs) {
  SetAppIdentity();
  {
    frmSplash splash;
    splash.exec();
  }
  StartReleasingIdleMemory();
  auto* main = new frmMain();
  main->setAttribute(Qt::WA_DeleteOnClose);
  main->show();
  // Once the window is on screen, so that a failure's message stands over it.
  if (logs.size() == 2) {
    QTimer::singleShot(0, main, [main, logs] { main->LoadLog(logs[0], logs[1]); });
  } else if (!logs.isEmpty()) {
    // One log (a file manager opening one file) asks for the other, as for a drop; server logs
    // and several files load as dropped.
    QTimer::singleShot(0, main, [main, logs] { main->OpenLogs(logs); });
  }
}

}  // namespace quorvane
