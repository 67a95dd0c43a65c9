#include "FileAccess.h"

#include <fcntl.h>
#include <sys/fsuid.h>
#include <unistd.h>

namespace quorvane::testing {

namespace {

constexpr unsigned kNobody = 65534;

}  // namespace

UnprivilegedFileAccess::UnprivilegedFileAccess() {
  if (geteuid() != 0)
    return;
  previous_ = static_cast<unsigned>(setfsuid(kNobody));
  // setfsuid answers with the old value whether or not it worked; asking again tells.
  dropped_ = static_cast<unsigned>(setfsuid(kNobody)) == kNobody;
}

UnprivilegedFileAccess::~UnprivilegedFileAccess() {
  if (dropped_)
    setfsuid(previous_);
}

std::string UnprivilegedFileAccess::WhyNotDenied(const std::filesystem::path& file,
                                                 int openFlags) const {
  const int fd = open(file.c_str(), openFlags | O_CLOEXEC);
  if (fd < 0)
    return {};
  close(fd);
  if (geteuid() == 0 && !dropped_) {
    return "running as root and setfsuid() could not give up root's access to files";
  }
  return "file permissions do not bind this process (it holds a capability such as "
         "CAP_DAC_OVERRIDE)";
}

}  // namespace quorvane::testing
