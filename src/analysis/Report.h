#pragma once

#include <optional>
#include <string>
#include <vector>

#include "analysis/Activity.h"
#include "analysis/Averages.h"
#include "analysis/FileFigures.h"
#include "analysis/Period.h"
#include "analysis/Totals.h"
#include "analysis/UserFigures.h"
#include "analysis/UserReport.h"
#include "logs/LogLoader.h"
#include "logs/LogSources.h"

namespace quorvane {

// Text for people, CSV for spreadsheets, JSON for scripts, HTML for a web page.
enum class ReportFormat { Text, Csv, Json, Html };

// What a report asks for besides the totals and averages.
struct ReportRequest {
  bool listUsers = false;  // every user of the user list with their figures
  bool listFiles = false;  // the files table (CSV: instead of the users table)
  // Keep the first N lines of the users table (ordered by downloads, most first) and of the
  // files table; the user reports are never cut.
  std::optional<std::size_t> top;
  std::vector<std::string> users;  // one user report each, in this order
  ReportFormat format = ReportFormat::Text;
  // Every figure over the rows dated inside the period only, as if the logs held no others.
  std::optional<Period> period;
  DateOrder dateOrder = DateOrder::Detect;
  // The HTML page's: the logs read, as their names are shown, and who is marked a leech.
  std::vector<std::string> logNames;
  LeechRule leeches;
};

// One user's report with the names of the files they uploaded.
struct NamedUserReport {
  std::string name;
  UserReport report;
  std::vector<std::string> uploadedFiles;
};

// The figures of a report, computed once and written out in any format.
struct Report {
  // The files the tables came from, for JSON to tell; none when the caller does not say.
  std::optional<std::vector<SourceInfo>> sources;
  std::optional<Period> period;
  std::size_t undatedLeftOut = 0;  // rows the period left out for want of a date
  Totals totals;
  Averages averages;
  // Text's users: the user list in display order, with counts only.
  std::optional<UserCountList> users;
  // CSV's and JSON's users table: the user list in display order, or for CSV the users asked for
  // by name, with every figure; the page's, by downloads, most first.
  std::optional<std::vector<UserFigures>> figures;
  std::optional<FilesTable> files;
  std::vector<NamedUserReport> userReports;
  // The HTML page's: the first and last dated days of the logs (of the period when one is set)
  // and the activity chart's bars over them.
  std::optional<Period> datedDays;
  Activity activity;
};

// How to read the logs for the request: only the cells its figures need, for the less memory
// and time.
LoadOptions LoadOptionsFor(const ReportRequest& request, EncodingChoice encoding);

// The figures the request's format writes.
Report BuildReport(const LogTable& downloads, const LogTable& uploads,
                   const ReportRequest& request);
Report BuildReport(const LogPair& logs, const ReportRequest& request);
// The same for logs the caller is done with: their memory goes as soon as it is not needed.
Report BuildReport(LogPair&& logs, const ReportRequest& request);

// The report in the request's format.
std::string FormatReport(const Report& report, const ReportRequest& request);

// The report as text: totals and averages, then the users and the user reports when asked for.
// Names and file names are written as by AppendTextSafe, so every line stays one line.
std::string FormatTextReport(const Report& report);

// A users table as CSV (RFC 4180, LF line ends): a header line, then a line per user.
std::string FormatCsvUsers(const std::vector<UserFigures>& users);
// The files table as CSV, written as the users table is.
std::string FormatCsvFiles(const FilesTable& files);

// The report as one JSON object: totals, averages, then users, files and reports when asked for.
std::string FormatJsonReport(const Report& report);

// The report as one self-contained HTML5 page (HtmlReport.cpp): the same bytes for the same
// report and request.
std::string FormatHtmlReport(const Report& report, const ReportRequest& request);

// Appends text for a plain-text report or message line: C0 control characters become \r, \n,
// \t or \xNN, a backslash becomes \\, and bytes that are not UTF-8 become U+FFFD. Valid text
// with none of these is appended as it is.
void AppendTextSafe(std::string& out, std::string_view text);
std::string TextSafe(std::string_view text);

}  // namespace quorvane
