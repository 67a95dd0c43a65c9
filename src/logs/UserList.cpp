#include "logs/UserList.h"

#include <algorithm>
#include <cwchar>
#include <locale>
#include <numeric>

#include "logs/StringPool.h"
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

std::u32string FoldKey(std::string_view utf8) {
  std::u32string key = Utf8ToCodePoints(utf8);
  for (char32_t& c : key)
    c = Fold(c);
  return key;
}

void CollectFrom(const LogTable& table, const ProgressFn& progress, StringPool& seen,
                 std::vector<std::string>& names) {
  std::vector<bool> addressSeen(table.AddressIdCount(), false);
  const ProgressTicker ticker(progress);
  const std::size_t rows = table.RowCount();
  for (std::size_t row = 0; row < rows; ++row) {
    const std::uint32_t address = table.AddressId(row);
    if (!addressSeen[address] && !table.Address(row).empty()) {
      addressSeen[address] = true;
      const std::string_view name = table.Name(row);
      const std::size_t before = seen.Size();
      if (seen.Intern(name) == before)
        names.emplace_back(name);
    }
    ticker.Step(row);
  }
  ticker.Finish(rows);
}

}  // namespace

std::vector<std::string> CollectUserNames(const LogTable& downloads, const LogTable& uploads,
                                          const ProgressFn& downloadProgress,
                                          const ProgressFn& uploadProgress) {
  StringPool seen;
  std::vector<std::string> names;
  CollectFrom(downloads, downloadProgress, seen, names);
  CollectFrom(uploads, uploadProgress, seen, names);
  SortForDisplay(names);
  return names;
}

bool DisplayOrderLess(std::string_view a, std::string_view b) {
  const std::u32string ka = FoldKey(a);
  const std::u32string kb = FoldKey(b);
  if (ka != kb)
    return ka < kb;
  return a < b;  // UTF-8 byte order is code-point order
}

void SortForDisplay(std::vector<std::string>& names) {
  // Fold each name once, not once per comparison.
  std::vector<std::u32string> keys;
  keys.reserve(names.size());
  for (const std::string& name : names)
    keys.push_back(FoldKey(name));
  std::vector<std::size_t> order(names.size());
  std::iota(order.begin(), order.end(), std::size_t{0});
  std::sort(order.begin(), order.end(), [&](std::size_t x, std::size_t y) {
    if (keys[x] != keys[y])
      return keys[x] < keys[y];
    return names[x] < names[y];
  });
  std::vector<std::string> sorted;
  sorted.reserve(names.size());
  for (std::size_t i : order)
    sorted.push_back(std::move(names[i]));
  names = std::move(sorted);
}

bool ContainsFolded(std::string_view text, std::string_view part) {
  return part.empty() || FoldKey(text).find(FoldKey(part)) != std::u32string::npos;
}

}  // namespace quorvane
