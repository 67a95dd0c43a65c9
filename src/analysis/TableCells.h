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
  std::string_view name;
  CellKind kind;
};

inline constexpr TableColumn kUserColumns[] = {
    {"user", CellKind::Name},       {"downloads", CellKind::Count}, {"uploads", CellKind::Count},
    {"ratio", CellKind::Ratio},     {"credit", CellKind::Count},    {"addresses", CellKind::Count},
    {"first_seen", CellKind::Time}, {"last_seen", CellKind::Time}};

inline constexpr TableColumn kFileColumns[] = {
    {"file", CellKind::Name},           {"downloads", CellKind::Count},
    {"downloaders", CellKind::Count},   {"uploads", CellKind::Count},
    {"first_uploader", CellKind::Name}, {"first_download", CellKind::Time},
    {"last_download", CellKind::Time}};

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
