#pragma once

#include "sysinfo/SysInfoLookup.h"

namespace quorvane::sysinfo {

// Starts programs through Qt, for the About box's System Info button.
ProgramLauncher& SystemLauncher();

}  // namespace quorvane::sysinfo
