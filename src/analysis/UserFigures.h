#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "logs/LogTable.h"

namespace quorvane {

// Everything the users overview shows of one user.
struct UserFigures {
  std::string name;
  std::size_t downloads = 0;  // download rows of this Name
  std::size_t uploads = 0;    // upload rows of this Name
  std::string ratio;          // as the user report writes it
  // Download rows by other names of a file this user uploaded: how often others fetched what
  // this user brought.
  std::size_t credit = 0;
  std::size_t addresses = 0;  // distinct Address texts on this user's rows of both tables
  // (credit and addresses stay 0 when only the counts were asked for)
};

// Counts and ratio only, or credit and addresses too (which cost more).
enum class UserFigureSet { Counts, All };

// The figures of each of `names`, in that order; a name without rows gets zeros. A few passes over
// each table whatever the number of names.
std::vector<UserFigures> ComputeUserFigures(const LogTable& downloads, const LogTable& uploads,
                                            const std::vector<std::string>& names,
                                            UserFigureSet set = UserFigureSet::All);

}  // namespace quorvane
