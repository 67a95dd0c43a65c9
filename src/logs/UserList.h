#pragma once

#include <string>
#include <vector>

#include "logs/LogTable.h"
#include "logs/Progress.h"

namespace quorvane {

// The user names of both logs, each once, in display order. A row brings in its Name when its
// Address is not empty and no earlier row of the same table has that Address; names compare
// exactly. The passes report progress per table.
std::vector<std::string> CollectUserNames(const LogTable& downloads, const LogTable& uploads,
                                          const ProgressFn& downloadProgress = {},
                                          const ProgressFn& uploadProgress = {});

// Display order: letters compare without regard to case (any script, not only ASCII); names
// equal that way are ordered by their exact code points.
void SortForDisplay(std::vector<std::string>& names);

}  // namespace quorvane
