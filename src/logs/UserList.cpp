#include "logs/UserList.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <cwchar>
#include <locale>
#include <string_view>

#include "logs/TextEncoding.h"

namespace quorvane {

namespace {

// Unicode-aware lower-casing needs a UTF-8 locale; the classic "C" one folds ASCII only.
const std::ctype<wchar_t>& WideCtype() {
  static const std::locale locale = [] {
    for (const char* name : {"C.UTF-8", "C.utf8", "en_US.UTF-8", ""}) {
      try {
        return std::locale(name);
      } catch (const std::runtime_error&) {
      }
    }
    return std::locale::classic();
  }();
  return std::use_facet<std::ctype<wchar_t>>(locale);
}

char32_t Fold(char32_t c) {
  if (c < 0x80)
    return (c >= 'A' && c <= 'Z') ? c + 32 : c;
  if (c > static_cast<char32_t>(WCHAR_MAX))
    return c;
  return static_cast<char32_t>(WideCtype().tolower(static_cast<wchar_t>(c)));
}

// Appends the name's sort key: its code points case-folded, as UTF-8, whose byte order is the
// code points' order.
void AppendFoldKey(std::string& keys, std::string_view utf8) {
  const bool ascii = std::all_of(utf8.begin(), utf8.end(),
                                 [](char c) { return static_cast<unsigned char>(c) < 0x80; });
  if (ascii) {
    for (char c : utf8)
      keys.push_back(c >= 'A' && c <= 'Z' ? static_cast<char>(c + 32) : c);
    return;
  }
  for (char32_t c : Utf8ToCodePoints(utf8))
    AppendUtf8(keys, Fold(c));
}

// Sorts the names by their fold keys, each made once; exact code points break ties.
template <typename NameAt>
std::vector<std::uint32_t> DisplayOrder(std::size_t count, NameAt nameAt) {
  std::string keys;
  std::vector<std::uint64_t> keyEnds(count);
  for (std::size_t i = 0; i < count; ++i) {
    AppendFoldKey(keys, nameAt(i));
    keyEnds[i] = keys.size();
  }
  // Each entry carries the first eight key bytes, big-endian, so most comparisons need no more.
  struct Entry {
    std::uint64_t prefix;
    std::uint32_t index;
  };
  std::vector<Entry> entries(count);
  for (std::size_t i = 0; i < count; ++i) {
    const std::size_t begin = i == 0 ? 0 : keyEnds[i - 1];
    std::uint64_t prefix = 0;
    for (std::size_t k = 0; k < 8; ++k) {
      const std::size_t at = begin + k;
      prefix = (prefix << 8) | (at < keyEnds[i] ? static_cast<unsigned char>(keys[at]) : 0u);
    }
    entries[i] = {prefix, static_cast<std::uint32_t>(i)};
  }
  const auto key = [&](std::uint32_t i) {
    const std::size_t begin = i == 0 ? 0 : keyEnds[i - 1];
    return std::string_view(keys).substr(begin, keyEnds[i] - begin);
  };
  std::sort(entries.begin(), entries.end(), [&](const Entry& a, const Entry& b) {
    if (a.prefix != b.prefix)
      return a.prefix < b.prefix;
    const int order = key(a.index).compare(key(b.index));
    if (order != 0)
      return order < 0;
    return nameAt(a.index) < nameAt(b.index);  // UTF-8 byte order is code-point order
  });
  std::vector<std::uint32_t> order(count);
  for (std::size_t i = 0; i < count; ++i)
    order[i] = entries[i].index;
  return order;
}

// The ids of the names a table brings in, in order of first appearance.
std::vector<std::uint32_t> ListedNameIds(const LogTable& table, const ProgressFn& progress) {
  std::vector<bool> addressSeen(table.AddressIdCount(), false);
  std::vector<bool> nameSeen(table.NameIdCount(), false);
  std::vector<std::uint32_t> ids;
  const ProgressTicker ticker(progress);
  const std::size_t rows = table.RowCount();
  for (std::size_t row = 0; row < rows; ++row) {
    const std::uint32_t address = table.AddressId(row);
    if (!addressSeen[address]) {
      addressSeen[address] = true;
      const std::uint32_t name = table.NameId(row);
      if (!nameSeen[name] && !table.Address(row).empty()) {
        nameSeen[name] = true;
        ids.push_back(name);
      }
    }
    ticker.Step(row);
  }
  ticker.Finish(rows);
  return ids;
}

}  // namespace

std::vector<std::string> CollectUserNames(const LogTable& downloads, const LogTable& uploads,
                                          const ProgressFn& downloadProgress,
                                          const ProgressFn& uploadProgress) {
  std::vector<std::string_view> names;
  const std::vector<std::uint32_t> downloadIds = ListedNameIds(downloads, downloadProgress);
  std::vector<bool> listed(downloads.NameIdCount(), false);
  for (std::uint32_t id : downloadIds) {
    listed[id] = true;
    names.push_back(downloads.NameText(id));
  }
  // An upload name is new unless the download log listed the same text.
  for (std::uint32_t id : ListedNameIds(uploads, uploadProgress)) {
    const std::string_view name = uploads.NameText(id);
    const std::optional<std::uint32_t> same = downloads.FindName(name);
    if (!same || !listed[*same])
      names.push_back(name);
  }
  const std::vector<std::uint32_t> order =
      DisplayOrder(names.size(), [&](std::size_t i) { return names[i]; });
  std::vector<std::string> sorted;
  sorted.reserve(names.size());
  for (std::uint32_t i : order)
    sorted.emplace_back(names[i]);
  return sorted;
}

void SortForDisplay(std::vector<std::string>& names) {
  const std::vector<std::uint32_t> order =
      DisplayOrder(names.size(), [&](std::size_t i) { return std::string_view(names[i]); });
  std::vector<std::string> sorted;
  sorted.reserve(names.size());
  for (std::uint32_t i : order)
    sorted.push_back(std::move(names[i]));
  names = std::move(sorted);
}

}  // namespace quorvane
