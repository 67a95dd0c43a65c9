#pragma once

#include <QString>
#include <QStringList>

namespace quorvane {

// What the command line asks for: quorvane [--help] [--version] [DOWNLOAD_LOG [UPLOAD_LOG]].
struct CommandLine {
  enum class Action { kRun, kHelp, kVersion, kWrong };
  Action action = Action::kRun;
  QStringList logs;  // none, one log (the other is asked for), or the download and upload log
};

// Reads the arguments that follow the program's name. "--" ends the options, so a log's name may
// start with a dash.
CommandLine ReadCommandLine(const QStringList& arguments);
QString UsageText();  // one line
QString HelpText();

// Hands the scratch memory counting keeps for its next run back to the system once it has been
// idle a few seconds, from now on while the event loop runs.
void StartReleasingIdleMemory();

// Shows the splash modally, then creates and shows the main window and, when `logs` names a pair,
// loads it as Load Logs would; with one log it asks for the other. Returns while the main window is
// open; the event loop runs the rest of the program.
void Main(const QStringList& logs = {});

}  // namespace quorvane
