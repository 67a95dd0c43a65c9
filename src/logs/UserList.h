#pragma once

#include <string>
#include <string_view>
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
bool DisplayOrderLess(std::string_view a, std::string_view b);
void SortForDisplay(std::vector<std::string>& names);

// Whether `part` occurs in `text` when both are folded as the display order folds them; an empty
// part occurs in every text.
bool ContainsFolded(std::string_view text, std::string_view part);

}  // namespace quorvane
