// Two logs through the whole report path: reader, user list, totals, averages, every user's
// report, the files table, then a rename and the removal of a row from each table, after which the
// user list and the reports are checked again. Every figure is compared with one counted here the
// plain way, every ratio and average with its text made from the exact fraction, and the names
// read back out of the text, CSV, JSON and HTML writers by plain readers of those formats.
//
// Input: one control byte (which name is renamed to what, which rows go), then the download log
// up to the first form feed (0x0C), then the upload log.
#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <map>
#include <set>
#include <string>
#include <string_view>
#include <tuple>
#include <vector>

#include "FuzzCheck.h"
#include "analysis/Averages.h"
#include "analysis/FileFigures.h"
#include "analysis/RatioText.h"
#include "analysis/Report.h"
#include "analysis/Totals.h"
#include "analysis/UserFigures.h"
#include "analysis/UserReport.h"
#include "logs/LogReader.h"
#include "logs/UserList.h"

namespace {

using namespace quorvane;
using Cells = std::vector<std::array<std::string, kColumnCount>>;

Cells CellsOf(const LogTable& table) {
  Cells cells(table.RowCount());
  for (std::size_t row = 0; row < table.RowCount(); ++row) {
    for (int column = 0; column < kColumnCount; ++column) {
      cells[row][static_cast<std::size_t>(column)] = table.CellText(row, Column(column));
    }
  }
  return cells;
}

// Records what a pass tells its progress callback.
struct ProgressLog {
  std::vector<std::size_t> calls;
  ProgressFn Fn() {
    return [this](std::size_t done) { calls.push_back(done); };
  }
  void Check(std::size_t total) const {
    FUZZ_CHECK(!calls.empty());
    FUZZ_CHECK(std::is_sorted(calls.begin(), calls.end()));
    FUZZ_CHECK(calls.back() == total);
  }
};

std::set<std::string> ExpectedNames(const Cells& downloads, const Cells& uploads) {
  std::set<std::string> names;
  for (const Cells* table : {&downloads, &uploads}) {
    std::set<std::string> addresses;
    for (const auto& row : *table) {
      if (!row[1].empty() && addresses.insert(row[1]).second)
        names.insert(row[3]);
    }
  }
  return names;
}

std::vector<std::string> CheckUserList(const LogTable& downloads, const LogTable& uploads,
                                       const Cells& downloadCells, const Cells& uploadCells) {
  ProgressLog downloadProgress;
  ProgressLog uploadProgress;
  const std::vector<std::string> names =
      CollectUserNames(downloads, uploads, downloadProgress.Fn(), uploadProgress.Fn());
  downloadProgress.Check(downloads.RowCount());
  uploadProgress.Check(uploads.RowCount());
  FUZZ_CHECK(std::set<std::string>(names.begin(), names.end()) ==
             ExpectedNames(downloadCells, uploadCells));
  // Every user: each Name on a row, whatever its Address.
  const std::vector<std::string> everyone = CollectEveryUserName(downloads, uploads);
  std::set<std::string> onRows;
  for (const Cells* cells : {&downloadCells, &uploadCells}) {
    for (const auto& row : *cells)
      onRows.insert(row[3]);
  }
  FUZZ_CHECK(std::set<std::string>(everyone.begin(), everyone.end()) == onRows);
  for (const std::vector<std::string>* list : {&names, &everyone}) {
    for (std::size_t i = 1; i < list->size(); ++i)
      FUZZ_CHECK((*list)[i - 1] != (*list)[i]);
    // The display order is a total order: sorting the names from any order gives the same list.
    std::vector<std::string> again(list->rbegin(), list->rend());
    SortForDisplay(again);
    FUZZ_CHECK(again == *list);
  }
  return everyone;
}

// Over every row, the number of rows of its address: the average's numerator.
std::uint64_t RowsOfEachRowsAddress(const Cells& cells) {
  std::map<std::string, std::uint64_t> rowsPerAddress;
  for (const auto& row : cells)
    ++rowsPerAddress[row[1]];
  std::uint64_t sum = 0;
  for (const auto& row : cells)
    sum += rowsPerAddress[row[1]];
  return sum;
}

double ExpectedAverage(const Cells& cells) {
  if (cells.empty())
    return 0;
  return static_cast<double>(RowsOfEachRowsAddress(cells)) / static_cast<double>(cells.size());
}

// num / den in hundredths, rounded half up from the exact fraction, shown as the program shows it
// (no leading zero).
std::string ReferenceHundredths(std::uint64_t num, std::uint64_t den, std::string_view separator) {
  const std::uint64_t hundredths = (200 * num + den) / (2 * den);
  std::string text = hundredths >= 100 ? std::to_string(hundredths / 100) : "";
  text.append(separator);
  text.push_back(static_cast<char>('0' + hundredths / 10 % 10));
  text.push_back(static_cast<char>('0' + hundredths % 10));
  return text;
}

// The ratio of d to u, each in units of 1/scale.
std::string ReferenceRatio(std::uint64_t d, std::uint64_t u, std::uint64_t scale,
                           std::string_view separator = ".") {
  if (d == 0)
    return "0/" + ReferenceHundredths(u, scale, separator);
  if (u == 0)
    return ReferenceHundredths(d, scale, separator) + "/0";
  if (d == u)
    return "1/1";
  return d > u ? ReferenceHundredths(d, u, separator) + "/1"
               : "1/" + ReferenceHundredths(u, d, separator);
}

// The hundredths an average of rows per address shows.
std::uint64_t AverageHundredths(const Cells& cells) {
  if (cells.empty())
    return 0;
  return (200 * RowsOfEachRowsAddress(cells) + cells.size()) / (2 * cells.size());
}

// Plain readers of each format's text: each yields the name as written in, or kBroken when the
// text breaks the format's rules.
const char kBroken[] =
    "\x01"
    "broken";
std::string FromTextReport(std::string_view text) {
  std::string name;
  for (std::size_t i = 0; i < text.size(); ++i) {
    const auto c = static_cast<unsigned char>(text[i]);
    if (c < 0x20)
      return kBroken;
    if (c != '\\') {
      name.push_back(text[i]);
    } else if (i + 1 < text.size() && std::string_view("\\rnt").find(text[i + 1]) < 4) {
      name.push_back("\\\r\n\t"[std::string_view("\\rnt").find(text[++i])]);
    } else if (i + 3 < text.size() && text[i + 1] == 'x') {
      name.push_back(static_cast<char>(std::stoi(std::string(text.substr(i + 2, 2)), nullptr, 16)));
      i += 3;
    } else {
      return kBroken;
    }
  }
  return name;
}

// The first field of a CSV line and where the line ends.
std::string FromCsv(std::string_view csv, std::size_t& at) {
  std::string field;
  if (csv[at] != '"') {
    while (at < csv.size() && csv[at] != ',' && csv[at] != '\n') {
      if (csv[at] == '\r' || csv[at] == '"')
        return kBroken;
      field.push_back(csv[at++]);
    }
    return field;
  }
  for (++at; at < csv.size(); ++at) {
    if (csv[at] == '"' && (++at == csv.size() || csv[at] != '"'))
      return field;
    field.push_back(csv[at]);
  }
  return kBroken;
}

std::string FromJson(std::string_view json, std::size_t& at) {
  std::string text;
  for (; at < json.size() && json[at] != '"'; ++at) {
    if (static_cast<unsigned char>(json[at]) < 0x20)
      return kBroken;
    if (json[at] != '\\') {
      text.push_back(json[at]);
      continue;
    }
    const char e = json[++at];
    if (e == 'u') {
      const int unit = std::stoi(std::string(json.substr(at + 1, 4)), nullptr, 16);
      if (unit >= 0x20 || json.substr(at + 1, 2) != "00")
        return kBroken;  // only controls are written as \u
      text.push_back(static_cast<char>(unit));
      at += 4;
    } else {
      const std::size_t simple = std::string_view("\"\\nrt").find(e);
      if (simple == std::string_view::npos)
        return kBroken;
      text.push_back("\"\\\n\r\t"[simple]);
    }
  }
  return text;
}

std::string FromHtml(std::string_view html) {
  std::string text;
  for (std::size_t i = 0; i < html.size(); ++i) {
    const auto c = static_cast<unsigned char>(html[i]);
    if (std::string_view("<>\"'").find(html[i]) != std::string_view::npos ||
        (c < 0x20 && c != '\t' && c != '\n') || c == 0x7F)
      return kBroken;
    if (html[i] != '&') {
      text.push_back(html[i]);
      continue;
    }
    const std::size_t end = html.find(';', i);
    const std::string_view entity = html.substr(i + 1, end - i - 1);
    const std::pair<std::string_view, char> named[] = {
        {"amp", '&'}, {"lt", '<'}, {"gt", '>'}, {"quot", '"'}, {"#39", '\''}};
    bool found = false;
    for (const auto& [word, meant] : named) {
      if (entity == word) {
        text.push_back(meant);
        found = true;
      }
    }
    if (!found && entity == "#65533") {
      text.push_back('\0');  // NUL, which the page may not hold
    } else if (!found) {
      const int code = std::stoi(std::string(entity.substr(1)));
      if (entity[0] != '#' || (code >= 0x20 && code != 0x7F) || code == '\t' || code == '\n')
        return kBroken;
      text.push_back(static_cast<char>(code));
    }
    i = end;
  }
  return text;
}

// Every user's name read back out of each writer, in the list's order, with its counts.
void CheckFormats(const std::vector<UserFigures>& users) {
  Report report;
  report.figures = users;
  report.users.emplace();
  for (const UserFigures& user : users) {
    report.users->users.push_back({user.name, static_cast<std::uint32_t>(user.downloads),
                                   static_cast<std::uint32_t>(user.uploads)});
  }
  const std::string text = FormatTextReport(report);
  const std::string csv = FormatCsvUsers(users);
  const std::string json = FormatJsonReport(report);
  const std::string html = FormatHtmlReport(report, {});
  std::size_t textAt = text.find("\nUsers: ") + 1, csvAt = csv.find('\n') + 1, jsonAt = 0,
              htmlAt = html.find("<tbody>");
  for (const UserFigures& user : users) {
    textAt = text.find('\n', textAt) + 1;
    FUZZ_CHECK(FromTextReport(text.substr(textAt, text.find('\t', textAt) - textAt)) == user.name);
    FUZZ_CHECK(FromCsv(csv, csvAt) == user.name);
    std::string counts(1, ',');
    counts.append(std::to_string(user.downloads)).append(",");
    counts.append(std::to_string(user.uploads)).append(",").append(user.Ratio()).append(",");
    FUZZ_CHECK(csv.compare(csvAt, counts.size(), counts) == 0);
    csvAt = csv.find('\n', csvAt) + 1;
    jsonAt = json.find("{\"user\": \"", jsonAt) + 10;
    FUZZ_CHECK(FromJson(json, jsonAt) == user.name);
    htmlAt = html.find("<tr", htmlAt + 1);
    const std::size_t cell = html.find('>', html.find("<td", htmlAt)) + 1;
    FUZZ_CHECK(FromHtml(html.substr(cell, html.find("</td>", cell) - cell)) == user.name);
  }
}

void CheckReports(const LogTable& downloads, const LogTable& uploads, const Cells& downloadCells,
                  const Cells& uploadCells, const std::vector<std::string>& names) {
  const std::size_t allRows = downloads.RowCount() + uploads.RowCount();
  const Totals totals = ComputeTotals(downloads, uploads);
  FUZZ_CHECK(totals.downloads == downloadCells.size() && totals.uploads == uploadCells.size());
  FUZZ_CHECK(totals.ratio == ReferenceRatio(totals.downloads, totals.uploads, 1));
  FUZZ_CHECK(ComputeTotals(downloads, uploads, ",").ratio ==
             ReferenceRatio(totals.downloads, totals.uploads, 1, ","));

  ProgressLog averageProgress;
  const Averages averages = ComputeAverages(downloads, uploads, ".", averageProgress.Fn());
  averageProgress.Check(allRows);
  FUZZ_CHECK(averages.downloads == ExpectedAverage(downloadCells));
  FUZZ_CHECK(averages.uploads == ExpectedAverage(uploadCells));
  const std::uint64_t d = AverageHundredths(downloadCells), u = AverageHundredths(uploadCells);
  FUZZ_CHECK(averages.downloadsText == ReferenceHundredths(d, 100, "."));
  FUZZ_CHECK(averages.uploadsText == ReferenceHundredths(u, 100, "."));
  FUZZ_CHECK(averages.ratio == ReferenceRatio(d, u, 100));

  // Every user counted by ids is every user counted by names.
  const UserCountList list = CountEveryUser(downloads, uploads);
  const std::vector<ListedCounts>& listed = list.users;
  const std::vector<UserFigures> byName = ComputeUserFigures(downloads, uploads, names);
  CheckFormats(byName);
  FUZZ_CHECK(listed.size() == byName.size());
  for (std::size_t i = 0; i < listed.size(); ++i) {
    FUZZ_CHECK(listed[i].name == byName[i].name && listed[i].downloads == byName[i].downloads &&
               listed[i].uploads == byName[i].uploads);
  }

  // Every listed user (a bounded number of them) and one name that is in no row.
  std::vector<std::string> asked(names.begin(),
                                 names.begin() + std::min<std::size_t>(names.size(), 16));
  asked.push_back("\x01no such user");
  const std::vector<UserFigures> counts = ComputeUserFigures(downloads, uploads, asked);
  FUZZ_CHECK(counts.size() == asked.size());
  for (std::size_t i = 0; i < asked.size(); ++i) {
    const std::string& name = asked[i];
    ProgressLog progress;
    const UserReport report = BuildUserReport(downloads, uploads, name, ".", progress.Fn());
    progress.Check(allRows);
    std::size_t downloadMatches = 0;
    for (const auto& row : downloadCells)
      downloadMatches += row[3] == name;
    std::vector<std::size_t> uploadMatches;
    for (std::size_t row = 0; row < uploadCells.size(); ++row) {
      if (uploadCells[row][3] == name)
        uploadMatches.push_back(row);
    }
    FUZZ_CHECK(report.downloads == downloadMatches);
    FUZZ_CHECK(report.uploads == uploadMatches.size());
    FUZZ_CHECK(report.uploadRows == uploadMatches);
    FUZZ_CHECK(report.ratio == ReferenceRatio(downloadMatches, uploadMatches.size(), 1));
    FUZZ_CHECK(counts[i].name == name && counts[i].downloads == downloadMatches &&
               counts[i].uploads == uploadMatches.size() && counts[i].Ratio() == report.ratio);
  }
}

// The files table against one counted by texts: every file of either table, most downloads
// first, then by text.
void CheckFiles(const LogTable& downloads, const LogTable& uploads, const Cells& downloadCells,
                const Cells& uploadCells) {
  struct Expected {
    std::size_t downloads = 0, uploads = 0;
    std::set<std::string> downloaders;
    std::string firstUploader;
  };
  std::map<std::string, Expected> files;
  for (const auto& row : downloadCells) {
    ++files[row[4]].downloads;
    files[row[4]].downloaders.insert(row[3]);
  }
  for (const auto& row : uploadCells) {
    if (files[row[4]].uploads++ == 0)
      files[row[4]].firstUploader = row[3];
  }
  std::vector<std::pair<const std::string*, const Expected*>> order;
  for (const auto& [file, expected] : files)
    order.emplace_back(&file, &expected);
  std::stable_sort(order.begin(), order.end(), [](const auto& a, const auto& b) {
    return a.second->downloads > b.second->downloads;
  });
  const FilesTable table = ComputeFileFigures(downloads, uploads);
  FUZZ_CHECK(table.files.size() == order.size());
  for (std::size_t i = 0; i < order.size(); ++i) {
    const FileFigures& actual = table.files[i];
    const Expected& expected = *order[i].second;
    FUZZ_CHECK(actual.File() == *order[i].first && actual.downloads == expected.downloads &&
               actual.downloaders == expected.downloaders.size() &&
               actual.uploads == expected.uploads &&
               actual.firstUploader == expected.firstUploader);
  }
}

void CheckAll(const LogTable& downloads, const LogTable& uploads, const Cells& downloadCells,
              const Cells& uploadCells, std::vector<std::string>& names) {
  FUZZ_CHECK(CellsOf(downloads) == downloadCells);
  FUZZ_CHECK(CellsOf(uploads) == uploadCells);
  names = CheckUserList(downloads, uploads, downloadCells, uploadCells);
  CheckReports(downloads, uploads, downloadCells, uploadCells, names);
  CheckFiles(downloads, uploads, downloadCells, uploadCells);
}

std::size_t RenameCells(Cells& cells, const std::string& from, const std::string& to) {
  std::size_t count = 0;
  for (auto& row : cells) {
    if (row[3] == from) {
      row[3] = to;
      ++count;
    }
  }
  return count;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0)
    return 0;
  const unsigned control = data[0];
  const std::string_view rest(reinterpret_cast<const char*>(data) + 1, size - 1);
  const std::size_t split = std::min(rest.find('\f'), rest.size());
  ReadResult downloadRead = ParseLog(rest.substr(0, split));
  ReadResult uploadRead = ParseLog(rest.substr(std::min(split + 1, rest.size())));
  if (!downloadRead.Ok() || !uploadRead.Ok())
    return 0;
  LogTable& downloads = *downloadRead.table;
  LogTable& uploads = *uploadRead.table;
  // Half the inputs as a load gives them: the tables' File Names shared.
  if (control & 0x20)
    LogTable::ShareFileNames(downloads, uploads);

  Cells downloadCells = CellsOf(downloads);
  Cells uploadCells = CellsOf(uploads);
  std::vector<std::string> names;
  CheckAll(downloads, uploads, downloadCells, uploadCells, names);

  if (!names.empty()) {
    const std::string from = names[control % names.size()];
    // To another listed name (a merge), to itself, or to a new name.
    const std::string to = (control & 0x80)   ? names[(control >> 3) % names.size()]
                           : (control & 0x40) ? from
                                              : "renamed " + from;
    const std::size_t expected =
        RenameCells(downloadCells, from, to) + RenameCells(uploadCells, from, to);
    FUZZ_CHECK((downloads.RenameUser(from, to) + uploads.RenameUser(from, to)) == expected);
  }
  for (auto [table, cells, pick] : {std::tuple{&downloads, &downloadCells, control * 7u},
                                    std::tuple{&uploads, &uploadCells, control * 13u}}) {
    if (cells->empty())
      continue;
    const std::size_t row = pick % cells->size();
    table->RemoveRow(row);
    cells->erase(cells->begin() + static_cast<std::ptrdiff_t>(row));
  }
  CheckAll(downloads, uploads, downloadCells, uploadCells, names);
  return 0;
}
