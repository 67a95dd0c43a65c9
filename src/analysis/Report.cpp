#include "analysis/Report.h"

#include "logs/UserList.h"

namespace quorvane {

Report BuildReport(const LogPair& logs, const ReportRequest& request) {
  Report report;
  report.totals = ComputeTotals(logs.downloads, logs.uploads);
  report.averages = ComputeAverages(logs.downloads, logs.uploads);
  // CSV is the users table: of the users asked for by name, or of the whole user list.
  const bool csv = request.format == ReportFormat::Csv;
  if (request.listUsers || csv) {
    const std::vector<std::string> names = csv && !request.users.empty()
                                               ? request.users
                                               : CollectUserNames(logs.downloads, logs.uploads);
    report.users = ComputeUserFigures(
        logs.downloads, logs.uploads, names,
        request.format == ReportFormat::Text ? UserFigureSet::Counts : UserFigureSet::All);
  }
  if (csv)
    return report;
  for (const std::string& name : request.users) {
    NamedUserReport& entry = report.userReports.emplace_back();
    entry.name = name;
    entry.report = BuildUserReport(logs.downloads, logs.uploads, name);
    for (std::size_t row : entry.report.uploadRows)
      entry.uploadedFiles.push_back(logs.uploads.CellText(row, Column::FileName));
  }
  return report;
}

std::string FormatReport(const Report& report, const ReportRequest& request) {
  switch (request.format) {
    case ReportFormat::Csv:
      return FormatCsvUsers(*report.users);
    case ReportFormat::Json:
      return FormatJsonReport(report);
    case ReportFormat::Text:
      break;
  }
  return FormatTextReport(report);
}

std::string FormatTextReport(const Report& report) {
  std::string out;
  const auto line = [&out](std::string_view caption, std::string_view value) {
    out.append(caption).append(value).push_back('\n');
  };
  line("Total Downloads: ", std::to_string(report.totals.downloads));
  line("Total Uploads: ", std::to_string(report.totals.uploads));
  line("Total Ratio: ", report.totals.ratio);
  line("Avg. Downloads: ", report.averages.downloadsText);
  line("Avg. Uploads: ", report.averages.uploadsText);
  line("Avg. Ratio: ", report.averages.ratio);

  if (report.users) {
    line("\nUsers: ", std::to_string(report.users->size()));
    for (const UserFigures& user : *report.users) {
      out.append(user.name).push_back('\t');
      out.append(std::to_string(user.downloads)).push_back('\t');
      out.append(std::to_string(user.uploads)).push_back('\t');
      line(user.ratio, "");
    }
  }
  for (const NamedUserReport& user : report.userReports) {
    line("\nUser Name: ", user.name);
    line("Downloads: ", std::to_string(user.report.downloads));
    line("Uploads: ", std::to_string(user.report.uploads));
    line("Ratio: ", user.report.ratio);
    for (const std::string& file : user.uploadedFiles)
      line("Upload: ", file);
  }
  return out;
}

}  // namespace quorvane
