#pragma once

#include <filesystem>
#include <string>

namespace quorvane::testing {

// Makes file permissions bind this test as they bind an ordinary user, for as long as it lives.
// Root reads and writes any file whatever its mode, so when running as root this thread acts as
// an unprivileged user for file access (setfsuid: this thread only, permission checks only).
class UnprivilegedFileAccess {
 public:
  UnprivilegedFileAccess();
  ~UnprivilegedFileAccess();
  UnprivilegedFileAccess(const UnprivilegedFileAccess&) = delete;
  UnprivilegedFileAccess& operator=(const UnprivilegedFileAccess&) = delete;

  // Empty when opening `file` with `openFlags` now fails as its mode says; otherwise why not.
  std::string WhyNotDenied(const std::filesystem::path& file, int openFlags) const;

 private:
  bool dropped_ = false;
  unsigned previous_ = 0;
};

}  // namespace quorvane::testing
