#pragma once

#include <cstddef>
#include <string>
#include <string_view>

#include "analysis/FileFigures.h"

namespace quorvane {

// The folder a set of paths all lie in, so each can be shown relative to it: what a server's
// files are called, not where its disk keeps them. A folder ends at a '/' or, unless the paths
// start with '/', at a '\'; the texts before it are compared byte for byte. Every path keeps a
// name after the root (a folder that is itself one of the paths is not its own root), and a root
// of separators alone is none. Texts without a separator (a classic log's file names) share no
// root, nor do texts that differ from their first byte. Empty texts name nothing and are passed
// over. Linear in the bytes the paths share.
class SharedRootFinder {
 public:
  void Add(std::string_view path);
  // The root's text, ending in its separator; empty when the paths share none.
  std::string Root() const;

 private:
  std::string first_;
  std::size_t common_ = 0;  // bytes every path added so far shares with the first
  std::size_t shortest_ = 0;
};

// The root every file of the table lies in.
std::string SharedRootOf(const FilesTable& files);

// `path` after `root`, or the whole of it when it does not start there or is the root itself.
std::string_view RelativeTo(std::string_view root, std::string_view path);

}  // namespace quorvane
