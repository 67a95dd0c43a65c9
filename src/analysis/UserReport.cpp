#include "analysis/UserReport.h"

#include <cstdint>
#include <optional>

#include "analysis/RatioText.h"
#include "logs/LargeMemory.h"
#include "logs/SharedWork.h"
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

}  // namespace

std::string UserCounts::Ratio(std::string_view decimalSeparator) const {
  return RatioText(static_cast<double>(downloads), static_cast<double>(uploads), decimalSeparator);
}

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

namespace {

// The user list's counts: the ids of each listed name, then the counts by id.
struct EveryUserCounts {
  std::vector<ListedUser> users;
  std::vector<std::uint32_t> downloads;
  std::vector<std::uint32_t> uploads;
};

// The users not yet in display order.
EveryUserCounts CountEvery(const LogTable& downloads, const LogTable& uploads) {
  EveryUserCounts counts{{}, downloads.RowsPerNameId(), uploads.RowsPerNameId()};
  counts.users = ListEveryUserUnordered(downloads, uploads, &counts.downloads, &counts.uploads);
  return counts;
}

UserCountList UserCountsOf(const EveryUserCounts& listed, const LogTable& downloads,
                           const LogTable& uploads) {
  const std::size_t n = listed.users.size();
  UserCountList result;
  result.users.reserve(n);
  AdviseHuge(result.users.data(), n * sizeof(ListedCounts));
  result.users.resize(n);
  result.texts = {downloads.SharedNamePool(), uploads.SharedNamePool()};
  const auto fill = [&](std::size_t first, std::size_t last) {
    constexpr std::size_t kAhead = 8;  // names in display order lie anywhere in the pools
    for (std::size_t i = first; i < last; ++i) {
      if (i + kAhead < last) {
        const ListedUser& next = listed.users[i + kAhead];
        if (next.downloadId != kNoName)
          downloads.NamePool().Prefetch(next.downloadId);
        else
          uploads.NamePool().Prefetch(next.uploadId);
      }
      const ListedUser& user = listed.users[i];
      ListedCounts& counts = result.users[i];
      counts.name = user.downloadId != kNoName ? downloads.NameText(user.downloadId)
                                               : uploads.NameText(user.uploadId);
      counts.downloads = user.downloadId != kNoName ? listed.downloads[user.downloadId] : 0;
      counts.uploads = user.uploadId != kNoName ? listed.uploads[user.uploadId] : 0;
    }
  };
  InTwoHalves(n, fill);
  return result;
}

}  // namespace

UserCountList CountEveryUser(const LogTable& downloads, const LogTable& uploads) {
  EveryUserCounts listed = CountEvery(downloads, uploads);
  OrderForDisplay(listed.users, downloads, uploads);
  return UserCountsOf(listed, downloads, uploads);
}

UserCountList CountEveryUser(LogTable&& downloads, LogTable&& uploads) {
  // The rows go before the names are sorted, so that the sort's scratch takes their place.
  EveryUserCounts listed = CountEvery(downloads, uploads);
  downloads = downloads.NamesOnly();
  uploads = uploads.NamesOnly();
  // The list keeps the names' texts while it lives; nothing looks a name up any more.
  downloads.DropNameIndex();
  uploads.DropNameIndex();
  OrderForDisplay(listed.users, downloads, uploads);
  return UserCountsOf(listed, downloads, uploads);
}

}  // namespace quorvane
