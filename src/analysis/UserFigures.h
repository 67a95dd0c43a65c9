#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "analysis/UserReport.h"
#include "logs/LogTable.h"

namespace quorvane {

// Everything the users overview shows of one user: the counts (rows of this Name in each table)
// and what the whole logs tell of the user.
struct UserFigures : UserCounts {
  // Download rows by other names of a file this user uploaded: how often others fetched what
  // this user brought.
  std::size_t credit = 0;
  std::size_t addresses = 0;  // distinct Address texts on this user's rows of both tables
  // The earliest and latest dated rows of the user in either table (kUndated: none dated).
  Timestamp firstSeen = kUndated;
  Timestamp lastSeen = kUndated;
};

// Who counts as a leech: at least `minDownloads` downloads and at least `minRatioHundredths` / 100
// downloads per upload, in whole numbers so that 11 / 10 meets 1.10 (no uploads meets any ratio).
// The defaults are the Users Overview's and the HTML report's.
struct LeechRule {
  std::size_t minDownloads = 10;
  std::uint64_t minRatioHundredths = 1000;

  bool Matches(const UserCounts& user) const {
    return user.downloads >= minDownloads &&
           std::uint64_t{user.downloads} * 100 >= minRatioHundredths * user.uploads;
  }
};

// The figures of each of `names`, in that order; a name without rows gets zeros. A few passes over
// each table whatever the number of names.
std::vector<UserFigures> ComputeUserFigures(const LogTable& downloads, const LogTable& uploads,
                                            const std::vector<std::string>& names);

}  // namespace quorvane
