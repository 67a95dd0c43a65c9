#pragma once
// The users and files tables' columns and each line's cells as the CSV writes them before its
// quoting; the HTML page shows the very same texts. Internal to analysis/.

#include <charconv>
#include <string_view>

#include "analysis/FileFigures.h"
#include "analysis/UserFigures.h"

namespace quorvane::detail {

// A name wraps anywhere; counts and ratios are right-aligned and sort by value; times stay whole.
enum class CellKind { Name, Count, Ratio, Time };

struct TableColumn {
  std::string_view name;     // the CSV's and JSON's field
  std::string_view heading;  // the page's, in words
  CellKind kind;
};

inline constexpr TableColumn kUserColumns[] = {{"user", "User", CellKind::Name},
                                               {"downloads", "Downloads", CellKind::Count},
                                               {"uploads", "Uploads", CellKind::Count},
                                               {"ratio", "Ratio", CellKind::Ratio},
                                               {"credit", "Credit", CellKind::Count},
                                               {"addresses", "Addresses", CellKind::Count},
                                               {"first_seen", "First seen", CellKind::Time},
                                               {"last_seen", "Last seen", CellKind::Time}};

inline constexpr TableColumn kFileColumns[] = {{"file", "File", CellKind::Name},
                                               {"downloads", "Downloads", CellKind::Count},
                                               {"downloaders", "Downloaders", CellKind::Count},
                                               {"uploads", "Uploads", CellKind::Count},
                                               {"first_uploader", "First uploader", CellKind::Name},
                                               {"first_download", "First download", CellKind::Time},
                                               {"last_download", "Last download", CellKind::Time}};

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
  cell(file.File());
  number(file.downloads);
  number(file.downloaders);
  number(file.uploads);
  cell(file.firstUploader);
  cell(std::string_view(FormatTimestamp(file.firstDownload)));
  cell(std::string_view(FormatTimestamp(file.lastDownload)));
}

}  // namespace quorvane::detail
