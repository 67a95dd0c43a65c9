#include "analysis/UserReport.h"

#include <cstdint>
#include <optional>

#include "analysis/RatioText.h"
#include "logs/UserList.h"

namespace quorvane {

namespace {

// Walks every row of a table, calling onMatch for the rows of the given name id.
template <typename OnMatch>
void ScanNames(const LogTable& table, std::optional<std::uint32_t> nameId,
               const ProgressFn& progress, OnMatch onMatch) {
  const std::size_t rows = table.RowCount();
  const ProgressTicker ticker(progress);
  for (std::size_t row = 0; row < rows; ++row) {
    if (nameId && table.NameId(row) == *nameId)
      onMatch(row);
    ticker.Step(row);
  }
  ticker.Finish(rows);
}

std::vector<std::size_t> RowsPerName(const LogTable& table) {
  std::vector<std::size_t> counts(table.NameIdCount(), 0);
  for (std::size_t row = 0; row < table.RowCount(); ++row)
    ++counts[table.NameId(row)];
  return counts;
}

std::size_t CountOf(const LogTable& table, const std::vector<std::size_t>& counts,
                    std::string_view name) {
  const std::optional<std::uint32_t> id = table.FindName(name);
  return id ? counts[*id] : 0;
}

}  // namespace

UserReport BuildUserReport(const LogTable& downloads, const LogTable& uploads,
                           std::string_view name, std::string_view decimalSeparator,
                           const ProgressFn& progress) {
  UserReport report;
  ScanNames(downloads, downloads.FindName(name), progress,
            [&](std::size_t) { ++report.downloads; });
  ScanNames(uploads, uploads.FindName(name), OffsetProgress(progress, downloads.RowCount()),
            [&](std::size_t row) {
              ++report.uploads;
              report.uploadRows.push_back(row);
            });
  report.ratio = RatioText(static_cast<double>(report.downloads),
                           static_cast<double>(report.uploads), decimalSeparator);
  return report;
}

std::vector<UserCounts> CountUsers(const LogTable& downloads, const LogTable& uploads,
                                   const std::vector<std::string>& names) {
  const std::vector<std::size_t> downloadCounts = RowsPerName(downloads);
  const std::vector<std::size_t> uploadCounts = RowsPerName(uploads);
  std::vector<UserCounts> result;
  result.reserve(names.size());
  for (const std::string& name : names) {
    UserCounts& user = result.emplace_back();
    user.name = name;
    user.downloads = CountOf(downloads, downloadCounts, name);
    user.uploads = CountOf(uploads, uploadCounts, name);
    user.ratio = RatioText(static_cast<double>(user.downloads), static_cast<double>(user.uploads));
  }
  return result;
}

std::vector<UserCounts> CountListedUsers(const LogTable& downloads, const LogTable& uploads) {
  const std::vector<ListedUser> users = ListUsers(downloads, uploads);
  const std::vector<std::size_t> downloadCounts = RowsPerName(downloads);
  const std::vector<std::size_t> uploadCounts = RowsPerName(uploads);
  std::vector<UserCounts> result(users.size());
  for (std::size_t i = 0; i < users.size(); ++i) {
    const ListedUser& user = users[i];
    UserCounts& counts = result[i];
    counts.name = user.downloadId != kNoName ? downloads.NameText(user.downloadId)
                                             : uploads.NameText(user.uploadId);
    counts.downloads = user.downloadId != kNoName ? downloadCounts[user.downloadId] : 0;
    counts.uploads = user.uploadId != kNoName ? uploadCounts[user.uploadId] : 0;
    counts.ratio =
        RatioText(static_cast<double>(counts.downloads), static_cast<double>(counts.uploads));
  }
  return result;
}

}  // namespace quorvane
