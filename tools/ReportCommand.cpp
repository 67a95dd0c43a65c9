#include "ReportCommand.h"

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <new>
#include <optional>
#include <string_view>

#include "analysis/Report.h"
#include "logs/LogLoader.h"

namespace quorvane {

namespace {

constexpr std::string_view kUsage =
    "usage: quorvane-report [--users] [--user NAME]... [--format text|csv|json]\n"
    "                       [--encoding auto|utf-8|windows-1252|mac-roman] DOWNLOAD_LOG "
    "UPLOAD_LOG\n";

constexpr std::string_view kHelp =
    "\nReads a Hotline server's download log and upload log and writes who downloads\n"
    "and who uploads: totals, their ratio, the average transfers per address, and with\n"
    "--users every user's counts; --user NAME adds that user's report and uploads.\n"
    "--format csv writes the users table (every user, or those named with --user) with\n"
    "credit and addresses for spreadsheets; --format json the whole report for scripts.\n"
    "--encoding says how the logs' text is written; by default UTF-8 when it is valid,\n"
    "else Mac Roman for a log whose lines end in CR alone, else Windows-1252.\n";

struct Options {
  ReportRequest request;
  EncodingChoice encoding = EncodingChoice::Auto;
  std::vector<std::string> logs;
};

// Arguments are UTF-8 on every system, so a file name is too (on POSIX its bytes pass unchanged).
std::filesystem::path PathOf(const std::string& utf8) {
  return std::filesystem::path(std::u8string(utf8.begin(), utf8.end()));
}

std::optional<EncodingChoice> EncodingNamed(std::string_view name) {
  if (name == "auto")
    return EncodingChoice::Auto;
  if (name == "utf-8")
    return EncodingChoice::Utf8;
  if (name == "windows-1252")
    return EncodingChoice::Windows1252;
  if (name == "mac-roman")
    return EncodingChoice::MacRoman;
  return std::nullopt;
}

std::optional<ReportFormat> FormatNamed(std::string_view name) {
  if (name == "text")
    return ReportFormat::Text;
  if (name == "csv")
    return ReportFormat::Csv;
  if (name == "json")
    return ReportFormat::Json;
  return std::nullopt;
}

// Options whose value is the next argument.
bool TakesValue(std::string_view arg) {
  return arg == "--user" || arg == "--encoding" || arg == "--format";
}

// Writes one line to `err`, made safe for a terminal.
void Complain(std::ostream& err, std::string_view message) {
  err << "quorvane-report: " << TextSafe(message) << '\n';
}

// The parsed options, or nothing after a usage error has been written to `err`.
std::optional<Options> ParseArguments(const std::vector<std::string>& args, std::ostream& err) {
  Options options;
  bool onlyFiles = false;
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string& arg = args[i];
    if (onlyFiles || arg == "-" || arg.empty() || arg[0] != '-') {
      options.logs.push_back(arg);
      continue;
    }
    if (arg == "--") {
      onlyFiles = true;
      continue;
    }
    if (arg == "--users") {
      options.request.listUsers = true;
      continue;
    }
    std::string name = arg;
    std::optional<std::string> value;
    if (const std::size_t equals = arg.find('='); equals != std::string::npos) {
      name = arg.substr(0, equals);
      value = arg.substr(equals + 1);
    } else if (TakesValue(arg)) {
      if (i + 1 == args.size()) {
        Complain(err, arg + " needs a value");
        err << kUsage;
        return std::nullopt;
      }
      value = args[++i];
    }
    if (name == "--user" && value) {
      options.request.users.push_back(*value);
    } else if (name == "--encoding" && value) {
      const std::optional<EncodingChoice> encoding = EncodingNamed(*value);
      if (!encoding) {
        Complain(err, "unknown encoding " + *value);
        err << kUsage;
        return std::nullopt;
      }
      options.encoding = *encoding;
    } else if (name == "--format" && value) {
      const std::optional<ReportFormat> format = FormatNamed(*value);
      if (!format) {
        Complain(err, "unknown format " + *value + " (text, csv or json)");
        err << kUsage;
        return std::nullopt;
      }
      options.request.format = *format;
    } else {
      Complain(err, "unknown option " + arg);
      err << kUsage;
      return std::nullopt;
    }
  }
  if (options.logs.size() != 2) {
    Complain(err, "give exactly two logs, the download log and the upload log");
    err << kUsage;
    return std::nullopt;
  }
  return options;
}

bool WantsHelp(const std::vector<std::string>& args) {
  for (std::size_t i = 0; i < args.size(); ++i) {
    if (args[i] == "--")
      return false;
    if (args[i] == "--help" || args[i] == "-h")
      return true;
    if (TakesValue(args[i]))
      ++i;  // a value, whatever it looks like
  }
  return false;
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

}  // namespace

int RunReportCommand(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
  if (WantsHelp(args))
    return Write(std::string(kUsage) + std::string(kHelp), out, err);
  const std::optional<Options> options = ParseArguments(args, err);
  if (!options)
    return 2;

  std::string text;
  try {
    std::optional<Report> report;
    {
      LoadResult loaded = LoadLogPair(PathOf(options->logs[0]), PathOf(options->logs[1]),
                                      LoadOptionsFor(options->request, options->encoding));
      if (!loaded.Ok()) {
        Complain(err, loaded.failure.LogName() + ' ' + loaded.failure.Describe());
        return 1;
      }
      // The tables go as the report no longer needs them, before the text is made.
      report = BuildReport(std::move(*loaded.logs), options->request);
    }
    // The whole report is made before any of it is written, so a failure on the way never
    // leaves half of it on stdout.
    text = FormatReport(*report, options->request);
  } catch (const std::bad_alloc&) {
    Complain(err, "there is not enough memory to make the report");
    return 1;
  }
  return Write(text, out, err);
}

}  // namespace quorvane
