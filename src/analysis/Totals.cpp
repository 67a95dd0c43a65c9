#include "analysis/Totals.h"

#include "analysis/RatioText.h"

namespace quorvane {

Totals ComputeTotals(const LogTable& downloads, const LogTable& uploads,
                     std::string_view decimalSeparator) {
  Totals totals;
  totals.downloads = downloads.RowCount();
  totals.uploads = uploads.RowCount();
  totals.ratio = RatioText(static_cast<double>(totals.downloads),
                           static_cast<double>(totals.uploads), decimalSeparator);
  return totals;
}

}  // namespace quorvane
