#include "ReportCommand.h"

#include <filesystem>
#include <optional>
#include <string_view>

#include "analysis/Report.h"
#include "logs/LogLoader.h"

namespace quorvane {

namespace {

constexpr std::string_view kUsage =
    "usage: quorvane-report [--users] [--user NAME]... [--format text|csv|json] DOWNLOAD_LOG "
    "UPLOAD_LOG\n";

struct Options {
  ReportRequest request;
  std::vector<std::string> logs;
};

std::optional<ReportFormat> FormatNamed(std::string_view name) {
  if (name == "text")
    return ReportFormat::Text;
  if (name == "csv")
    return ReportFormat::Csv;
  if (name == "json")
    return ReportFormat::Json;
  return std::nullopt;
}

// Arguments are UTF-8 on every system, so a file name is too (on POSIX its bytes pass unchanged).
std::filesystem::path PathOf(const std::string& utf8) {
  return std::filesystem::path(std::u8string(utf8.begin(), utf8.end()));
}

// The parsed options, or nothing after a usage error has been written to `err`.
std::optional<Options> ParseArguments(const std::vector<std::string>& args, std::ostream& err) {
  Options options;
  bool onlyFiles = false;
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string& arg = args[i];
    if (onlyFiles || arg == "-" || arg.empty() || arg[0] != '-') {
      options.logs.push_back(arg);
    } else if (arg == "--") {
      onlyFiles = true;
    } else if (arg == "--users") {
      options.request.listUsers = true;
    } else if (arg == "--user" || arg == "--format") {
      if (i + 1 == args.size()) {
        err << "quorvane-report: " << arg << " needs a value\n" << kUsage;
        return std::nullopt;
      }
      const std::string& value = args[++i];
      if (arg == "--user") {
        options.request.users.push_back(value);
      } else if (const auto format = FormatNamed(value)) {
        options.request.format = *format;
      } else {
        err << "quorvane-report: unknown format " << value << " (text, csv or json)\n" << kUsage;
        return std::nullopt;
      }
    } else if (arg.rfind("--user=", 0) == 0) {
      options.request.users.push_back(arg.substr(7));
    } else {
      err << "quorvane-report: unknown option " << arg << "\n" << kUsage;
      return std::nullopt;
    }
  }
  if (options.logs.size() != 2) {
    err << "quorvane-report: give exactly two logs, the download log and the upload log\n"
        << kUsage;
    return std::nullopt;
  }
  return options;
}

}  // namespace

int RunReportCommand(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
  for (const std::string& arg : args) {
    if (arg == "--")
      break;
    if (arg == "--help" || arg == "-h") {
      out << kUsage
          << "\nReads a Hotline server's download log and upload log and writes who downloads\n"
             "and who uploads: totals, their ratio, the average transfers per address, and with\n"
             "--users every user's counts; --user NAME adds that user's report and uploads.\n";
      return 0;
    }
  }
  const std::optional<Options> options = ParseArguments(args, err);
  if (!options)
    return 2;

  const LoadResult loaded = LoadLogPair(PathOf(options->logs[0]), PathOf(options->logs[1]));
  if (!loaded.Ok()) {
    err << "quorvane-report: " << loaded.failure.LogName() << ' ' << loaded.failure.Describe()
        << '\n';
    return 1;
  }
  // Build the whole report first so a failure part-way could never leave half of it on stdout.
  const std::string report =
      FormatReport(BuildReport(*loaded.logs, options->request), options->request);
  out << report;
  out.flush();
  return 0;
}

}  // namespace quorvane
