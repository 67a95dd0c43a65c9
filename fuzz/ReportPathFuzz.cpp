// Two logs through the whole report path: reader, user list, totals, averages, every user's
// report, the files table, then a rename and the removal of a row from each table, after which the
// user list and the reports are checked again. Every figure is compared with one counted here the
// plain way.
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

double ExpectedAverage(const Cells& cells) {
  if (cells.empty())
    return 0;
  std::map<std::string, std::uint64_t> rowsPerAddress;
  for (const auto& row : cells)
    ++rowsPerAddress[row[1]];
  std::uint64_t sum = 0;
  for (const auto& row : cells)
    sum += rowsPerAddress[row[1]];
  return static_cast<double>(sum) / static_cast<double>(cells.size());
}

void CheckReports(const LogTable& downloads, const LogTable& uploads, const Cells& downloadCells,
                  const Cells& uploadCells, const std::vector<std::string>& names) {
  const std::size_t allRows = downloads.RowCount() + uploads.RowCount();
  const Totals totals = ComputeTotals(downloads, uploads);
  FUZZ_CHECK(totals.downloads == downloadCells.size() && totals.uploads == uploadCells.size());
  FUZZ_CHECK(totals.ratio ==
             RatioText(static_cast<double>(totals.downloads), static_cast<double>(totals.uploads)));

  ProgressLog averageProgress;
  const Averages averages = ComputeAverages(downloads, uploads, ".", averageProgress.Fn());
  averageProgress.Check(allRows);
  FUZZ_CHECK(averages.downloads == ExpectedAverage(downloadCells));
  FUZZ_CHECK(averages.uploads == ExpectedAverage(uploadCells));
  FUZZ_CHECK(averages.downloadsText == FormatHundredths(averages.downloads));
  FUZZ_CHECK(averages.uploadsText == FormatHundredths(averages.uploads));

  // Every user counted by ids is every user counted by names.
  const std::vector<UserCounts> listed = CountEveryUser(downloads, uploads);
  const std::vector<UserFigures> byName = ComputeUserFigures(downloads, uploads, names);
  FUZZ_CHECK(listed.size() == byName.size());
  for (std::size_t i = 0; i < listed.size(); ++i) {
    FUZZ_CHECK(listed[i].name == byName[i].name && listed[i].downloads == byName[i].downloads &&
               listed[i].uploads == byName[i].uploads && listed[i].Ratio() == byName[i].Ratio());
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
    FUZZ_CHECK(report.ratio == RatioText(static_cast<double>(downloadMatches),
                                         static_cast<double>(uploadMatches.size())));
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
    FUZZ_CHECK(actual.file == *order[i].first && actual.downloads == expected.downloads &&
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
