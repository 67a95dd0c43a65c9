#include "ReportCommand.h"

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <chrono>
#include <csignal>
#include <cstring>
#include <filesystem>
#include <memory>
#include <new>
#include <optional>
#include <string_view>

#include "OutputFile.h"
#include "analysis/Report.h"
#include "logs/LogFollower.h"
#include "logs/LogLoader.h"
#include "logs/LogSources.h"

#ifdef QUORVANE_HISTORY
#include <sys/stat.h>

#include "history/History.h"
#endif

namespace quorvane {

namespace {

constexpr std::string_view kUsage =
    "usage: quorvane-report [--users] [--files] [--top N] [--user NAME]...\n"
    "                       [--format text|csv|json|html]\n"
    "                       [--from YYYY-MM-DD] [--to YYYY-MM-DD] [--date-order mdy|dmy]\n"
    "                       [--encoding auto|utf-8|windows-1252|mac-roman]\n"
    "                       [DOWNLOAD_LOG UPLOAD_LOG] [--download FILE]... [--upload FILE]...\n"
    "                       [--log FILE]... [--follow] [--history FILE] [--output FILE]\n"
    "                       [--every SECONDS]\n";

constexpr std::string_view kHelp =
    "\nReads a Hotline server's download log and upload log and writes who downloads\n"
    "and who uploads: totals, their ratio, the average transfers per address, and with\n"
    "--users every user's counts; --user NAME adds that user's report and uploads.\n"
    "--files adds every file with its downloads, downloaders, uploads and first uploader;\n"
    "--top N keeps the N users with the most downloads and the N most fetched files.\n"
    "--format csv writes the users table (every user, or those named with --user) with\n"
    "credit and addresses for spreadsheets (with --files the files table instead);\n"
    "--format json the whole report for scripts; --format html a page to publish.\n"
    "--from and --to (either alone, whole days) take only the transfers dated in that period\n"
    "for every figure; --date-order says whether 3/4/2026 is March 4 (mdy) or 3 April (dmy),\n"
    "else each log shows it.\n"
    "--encoding says how the logs' text is written; by default UTF-8 when it is valid,\n"
    "else Mac Roman for a log whose lines end in CR alone, else Windows-1252.\n"
    "--download and --upload add a classic log each, --log a Mobius server log (its\n"
    "downloads and uploads both); - is standard input, as in\n"
    "  journalctl -u mobius-hotline-server | quorvane-report --log -\n"
    "Several files make one history: rows a file repeats from another are counted once.\n"
    "A file starting with gzip's signature is unpacked as it is read.\n"
    "--follow (with --format json) keeps reading the logs as the server writes them: the\n"
    "report on one line, then the whole report again on a line of its own each time\n"
    "transfers arrive (at most once a second), until interrupted or standard input ends.\n"
    "--history FILE keeps every transfer of the logs given in FILE (a SQLite database, made\n"
    "when missing) and reports over all it holds, also once the logs are gone; with no logs\n"
    "given, the report comes from FILE alone.\n"
    "--output FILE writes the report to FILE instead of standard output: whole, into a new\n"
    "file beside it that then replaces it, so that a web server never serves half a page.\n"
    "--follow --history FILE adds every batch of transfers to FILE as it arrives; with\n"
    "--output PAGE it writes PAGE once at the start and then at most every --every SECONDS\n"
    "(60 by default) when transfers arrived.\n";

struct Options {
  ReportRequest request;
  bool follow = false;
  std::optional<std::filesystem::path> history;
  std::optional<std::string> output;  // the file to write instead of standard output
  std::chrono::seconds every{60};     // --follow --output: the page at most this often
  EncodingChoice encoding = EncodingChoice::Auto;
  std::vector<LogSource> sources;  // in the order of the command line
  std::vector<std::size_t> pair;   // the positional logs among them
};

// Arguments are UTF-8 on every system, so a file name is too (on POSIX its bytes pass unchanged).
std::filesystem::path PathOf(const std::string& utf8) {
  return std::filesystem::path(std::u8string(utf8.begin(), utf8.end()));
}

// What a word names in a table of values, or nothing.
template <typename T, std::size_t N>
std::optional<T> Named(std::string_view word, const std::pair<std::string_view, T> (&table)[N]) {
  for (const auto& [name, value] : table) {
    if (name == word)
      return value;
  }
  return std::nullopt;
}

constexpr std::pair<std::string_view, EncodingChoice> kEncodings[] = {
    {"auto", EncodingChoice::Auto},
    {"utf-8", EncodingChoice::Utf8},
    {"windows-1252", EncodingChoice::Windows1252},
    {"mac-roman", EncodingChoice::MacRoman}};
constexpr std::pair<std::string_view, ReportFormat> kFormats[] = {{"text", ReportFormat::Text},
                                                                  {"csv", ReportFormat::Csv},
                                                                  {"json", ReportFormat::Json},
                                                                  {"html", ReportFormat::Html}};
constexpr std::pair<std::string_view, DateOrder> kDateOrders[] = {{"mdy", DateOrder::MonthFirst},
                                                                  {"dmy", DateOrder::DayFirst}};

// Options whose value is the next argument.
bool TakesValue(std::string_view arg) {
  return arg == "--user" || arg == "--encoding" || arg == "--format" || arg == "--from" ||
         arg == "--to" || arg == "--date-order" || arg == "--top" || arg == "--download" ||
         arg == "--upload" || arg == "--log" || arg == "--history" || arg == "--output" ||
         arg == "--every";
}

// A file named on the command line; "-" is standard input.
LogSource SourceOf(const std::string& arg, SourceRole role) {
  if (arg == "-")
    return {InputName{{}, true}, role};
  return {InputName{PathOf(arg), false}, role};
}

// Writes one line to `err`, made safe for a terminal.
void Complain(std::ostream& err, std::string_view message) {
  err << "quorvane-report: " << TextSafe(message) << '\n';
}

std::nullopt_t UsageError(std::ostream& err, std::string_view reason) {
  Complain(err, reason);
  err << kUsage;
  return std::nullopt;
}

// Takes an option's value into `options`: nothing, or why it cannot.
std::optional<std::string> ApplyValue(std::string_view name, const std::string& value,
                                      Options& options) {
  ReportRequest& request = options.request;
  if (name == "--user") {
    request.users.push_back(value);
  } else if (name == "--encoding") {
    const std::optional<EncodingChoice> encoding = Named(value, kEncodings);
    if (!encoding)
      return "unknown encoding " + value;
    options.encoding = *encoding;
  } else if (name == "--format") {
    const std::optional<ReportFormat> format = Named(value, kFormats);
    if (!format)
      return "unknown format " + value + " (text, csv, json or html)";
    request.format = *format;
  } else if (name == "--from" || name == "--to") {
    const std::optional<std::int64_t> day = ParseIsoDay(value);
    if (!day)
      return std::string(name) + " " + value + " is not a calendar date (YYYY-MM-DD)";
    Period& period = request.period ? *request.period : request.period.emplace();
    (name == "--from" ? period.firstDay : period.lastDay) = *day;
  } else if (name == "--download" || name == "--upload" || name == "--log") {
    const SourceRole role = name == "--download" ? SourceRole::Download
                            : name == "--upload" ? SourceRole::Upload
                                                 : SourceRole::ServerLog;
    options.sources.push_back(SourceOf(value, role));
  } else if (name == "--history") {
    if (value.empty())
      return std::string("--history needs a file name");
    options.history = PathOf(value);
  } else if (name == "--every") {
    unsigned seconds = 0;
    const char* end = value.data() + value.size();
    const auto [stop, error] = std::from_chars(value.data(), end, seconds);
    if (error != std::errc() || stop != end || seconds == 0 || seconds > 86400)
      return "--every " + value + " is not a whole number of seconds from 1 to 86400";
    options.every = std::chrono::seconds(seconds);
  } else if (name == "--top") {
    std::size_t count = 0;
    const char* end = value.data() + value.size();
    const auto [stop, error] = std::from_chars(value.data(), end, count);
    if (error != std::errc() || stop != end || count == 0)
      return "--top " + value + " is not a whole number of at least 1";
    request.top = count;
  } else if (name == "--output") {
    if (value.empty())
      return std::string("--output needs a file name");
    options.output = value;
    if (value == "-")
      options.output.reset();  // standard output, as for the logs
  } else if (name == "--date-order") {
    const std::optional<DateOrder> order = Named(value, kDateOrders);
    if (!order)
      return "unknown date order " + value + " (mdy or dmy)";
    request.dateOrder = *order;
  } else {
    return "unknown option " + std::string(name);
  }
  return std::nullopt;
}

// The parsed options, or nothing after a usage error has been written to `err`.
std::optional<Options> ParseArguments(const std::vector<std::string>& args, std::ostream& err) {
  Options options;
  bool onlyFiles = false;
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string& arg = args[i];
    if (onlyFiles || arg == "-" || arg.empty() || arg[0] != '-') {
      options.pair.push_back(options.sources.size());
      options.sources.push_back(SourceOf(arg, SourceRole::Download));
      continue;
    }
    if (arg == "--") {
      onlyFiles = true;
      continue;
    }
    if (arg == "--users" || arg == "--files") {
      (arg == "--users" ? options.request.listUsers : options.request.listFiles) = true;
      continue;
    }
    if (arg == "--follow") {
      options.follow = true;
      continue;
    }
    std::string name = arg;
    std::optional<std::string> value;
    if (const std::size_t equals = arg.find('='); equals != std::string::npos) {
      name = arg.substr(0, equals);
      value = arg.substr(equals + 1);
    } else if (TakesValue(arg)) {
      if (i + 1 == args.size())
        return UsageError(err, arg + " needs a value");
      value = args[++i];
    }
    const std::optional<std::string> wrong =
        value ? ApplyValue(name, *value, options) : "unknown option " + arg;
    if (wrong)
      return UsageError(err, *wrong);
  }
  const std::optional<Period>& period = options.request.period;
  if (period && period->firstDay && period->lastDay && *period->firstDay > *period->lastDay)
    return UsageError(err, "--from comes after --to");
  if (options.pair.size() == 2)
    options.sources[options.pair[1]].role = SourceRole::Upload;
  else if (!options.pair.empty())
    return UsageError(err,
                      "give the download log and the upload log as a pair, or with "
                      "--download and --upload");
  if (options.sources.empty() && !options.history)
    return UsageError(err, "give at least one log, or a history file with --history");
  const auto stdinCount =
      std::count_if(options.sources.begin(), options.sources.end(),
                    [](const LogSource& source) { return source.input.standardInput; });
  if (stdinCount > 1)
    return UsageError(err, "standard input (-) can be read only once");
  if (options.follow && options.request.format != ReportFormat::Json && !options.output)
    return UsageError(err, "--follow writes JSON only: give --format json");
  if (options.follow && options.output && !options.history)
    return UsageError(err, "--follow writes a file only with a history: give --history FILE");
  if (options.follow && options.history &&
      std::any_of(options.sources.begin(), options.sources.end(),
                  [](const LogSource& source) { return source.input.standardInput; }))
    return UsageError(err,
                      "--follow --history reads log files: pipe the journal in without --follow, "
                      "from a timer");
  if (options.follow && options.history && options.sources.empty())
    return UsageError(err, "--follow needs at least one log");
  return options;
}

// The first of --help and --version among the options, or nothing.
std::string_view WantsHelpOrVersion(const std::vector<std::string>& args) {
  for (std::size_t i = 0; i < args.size(); ++i) {
    if (args[i] == "--")
      return {};
    if (args[i] == "--help" || args[i] == "-h")
      return "--help";
    if (args[i] == "--version")
      return "--version";
    if (TakesValue(args[i]))
      ++i;  // a value, whatever it looks like
  }
  return {};
}

// Writes and flushes; a failure (a full disk, a closed stdout) is the command's failure.
int Write(std::string_view text, std::ostream& out, std::ostream& err) {
  errno = 0;
  out << text;
  out.flush();
  if (out)
    return 0;
  const int error = errno;
  Complain(err, error != 0 ? "cannot write the report: " + std::string(std::strerror(error))
                           : "cannot write the report");
  return 1;
}

// The line that says why a file could not be read, and for a file of the other kind how to give
// it.
std::string FailureMessage(const SourceFailure& failure, const std::vector<LogSource>& sources) {
  const std::string file = failure.input.Text();
  switch (failure.error.problem) {
    case ReadProblem::IsServerLog:
      return file + ": this is a server log; give it with --log";
    case ReadProblem::NotServerLog:
      return file +
             ": not a server log; give a download or upload log with --download or "
             "--upload";
    case ReadProblem::Unreadable:
      break;
  }
  const SourceRole role = sources[failure.source].role;
  const char* kind = role == SourceRole::Download ? "download log "
                     : role == SourceRole::Upload ? "upload log "
                                                  : "server log ";
  return kind + failure.Describe();
}

// A file given both as a download log and as an upload log, or nothing: its one log would count
// every transfer as both, a ratio of 1 that means nothing.
std::optional<std::string> GivenAsBoth(const std::vector<LogSource>& sources) {
  for (const LogSource& download : sources) {
    if (download.role != SourceRole::Download || download.input.standardInput)
      continue;
    for (const LogSource& upload : sources) {
      std::error_code unreadable;
      if (upload.role == SourceRole::Upload && !upload.input.standardInput &&
          std::filesystem::equivalent(download.input.path, upload.input.path, unreadable))
        return upload.input.Text();
    }
  }
  return std::nullopt;
}

// Whether the file is one of the logs: nothing ever writes over a log.
bool IsALog(const std::filesystem::path& file, const std::vector<LogSource>& sources) {
  return std::any_of(sources.begin(), sources.end(), [&](const LogSource& source) {
    std::error_code unreadable;
    return !source.input.standardInput &&
           std::filesystem::equivalent(file, source.input.path, unreadable);
  });
}

// Writes the report to the file named by --output, or to `out`.
int WriteReport(const Options& options, std::string_view text, std::ostream& out,
                std::ostream& err) {
  if (!options.output)
    return Write(text, out, err);
  if (const std::optional<std::string> error = WriteFileAtomically(PathOf(*options.output), text)) {
    Complain(err, *options.output + ": cannot write the report: " + *error);
    return 1;
  }
  return 0;
}

// A day/month order set by hand that leaves rows undated says how many; the figures stay those of
// that order.
void TellUndatedByOrder(std::ostream& err, const LogPair& logs, DateOrder order) {
  const std::size_t undated =
      logs.downloads.DatesOnlyInOtherOrder(order) + logs.uploads.DatesOnlyInOtherOrder(order);
  if (undated == 0)
    return;
  const bool monthFirst = order == DateOrder::MonthFirst;
  Complain(err, std::to_string(undated) + (undated == 1 ? " dated row does" : " dated rows do") +
                    " not read with --date-order " + (monthFirst ? "mdy" : "dmy") + " (they read " +
                    (monthFirst ? "dmy" : "mdy") + ") and count as undated");
}

// One line for each kind of row a file had left out.
void TellLeftOut(std::ostream& err, const SourceInfo& source) {
  const std::string file = source.input.Text();
  if (source.overlapLeftOut != 0) {
    Complain(err, file + ": " + std::to_string(source.overlapLeftOut) +
                      (source.overlapLeftOut == 1 ? " row" : " rows") +
                      " already read from another file left out");
  }
  const std::vector<std::uint64_t>& lines = source.unreadableLines;
  if (!lines.empty()) {
    std::string text = file + ": " + std::to_string(lines.size()) +
                       (lines.size() == 1 ? " transfer line" : " transfer lines") +
                       " could not be read (" + (lines.size() == 1 ? "line " : "lines ");
    constexpr std::size_t kNamed = 10;
    for (std::size_t i = 0; i < lines.size() && i < kNamed; ++i)
      text += (i == 0 ? "" : ", ") + std::to_string(lines[i]);
    text += lines.size() > kNamed ? "\xE2\x80\xA6)" : ")";  // an ellipsis
    Complain(err, text);
  }
}

volatile std::sig_atomic_t stopFollowing = 0;

extern "C" void OnStopSignal(int) {
  stopFollowing = 1;
}

// Ends the follow on SIGINT and SIGTERM; a reader that went away makes a write fail, not a
// SIGPIPE that ends the program without its line.
void CatchStopSignals() {
  stopFollowing = 0;
#ifdef _WIN32
  std::signal(SIGINT, OnStopSignal);
  std::signal(SIGTERM, OnStopSignal);
#else
  struct sigaction action = {};
  action.sa_handler = OnStopSignal;
  sigemptyset(&action.sa_mask);
  action.sa_flags = 0;  // no restart: the wait for the files ends at once
  sigaction(SIGINT, &action, nullptr);
  sigaction(SIGTERM, &action, nullptr);
  std::signal(SIGPIPE, SIG_IGN);
#endif
}

// The JSON report on one line: its layout is the only place a line end can stand, as strings
// hold theirs escaped.
std::string OneLine(const std::string& json) {
  std::string line;
  line.reserve(json.size());
  for (std::size_t i = 0; i < json.size(); ++i) {
    if (json[i] != '\n') {
      line.push_back(json[i]);
      continue;
    }
    while (i + 1 < json.size() && json[i + 1] == ' ')
      ++i;
  }
  return line + '\n';
}

const char* Happened(FollowEventKind kind) {
  switch (kind) {
    case FollowEventKind::Rotated:
      return "rotated; reading the new file from its start";
    case FollowEventKind::Truncated:
      return "cut short; reading it again from its start";
    case FollowEventKind::Deleted:
      return "deleted; its rows stay, and reading resumes if it comes back";
    case FollowEventKind::Back:
      return "back; reading it from its start";
    case FollowEventKind::UnreadableLine:
      return "a line could not be read and was left out";
  }
  return "";
}

// Loads the logs but standard input, which is read as it comes, then writes the report each
// time transfers arrived.
int Follow(const Options& options, std::ostream& out, std::ostream& err) {
  CatchStopSignals();
  const LoadOptions load = LoadOptionsFor(options.request, options.encoding);
  std::vector<LogSource> files;
  for (const LogSource& source : options.sources) {
    if (!source.input.standardInput)
      files.push_back(source);
  }
  LogPair tables;
  std::vector<SourceInfo> infos;
  if (!files.empty()) {
    SourcesResult loaded = LoadSources(files, {options.encoding, load.kept, load.dates, {}});
    if (!loaded.Ok()) {
      SourceFailure failure = *loaded.failure;
      failure.source = static_cast<std::size_t>(
          std::find_if(options.sources.begin(), options.sources.end(),
                       [&](const LogSource& s) { return s.input.path == failure.input.path; }) -
          options.sources.begin());
      Complain(err, FailureMessage(failure, options.sources));
      return 1;
    }
    tables = std::move(*loaded.logs);
    infos = std::move(loaded.sources);
  }
  for (std::size_t i = 0; i < options.sources.size(); ++i) {
    if (options.sources[i].input.standardInput) {
      SourceInfo info;
      info.input = options.sources[i].input;
      info.format =
          options.sources[i].role == SourceRole::ServerLog ? LogFormat::Mobius : LogFormat::Classic;
      infos.insert(infos.begin() + static_cast<std::ptrdiff_t>(i), info);
    }
  }
  const auto write = [&] {
    Report report = BuildReport(static_cast<const LogPair&>(tables), options.request);
    report.sources = infos;
    return Write(OneLine(FormatReport(report, options.request)), out, err);
  };
  if (write() != 0)
    return 1;
  using Clock = std::chrono::steady_clock;
  LogFollower follower(options.sources, infos, tables.downloads.RowCount(),
                       tables.uploads.RowCount(),
                       {options.encoding, load.kept, load.dates, std::chrono::seconds(1)});
  Clock::time_point written = Clock::now();
  bool arrived = false;
  while (!stopFollowing) {
    const auto sinceWritten = Clock::now() - written;
    follower.Wait(arrived && sinceWritten < std::chrono::seconds(1)
                      ? std::chrono::duration_cast<std::chrono::milliseconds>(
                            std::chrono::seconds(1) - sinceWritten) +
                            std::chrono::milliseconds(1)
                      : std::chrono::milliseconds(1000));
    if (stopFollowing)
      break;
    const FollowUpdate update = follower.Poll();
    ApplyFollowUpdate(update, tables);
    for (const FollowedRows& rows : update.rows) {
      arrived = true;
      if (!rows.replaces)
        (rows.table == LogKind::Download ? infos[rows.source].downloads
                                         : infos[rows.source].uploads) += rows.rows.RowCount();
    }
    for (const FollowEvent& event : update.events)
      Complain(err, infos[event.source].input.Text() + ": " + Happened(event.kind));
    if (update.failure) {
      Complain(err, *update.failure + "; following stopped");
      return 1;
    }
    if (arrived && (update.inputEnded || Clock::now() - written >= std::chrono::seconds(1))) {
      if (write() != 0)
        return 1;
      written = Clock::now();
      arrived = false;
    }
    if (update.inputEnded)
      return 0;
  }
  return 0;
}

#ifdef QUORVANE_HISTORY
// What a history file gave: its tables, the files it learned from, their names, and what the
// sources read now were.
struct HeldReport {
  LogPair logs;
  std::vector<SourceInfo> files;
  std::vector<std::string> names;
  std::vector<SourceInfo> read;
  std::size_t added = 0;
};

// How long a run waits for another one adding to the same history file.
constexpr std::chrono::seconds kHistoryWait{30};

// Adds the sources to the history and reads back all it holds; nothing after saying why not in
// one line.
std::optional<HeldReport> Held(History& history, const std::vector<LogSource>& sources,
                               const Options& options, const LoadOptions& load, std::ostream& err) {
  History::Result held = history.Update(sources, {options.encoding, load.kept, load.dates, {}});
  if (held.sourceFailure) {
    Complain(err, FailureMessage(*held.sourceFailure, sources));
    return std::nullopt;
  }
  if (held.failure) {
    Complain(err, *held.failure);
    return std::nullopt;
  }
  for (const SourceInfo& source : held.read)
    TellLeftOut(err, source);
  HeldReport report{std::move(*held.logs),
                    std::move(held.files),
                    {},
                    std::move(held.read),
                    held.downloadsAdded + held.uploadsAdded};
  for (const SourceInfo& file : report.files)
    report.names.push_back(file.input.Text());
  return report;
}

std::unique_ptr<History> OpenHistory(const Options& options, std::ostream& err) {
  std::string error;
  std::unique_ptr<History> history = History::Open(
      *options.history, options.sources.empty() ? History::Access::Read : History::Access::Write,
      kHistoryWait, error);
  if (!history)
    Complain(err, error);
  return history;
}

// Which file a path names now, (0, 0) when none.
std::pair<std::uint64_t, std::uint64_t> FileIdOf(const std::filesystem::path& path) {
  struct stat status {};
  if (::stat(path.c_str(), &status) != 0)
    return {0, 0};
  return {static_cast<std::uint64_t>(status.st_dev), static_cast<std::uint64_t>(status.st_ino)};
}

// Where a file read under `name` went when another took its name or it went away: the file in
// the same folder that is still that file (a rotation's backup), if any.
std::optional<std::filesystem::path> RenamedTo(const std::filesystem::path& name,
                                               std::pair<std::uint64_t, std::uint64_t> file) {
  std::error_code error;
  const std::filesystem::path folder =
      name.parent_path().empty() ? std::filesystem::path(".") : name.parent_path();
  for (const auto& entry : std::filesystem::directory_iterator(folder, error)) {
    if (entry.is_regular_file(error) && FileIdOf(entry.path()) == file)
      return name.parent_path() / entry.path().filename();
  }
  return std::nullopt;
}

// Keeps the history file up to date as the server writes its logs: every batch of transfers is
// committed before it is reported. The report goes to standard output as a JSON line at most once
// a second, or replaces --output at most every --every seconds, whenever transfers arrived (and
// once at the start).
int FollowHistory(const Options& options, std::ostream& out, std::ostream& err) {
  CatchStopSignals();
  const LoadOptions load = LoadOptionsFor(options.request, options.encoding);
  const std::unique_ptr<History> history = OpenHistory(options, err);
  if (!history)
    return 1;
  std::optional<HeldReport> held = Held(*history, options.sources, options, load, err);
  if (!held)
    return 1;
  ReportRequest request = options.request;
  const auto write = [&] {
    request.logNames = held->names;
    Report report = BuildReport(static_cast<const LogPair&>(held->logs), request);
    report.sources = held->files;
    const std::string text = FormatReport(report, request);
    return options.output ? WriteReport(options, text, out, err) : Write(OneLine(text), out, err);
  };
  if (write() != 0)
    return 1;
  using Clock = std::chrono::steady_clock;
  const auto every = options.output ? options.every : std::chrono::seconds(1);
  // The follower only tells when the files changed; the history reads them.
  LogFollower follower(options.sources, held->read, 0, 0,
                       {options.encoding, load.kept, load.dates, std::chrono::seconds(1)});
  // The file each name named at the last read, and the files that names gave up since (a
  // rotation's backup), read with the others for a while so that their last rows are kept.
  std::vector<std::pair<std::uint64_t, std::uint64_t>> known;
  for (const SourceInfo& read : held->read)
    known.emplace_back(read.device, read.inode);
  std::vector<std::pair<LogSource, Clock::time_point>> gone;
  constexpr std::chrono::seconds kKeepGone{60};
  Clock::time_point written = Clock::now();
  bool pending = false;
  while (!stopFollowing) {
    const auto wait = pending ? std::max(std::chrono::duration_cast<std::chrono::milliseconds>(
                                             every - (Clock::now() - written)),
                                         std::chrono::milliseconds(1))
                              : std::chrono::milliseconds(1000);
    follower.Wait(std::min(wait, std::chrono::milliseconds(1000)));
    if (stopFollowing)
      break;
    const FollowUpdate update = follower.Poll();
    bool changed = !update.rows.empty() || !update.events.empty();
    for (const FollowEvent& event : update.events)
      Complain(err, options.sources[event.source].input.Text() + ": " + Happened(event.kind));
    if (update.failure) {
      Complain(err, *update.failure + "; following stopped");
      return 1;
    }
    for (std::size_t i = 0; i < options.sources.size(); ++i) {
      const std::filesystem::path& name = options.sources[i].input.path;
      if (known[i].second == 0 || FileIdOf(name) == known[i])
        continue;
      if (const auto renamed = RenamedTo(name, known[i]))
        gone.push_back({{InputName{*renamed, false}, options.sources[i].role}, Clock::now()});
      known[i] = {0, 0};
      changed = true;
    }
    std::erase_if(gone, [&](const auto& file) { return Clock::now() - file.second > kKeepGone; });
    if (changed) {
      // A log that is gone for now (deleted, or between a rotation's rename and the new file)
      // is left out: its rows stay in the history, and it is read again when it is back.
      std::vector<LogSource> sources;
      std::vector<std::size_t> given;
      for (std::size_t i = 0; i < options.sources.size(); ++i) {
        if (FileIdOf(options.sources[i].input.path).second != 0) {
          sources.push_back(options.sources[i]);
          given.push_back(i);
        }
      }
      for (const auto& file : gone) {
        if (FileIdOf(file.first.input.path).second != 0)
          sources.push_back(file.first);
      }
      std::optional<HeldReport> now = Held(*history, sources, options, load, err);
      if (!now)
        return 1;
      pending = pending || now->added != 0 || now->files.size() != held->files.size();
      held = std::move(now);
      for (std::size_t i = 0; i < given.size(); ++i)
        known[given[i]] = {held->read[i].device, held->read[i].inode};
    }
    if (pending && Clock::now() - written >= every) {
      if (write() != 0)
        return 1;
      written = Clock::now();
      pending = false;
    }
  }
  // A page still waiting for its turn is written before the end.
  if (pending && write() != 0)
    return 1;
  return 0;
}

// Adds the logs given to the history file and reads back all it holds; nothing after saying why
// not in one line.
std::optional<HeldReport> FromHistory(const Options& options, const LoadOptions& load,
                                      std::ostream& err) {
  const std::unique_ptr<History> history = OpenHistory(options, err);
  if (!history)
    return std::nullopt;
  return Held(*history, options.sources, options, load, err);
}
#endif

}  // namespace

int RunReportCommand(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
#ifndef _WIN32
  // A file-size limit reached is a failed write to report, as a full disk is, not a signal that
  // ends the program without its line.
  std::signal(SIGXFSZ, SIG_IGN);
#endif
  const std::string_view asked = WantsHelpOrVersion(args);
  if (asked == "--help")
    return Write(std::string(kUsage) + std::string(kHelp), out, err);
  if (asked == "--version")
    return Write("Quorvane " QUORVANE_VERSION "\n", out, err);
  std::optional<Options> options = ParseArguments(args, err);
  if (!options)
    return 2;
  for (const LogSource& source : options->sources)
    options->request.logNames.push_back(source.input.Text());

  if (const std::optional<std::string> both = GivenAsBoth(options->sources)) {
    Complain(err, *both + ": given as both a download log and an upload log");
    return 1;
  }
  if (options->output && IsALog(PathOf(*options->output), options->sources)) {
    Complain(err, *options->output + ": cannot write the report: it is one of the logs");
    return 1;
  }
#ifndef QUORVANE_HISTORY
  if (options->history) {
    Complain(err, "--history: this build keeps no history (it was made without SQLite)");
    return 1;
  }
#endif
  if (options->output && options->history && PathOf(*options->output) == *options->history) {
    Complain(err, *options->output + ": cannot write the report: it is the history file");
    return 1;
  }
  if (options->follow) {
    try {
#ifdef QUORVANE_HISTORY
      if (options->history)
        return FollowHistory(*options, out, err);
#endif
      return Follow(*options, out, err);
    } catch (const std::bad_alloc&) {
      Complain(err, "there is not enough memory to make the report");
      return 1;
    }
  }
  std::string text;
  try {
    std::optional<Report> report;
    {
      const LoadOptions load = LoadOptionsFor(options->request, options->encoding);
#ifdef QUORVANE_HISTORY
      if (options->history) {
        std::optional<HeldReport> held = FromHistory(*options, load, err);
        if (!held)
          return 1;
        options->request.logNames = std::move(held->names);
        report = BuildReport(std::move(held->logs), options->request);
        report->sources = std::move(held->files);
      } else
#endif
      {
        SourcesResult loaded =
            LoadSources(options->sources, {options->encoding, load.kept, load.dates, {}});
        if (!loaded.Ok()) {
          Complain(err, FailureMessage(*loaded.failure, options->sources));
          return 1;
        }
        for (const SourceInfo& source : loaded.sources)
          TellLeftOut(err, source);
        TellUndatedByOrder(err, *loaded.logs, options->request.dateOrder);
        // The tables go as the report no longer needs them, before the text is made.
        report = BuildReport(std::move(*loaded.logs), options->request);
        report->sources = std::move(loaded.sources);
      }
    }
    // The whole report is made before any of it is written, so a failure on the way never
    // leaves half of it on stdout.
    text = FormatReport(*report, options->request);
  } catch (const std::bad_alloc&) {
    Complain(err, "there is not enough memory to make the report");
    return 1;
  }
  return WriteReport(*options, text, out, err);
}

}  // namespace quorvane
