#pragma once
// The users and files tables' columns and each line's cells as the CSV writes them before its
// quoting; the HTML page shows the very same texts. Internal to analysis/.

#include <charconv>
#include <string_view>

#include "analysis/FileFigures.h"
#include "analysis/UserFigures.h"

namespace quorvane::detail {

struct TableColumn {
  std::string_view name;
  bool number;  // a count, right-aligned and sorted by value
};

inline constexpr TableColumn kUserColumns[] = {
    {"user", false},  {"downloads", true}, {"uploads", true},     {"ratio", false},
    {"credit", true}, {"addresses", true}, {"first_seen", false}, {"last_seen", false}};
inline constexpr std::size_t kRatioColumn = 3;

inline constexpr TableColumn kFileColumns[] = {{"file", false},           {"downloads", true},
                                               {"downloaders", true},     {"uploads", true},
                                               {"first_uploader", false}, {"first_download", false},
                                               {"last_download", false}};

// Calls cell(text) for each of the line's cells in column order.
template <typename Cell>
void CellsOf(const UserFigures& user, Cell&& cell) {
  char digits[24];
  const auto number = [&](std::size_t value) {
    cell(std::string_view(digits, std::to_chars(digits, digits + sizeof digits, value).ptr));
  };
  cell(std::string_view(user.name));
  number(user.downloads);
  number(user.uploads);
  cell(std::string_view(user.Ratio()));
  number(user.credit);
  number(user.addresses);
  cell(std::string_view(FormatTimestamp(user.firstSeen)));
  cell(std::string_view(FormatTimestamp(user.lastSeen)));
}

template <typename Cell>
void CellsOf(const FileFigures& file, Cell&& cell) {
  char digits[24];
  const auto number = [&](std::size_t value) {
    cell(std::string_view(digits, std::to_chars(digits, digits + sizeof digits, value).ptr));
  };
  cell(file.file);
  number(file.downloads);
  number(file.downloaders);
  number(file.uploads);
  cell(file.firstUploader);
  cell(std::string_view(FormatTimestamp(file.firstDownload)));
  cell(std::string_view(FormatTimestamp(file.lastDownload)));
}

}  // namespace quorvane::detail
