#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string_view>
#include <vector>

#include "analysis/Totals.h"
#include "logs/LogTable.h"
#include "logs/Progress.h"

namespace quorvane {

// One user's transfers: rows whose Name equals the name exactly, counted and compared as the
// totals are, and the user's upload rows in table order.
struct UserReport : Totals {
  std::vector<std::size_t> uploadRows;
};

// `progress` counts rows over both tables together, downloads first.
UserReport BuildUserReport(const LogTable& downloads, const LogTable& uploads,
                           std::string_view name, std::string_view decimalSeparator = ".",
                           const ProgressFn& progress = {});

// A user's download and upload counts. The ratio text is made when asked for: a list of a million
// users holds no million ratio strings.
struct UserCounts {
  std::string name;
  std::size_t downloads = 0;
  std::size_t uploads = 0;

  std::string Ratio(std::string_view decimalSeparator = ".") const;
};

// A user of a long list with their counts; the list holds the name's text.
struct ListedCounts {
  std::string_view name;
  std::uint32_t downloads = 0;  // a table's rows, and so a name's, are fewer than 2^32
  std::uint32_t uploads = 0;
};

// Every user with their counts, and the texts their names lie in: a list of a million users
// copies no name.
struct UserCountList {
  std::vector<ListedCounts> users;
  std::vector<std::shared_ptr<const void>> texts;
};

// Every user with their counts, in display order (the list CollectEveryUserName makes), counted
// by ids.
UserCountList CountEveryUser(const LogTable& downloads, const LogTable& uploads);
// The same for tables the caller is done with: all but their names goes before the list is made,
// so the list and the tables never take memory at once.
UserCountList CountEveryUser(LogTable&& downloads, LogTable&& uploads);

}  // namespace quorvane
