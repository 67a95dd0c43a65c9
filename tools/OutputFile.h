#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

namespace quorvane {

// Writes `text` to `path` whole or not at all: into a new file in the same folder, flushed to the
// disk, then renamed over `path`, so that a reader (a web server serving the page) opens the old
// file or the new one, never part of either. A new file's permissions are those of any file the
// process creates (0666 less the umask); a file replaced keeps its own. On failure `path` is as it
// was and the new file is gone; the reason is returned.
std::optional<std::string> WriteFileAtomically(const std::filesystem::path& path,
                                               std::string_view text);

}  // namespace quorvane
