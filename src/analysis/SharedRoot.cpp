#include "analysis/SharedRoot.h"

#include <algorithm>

namespace quorvane {

void SharedRootFinder::Add(std::string_view path) {
  if (path.empty())
    return;
  if (first_.empty()) {
    first_.assign(path);
    common_ = shortest_ = path.size();
    return;
  }
  const auto shared = first_.begin() + static_cast<std::ptrdiff_t>(common_);
  common_ = static_cast<std::size_t>(
      std::mismatch(first_.begin(), shared, path.begin(), path.end()).first - first_.begin());
  shortest_ = std::min(shortest_, path.size());
}

std::string SharedRootFinder::Root() const {
  if (first_.empty())
    return {};
  const std::string_view separators = first_.starts_with('/') ? "/" : "/\\";
  // The last separator that leaves a byte of the shortest path after it.
  const std::string_view shared =
      std::string_view(first_).substr(0, std::min(common_, shortest_ - 1));
  const std::size_t end = shared.find_last_of(separators);
  if (end == std::string_view::npos || shared.find_first_not_of(separators) > end)
    return {};
  return first_.substr(0, end + 1);
}

std::string SharedRootOf(const FilesTable& files) {
  SharedRootFinder finder;
  for (const FileFigures& file : files.files)
    finder.Add(file.File());
  return finder.Root();
}

std::string_view RelativeTo(std::string_view root, std::string_view path) {
  return path.size() > root.size() && path.starts_with(root) ? path.substr(root.size()) : path;
}

}  // namespace quorvane
