#pragma once

#include <algorithm>
#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include "logs/UserList.h"

namespace quorvane {

// Where `name` stands among `count` names in display order (`nameAt(i)`, i < count): its place
// if it is among them, else the place it would take. Found by halving, so a name renamed in a
// long list costs a few comparisons, not a sort; each compares as the whole list was sorted.
template <typename NameAt>
std::size_t DisplayPosition(std::size_t count, NameAt nameAt, std::string_view name) {
  std::size_t first = 0;
  while (count > 0) {
    const std::size_t half = count / 2;
    std::vector<std::string> two = {std::string(name), std::string(nameAt(first + half))};
    SortForDisplay(two);
    if (two[0] != name) {  // the listed name stands before
      first += half + 1;
      count -= half + 1;
    } else {
      count = half;
    }
  }
  return first;
}

}  // namespace quorvane
