#include "analysis/Report.h"

#include <algorithm>
#include <charconv>
#include <future>

#include "analysis/RatioText.h"
#include "logs/LargeMemory.h"
#include "logs/TextEncoding.h"
#include "logs/UserList.h"

namespace quorvane {

namespace {

// Whether AppendTextSafe writes the text as it is.
bool WrittenAsIs(std::string_view text) {
  return std::none_of(text.begin(), text.end(),
                      [](char c) { return static_cast<unsigned char>(c) < 0x20 || c == '\\'; }) &&
         IsValidUtf8(text);
}

}  // namespace

void AppendTextSafe(std::string& out, std::string_view text) {
  if (WrittenAsIs(text)) {
    out.append(text);
    return;
  }
  for (char32_t c : Utf8ToCodePoints(text)) {
    if (c == '\\') {
      out.append("\\\\");
    } else if (c >= 0x20) {
      AppendUtf8(out, c);
    } else if (c == '\r' || c == '\n' || c == '\t') {
      out.push_back('\\');
      out.push_back(c == '\r' ? 'r' : c == '\n' ? 'n' : 't');
    } else {
      const char hex[] = "0123456789ABCDEF";
      out.append("\\x").push_back(hex[c >> 4]);
      out.push_back(hex[c & 0xF]);
    }
  }
}

std::string TextSafe(std::string_view text) {
  std::string out;
  AppendTextSafe(out, text);
  return out;
}

namespace {

// Everything but the users and files tables. CSV is only one of those.
Report FiguresAndUserReports(const LogTable& downloads, const LogTable& uploads,
                             const ReportRequest& request) {
  Report report;
  if (request.format == ReportFormat::Csv)
    return report;
  report.totals = ComputeTotals(downloads, uploads);
  report.averages = ComputeAverages(downloads, uploads);
  for (const std::string& name : request.users) {
    NamedUserReport& entry = report.userReports.emplace_back();
    entry.name = name;
    entry.report = BuildUserReport(downloads, uploads, name);
    for (std::size_t row : entry.report.uploadRows)
      entry.uploadedFiles.push_back(uploads.CellText(row, Column::FileName));
  }
  if (request.format == ReportFormat::Html) {
    report.datedDays = DatedDays(downloads, uploads);
    report.activity = CountActivity(downloads, uploads, {}, request.period.value_or(Period{}));
  }
  return report;
}

// The files table when the request writes it; the HTML page always does.
void AddFiles(const LogTable& downloads, const LogTable& uploads, const ReportRequest& request,
              Report& report) {
  if (request.listFiles || request.format == ReportFormat::Html)
    report.files = ComputeFileFigures(downloads, uploads, request.top.value_or(SIZE_MAX));
}

// The users table with every figure: CSV's (unless it writes the files), JSON's when asked for,
// HTML's always; CSV's is of the users named when there are any.
bool AddFigures(const LogTable& downloads, const LogTable& uploads, const ReportRequest& request,
                Report& report) {
  const bool csv = request.format == ReportFormat::Csv;
  const bool wanted = csv ? !request.listFiles
                          : request.format == ReportFormat::Html ||
                                (request.format == ReportFormat::Json && request.listUsers);
  if (!wanted)
    return false;
  report.figures = ComputeUserFigures(
      downloads, uploads,
      csv && !request.users.empty() ? request.users : CollectEveryUserName(downloads, uploads));
  return true;
}

// The first `top` users by downloads, most first; equals stay in their order.
template <typename User>
void KeepMostDownloads(std::vector<User>& users, std::size_t top) {
  std::stable_sort(users.begin(), users.end(),
                   [](const User& a, const User& b) { return a.downloads > b.downloads; });
  if (users.size() > top)
    users.resize(top);
}

// The page lists its users by downloads, most first, cut or not.
void KeepTop(Report& report, const ReportRequest& request) {
  const std::optional<std::size_t>& top = request.top;
  if (report.figures && (top || request.format == ReportFormat::Html))
    KeepMostDownloads(*report.figures, top.value_or(SIZE_MAX));
  if (!top)
    return;
  if (report.users)
    KeepMostDownloads(report.users->users, *top);
  if (report.files && report.files->files.size() > *top)
    report.files->files.resize(*top);
}

}  // namespace

LoadOptions LoadOptionsFor(const ReportRequest& request, EncodingChoice encoding) {
  LoadOptions options;
  options.encoding = encoding;
  // Text needs file names for the user reports' uploads and the files table only; CSV, JSON and
  // HTML credit uploads and tell when users were first and last seen.
  const bool allFigures = request.format != ReportFormat::Text;
  // With the day/month order set by hand, the Date/Time cells tell how many rows it leaves undated.
  options.kept = {request.dateOrder != DateOrder::Detect, false,
                  allFigures || request.listFiles || !request.users.empty()};
  if (allFigures || request.period)
    options.dates = request.dateOrder;
  return options;
}

namespace {

// The report over the whole of the tables given.
Report Whole(const LogTable& downloads, const LogTable& uploads, const ReportRequest& request) {
  Report report = FiguresAndUserReports(downloads, uploads, request);
  AddFiles(downloads, uploads, request, report);
  if (!AddFigures(downloads, uploads, request, report) && request.listUsers &&
      request.format == ReportFormat::Text)
    report.users = CountEveryUser(downloads, uploads);
  return report;
}

Report Whole(LogPair&& logs, const ReportRequest& request) {
  Report report = FiguresAndUserReports(logs.downloads, logs.uploads, request);
  AddFiles(logs.downloads, logs.uploads, request, report);
  if (!AddFigures(logs.downloads, logs.uploads, request, report) && request.listUsers &&
      request.format == ReportFormat::Text)
    report.users = CountEveryUser(std::move(logs.downloads), std::move(logs.uploads));
  return report;
}

}  // namespace

Report BuildReport(const LogTable& downloads, const LogTable& uploads,
                   const ReportRequest& request) {
  if (!request.period) {
    Report report = Whole(downloads, uploads, request);
    KeepTop(report, request);
    return report;
  }
  PeriodLogs inPeriod = SelectPeriod(downloads, uploads, *request.period);
  Report report = Whole(std::move(inPeriod.logs), request);
  report.period = request.period;
  report.undatedLeftOut = inPeriod.undatedLeftOut;
  KeepTop(report, request);
  return report;
}

Report BuildReport(const LogPair& logs, const ReportRequest& request) {
  return BuildReport(logs.downloads, logs.uploads, request);
}

Report BuildReport(LogPair&& logs, const ReportRequest& request) {
  if (request.period)
    return BuildReport(logs.downloads, logs.uploads, request);
  Report report = Whole(std::move(logs), request);
  KeepTop(report, request);
  return report;
}

std::string FormatReport(const Report& report, const ReportRequest& request) {
  switch (request.format) {
    case ReportFormat::Csv:
      return report.files ? FormatCsvFiles(*report.files) : FormatCsvUsers(*report.figures);
    case ReportFormat::Html:
      return FormatHtmlReport(report, request);
    case ReportFormat::Json:
      return FormatJsonReport(report);
    case ReportFormat::Text:
      break;
  }
  return FormatTextReport(report);
}

namespace {

// A list this long has its lines written on two cores.
constexpr std::size_t kLinesWorthAThread = std::size_t{1} << 16;

// About the room the users' lines take; more only for names that need escapes.
std::size_t UserLinesSize(const ListedCounts* first, const ListedCounts* last) {
  std::size_t size = 0;
  for (const ListedCounts* user = first; user != last; ++user)
    size += user->name.size() + 32;
  return size;
}

// The users' lines of the text report: name, downloads, uploads and ratio. A million lines are
// written into room made ahead, not appended piece by piece.
void AppendUserLines(std::string& out, const ListedCounts* first, const ListedCounts* last) {
  // What a line holds besides its name: two counts of up to 20 digits, the ratio, three tabs
  // and the line end.
  constexpr std::size_t kMostBesideName = 2 * 20 + kMostRatioText + 4;
  std::size_t end = out.size();
  std::string escaped;
  for (const ListedCounts* user = first; user != last; ++user) {
    std::string_view name = user->name;
    if (!WrittenAsIs(name)) {
      escaped.clear();
      AppendTextSafe(escaped, name);
      name = escaped;
    }
    if (out.size() - end < name.size() + kMostBesideName)
      out.resize(std::max(out.size() + out.size() / 2, end + name.size() + kMostBesideName));
    char* at = std::copy(name.begin(), name.end(), out.data() + end);
    *at++ = '\t';
    at = std::to_chars(at, at + 20, user->downloads).ptr;
    *at++ = '\t';
    at = std::to_chars(at, at + 20, user->uploads).ptr;
    *at++ = '\t';
    at = WriteRatioText(at, user->downloads, user->uploads);
    *at++ = '\n';
    end = static_cast<std::size_t>(at - out.data());
  }
  out.resize(end);
}

}  // namespace

std::string FormatTextReport(const Report& report) {
  std::string out;
  // Room for the lists at once: a long list is not copied over and over as it grows.
  std::size_t size = 256;
  if (report.users)
    size += UserLinesSize(report.users->users.data(),
                          report.users->users.data() + report.users->users.size());
  if (report.files) {
    for (const FileFigures& file : report.files->files)
      size += file.File().size() + file.firstUploader.size() + 40;
  }
  out.reserve(size);
  AdviseHuge(out.data(), out.capacity());
  const auto line = [&out](std::string_view caption, std::string_view value) {
    out.append(caption).append(value).push_back('\n');
  };
  if (report.period) {
    line("Period: ", DescribePeriod(*report.period));
    line("Undated rows left out: ", std::to_string(report.undatedLeftOut));
    out.push_back('\n');
  }
  line("Total Downloads: ", std::to_string(report.totals.downloads));
  line("Total Uploads: ", std::to_string(report.totals.uploads));
  line("Total Ratio: ", report.totals.ratio);
  line("Avg. Downloads: ", report.averages.downloadsText);
  line("Avg. Uploads: ", report.averages.uploadsText);
  line("Avg. Ratio: ", report.averages.ratio);

  if (report.users) {
    const std::vector<ListedCounts>& users = report.users->users;
    line("\nUsers: ", std::to_string(users.size()));
    // A long list's second half is written on a second core meanwhile.
    const std::size_t half = users.size() >= kLinesWorthAThread ? users.size() / 2 : users.size();
    std::future<std::string> tail =
        std::async(half < users.size() ? std::launch::async : std::launch::deferred, [&] {
          std::string text;
          text.reserve(UserLinesSize(users.data() + half, users.data() + users.size()));
          AdviseHuge(text.data(), text.capacity());
          AppendUserLines(text, users.data() + half, users.data() + users.size());
          return text;
        });
    AppendUserLines(out, users.data(), users.data() + half);
    out.append(tail.get());
  }
  if (report.files) {
    line("\nFiles: ", std::to_string(report.files->files.size()));
    for (const FileFigures& file : report.files->files) {
      AppendTextSafe(out, file.File());
      for (std::size_t figure : {file.downloads, file.downloaders, file.uploads})
        out.append("\t").append(std::to_string(figure));
      out.push_back('\t');
      AppendTextSafe(out, file.firstUploader);
      out.push_back('\n');
    }
  }
  for (const NamedUserReport& user : report.userReports) {
    line("\nUser Name: ", TextSafe(user.name));
    line("Downloads: ", std::to_string(user.report.downloads));
    line("Uploads: ", std::to_string(user.report.uploads));
    line("Ratio: ", user.report.ratio);
    for (const std::string& file : user.uploadedFiles)
      line("Upload: ", TextSafe(file));
  }
  return out;
}

}  // namespace quorvane
