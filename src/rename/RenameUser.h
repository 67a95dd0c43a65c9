#pragma once

#include <cstddef>
#include <string_view>

#include "logs/LogTable.h"

namespace quorvane {

// Replaces the name `from` by `to` in the Name cell of every matching row of both tables (exact
// match) and returns how many cells it rewrote. Replacing a name by itself counts its rows.
std::size_t RenameUser(LogTable& downloads, LogTable& uploads, std::string_view from,
                       std::string_view to);

}  // namespace quorvane
