#include "rename/RenameUser.h"

namespace quorvane {

std::size_t RenameUser(LogTable& downloads, LogTable& uploads, std::string_view from,
                       std::string_view to) {
  return downloads.RenameUser(from, to) + uploads.RenameUser(from, to);
}

}  // namespace quorvane
