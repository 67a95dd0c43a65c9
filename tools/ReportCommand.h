#pragma once

#include <ostream>
#include <string>
#include <vector>

namespace quorvane {

// Runs `quorvane-report` with its arguments (UTF-8, without the program name); returns the exit
// status: 0 done, 1 a log could not be read or the report not made or written, 2 a usage
// error.
int RunReportCommand(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);

}  // namespace quorvane
