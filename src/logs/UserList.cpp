#include "logs/UserList.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <cwchar>
#include <locale>
#include <string_view>
#include <unordered_map>

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

// A name's code points case-folded, as UTF-8: the same key for names that differ only in case.
std::string FoldKey(std::string_view name) {
  std::string key;
  for (char32_t c : Utf8ToCodePoints(name))
    AppendUtf8(key, Fold(c));
  return key;
}

// Sorts names into display order. A name's sort key is its code points case-folded, as UTF-8
// (whose byte order is the code points' order): an ASCII name's key is made byte by byte as it
// is read, other names' keys once, beforehand. The sort goes seven key bytes at a time, packed
// into one integer with the key's remaining length, so it compares integers, not texts.
template <typename NameAt>
class DisplaySorter {
 public:
  DisplaySorter(std::size_t count, NameAt nameAt) : nameAt_(nameAt), count_(count) {
    for (std::size_t i = 0; i < count; ++i) {
      const std::string_view name = nameAt_(i);
      const bool ascii = std::all_of(name.begin(), name.end(),
                                     [](char c) { return static_cast<unsigned char>(c) < 0x80; });
      if (!ascii)
        folded_[static_cast<std::uint32_t>(i)] = FoldKey(name);
    }
  }

  std::vector<std::uint32_t> Order() {
    std::vector<Entry> entries(count_);
    for (std::size_t i = 0; i < entries.size(); ++i)
      entries[i].index = static_cast<std::uint32_t>(i);
    SortRange(entries.begin(), entries.end(), 0);
    std::vector<std::uint32_t> order(entries.size());
    for (std::size_t i = 0; i < entries.size(); ++i)
      order[i] = entries[i].index;
    return order;
  }

 private:
  struct Entry {
    std::uint64_t chunk = 0;
    std::uint32_t index = 0;
  };
  using Iterator = typename std::vector<Entry>::iterator;

  // Key bytes [depth, depth + 7) big-endian, zero-padded, then the key's remaining length
  // (up to 8: "longer than this chunk").
  std::uint64_t Chunk(std::uint32_t index, std::size_t depth) const {
    const auto folded = folded_.empty() ? folded_.end() : folded_.find(index);
    const bool ascii = folded == folded_.end();
    const std::string_view key = ascii ? nameAt_(index) : std::string_view(folded->second);
    const std::size_t left = key.size() > depth ? key.size() - depth : 0;
    std::uint64_t chunk = 0;
    for (std::size_t k = 0; k < 7; ++k) {
      unsigned char c = k < left ? static_cast<unsigned char>(key[depth + k]) : 0;
      if (ascii && c >= 'A' && c <= 'Z')
        c = static_cast<unsigned char>(c + 32);
      chunk = (chunk << 8) | c;
    }
    return (chunk << 8) | std::min<std::size_t>(left, 8);
  }

  void SortRange(Iterator first, Iterator last, std::size_t depth) {
    for (Iterator it = first; it != last; ++it)
      it->chunk = Chunk(it->index, depth);
    std::sort(first, last, [](const Entry& a, const Entry& b) { return a.chunk < b.chunk; });
    for (Iterator run = first; run != last;) {
      Iterator end = run + 1;
      while (end != last && end->chunk == run->chunk)
        ++end;
      if (end - run > 1) {
        if ((run->chunk & 0xFF) == 8) {
          SortRange(run, end, depth + 7);  // equal so far, and the keys go on
        } else {
          // Equal keys: exact code points decide (UTF-8 byte order is code-point order).
          std::sort(run, end, [&](const Entry& a, const Entry& b) {
            return nameAt_(a.index) < nameAt_(b.index);
          });
        }
      }
      run = end;
    }
  }

  NameAt nameAt_;
  std::size_t count_;
  std::unordered_map<std::uint32_t, std::string> folded_;  // the keys of non-ASCII names
};

template <typename NameAt>
std::vector<std::uint32_t> DisplayOrder(std::size_t count, NameAt nameAt) {
  return DisplaySorter<NameAt>(count, nameAt).Order();
}

// The ids of the names a table's rows from `from` on bring in, in order of first appearance: the
// Name of each Address's first row, unless the Address is empty. `addressSeen` and `nameSeen`
// carry what the rows before brought.
std::vector<std::uint32_t> FirstNames(const LogTable& table, std::size_t from,
                                      std::vector<bool>& addressSeen, std::vector<bool>& nameSeen,
                                      const ProgressFn& progress) {
  addressSeen.resize(table.AddressIdCount(), false);
  nameSeen.resize(table.NameIdCount(), false);
  std::vector<std::uint32_t> ids;
  const ProgressTicker ticker(progress);
  const std::size_t rows = table.RowCount();
  for (std::size_t row = from; row < rows; ++row) {
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

std::vector<std::uint32_t> ListedNameIds(const LogTable& table, const ProgressFn& progress) {
  std::vector<bool> addressSeen, nameSeen;
  return FirstNames(table, 0, addressSeen, nameSeen, progress);
}

// The ids of the names that stand on a row of the table, in id order.
std::vector<std::uint32_t> NameIdsOnRows(const LogTable& table) {
  std::vector<bool> onRow(table.NameIdCount(), false);
  const std::size_t rows = table.RowCount();
  for (std::size_t row = 0; row < rows; ++row)
    onRow[table.NameId(row)] = true;
  std::vector<std::uint32_t> ids;
  for (std::uint32_t id = 0; id < onRow.size(); ++id) {
    if (onRow[id])
      ids.push_back(id);
  }
  return ids;
}

std::vector<ListedUser> InDisplayOrder(const std::vector<ListedUser>& users,
                                       const LogTable& downloads, const LogTable& uploads) {
  const auto nameAt = [&](std::size_t i) {
    const ListedUser& user = users[i];
    return user.downloadId != kNoName ? downloads.NameText(user.downloadId)
                                      : uploads.NameText(user.uploadId);
  };
  std::vector<ListedUser> sorted;
  sorted.reserve(users.size());
  for (std::uint32_t i : DisplayOrder(users.size(), nameAt))
    sorted.push_back(users[i]);
  return sorted;
}

std::vector<std::string> NamesOf(const std::vector<ListedUser>& users, const LogTable& downloads,
                                 const LogTable& uploads) {
  std::vector<std::string> names;
  names.reserve(users.size());
  for (const ListedUser& user : users) {
    names.emplace_back(user.downloadId != kNoName ? downloads.NameText(user.downloadId)
                                                  : uploads.NameText(user.uploadId));
  }
  return names;
}

}  // namespace

std::vector<ListedUser> ListUsers(const LogTable& downloads, const LogTable& uploads,
                                  const ProgressFn& downloadProgress,
                                  const ProgressFn& uploadProgress) {
  std::vector<ListedUser> users;
  std::vector<bool> listed(downloads.NameIdCount(), false);
  for (std::uint32_t id : ListedNameIds(downloads, downloadProgress)) {
    listed[id] = true;
    const std::optional<std::uint32_t> upload = uploads.FindName(downloads.NameText(id));
    users.push_back({id, upload.value_or(kNoName)});
  }
  // An upload name is new unless the download log listed the same text.
  for (std::uint32_t id : ListedNameIds(uploads, uploadProgress)) {
    const std::optional<std::uint32_t> download = downloads.FindName(uploads.NameText(id));
    if (!download || !listed[*download])
      users.push_back({download.value_or(kNoName), id});
  }
  return InDisplayOrder(users, downloads, uploads);
}

std::vector<std::string> CollectUserNames(const LogTable& downloads, const LogTable& uploads,
                                          const ProgressFn& downloadProgress,
                                          const ProgressFn& uploadProgress) {
  return NamesOf(ListUsers(downloads, uploads, downloadProgress, uploadProgress), downloads,
                 uploads);
}

GrowingUserList::GrowingUserList(const LogTable& downloads, const LogTable& uploads,
                                 const ProgressFn& downloadProgress,
                                 const ProgressFn& uploadProgress) {
  const std::vector<Brought> brought = Take(downloads, uploads, downloadProgress, uploadProgress);
  // Sorted by the texts the pools hold, then copied once.
  const auto nameAt = [&](std::size_t i) {
    return (brought[i].uploads ? uploads : downloads).NameText(brought[i].id);
  };
  names_.reserve(brought.size());
  for (std::uint32_t i : DisplayOrder(brought.size(), nameAt))
    names_.emplace_back(nameAt(i));
}

bool GrowingUserList::Grow(const LogTable& downloads, const LogTable& uploads) {
  const std::vector<Brought> brought = Take(downloads, uploads, {}, {});
  for (const Brought& name : brought)
    names_.emplace_back((name.uploads ? uploads : downloads).NameText(name.id));
  if (!brought.empty())
    SortForDisplay(names_);
  return !brought.empty();
}

std::vector<GrowingUserList::Brought> GrowingUserList::Take(const LogTable& downloads,
                                                            const LogTable& uploads,
                                                            const ProgressFn& downloadProgress,
                                                            const ProgressFn& uploadProgress) {
  const LogTable* const tables[2] = {&downloads, &uploads};
  const ProgressFn* const progress[2] = {&downloadProgress, &uploadProgress};
  std::vector<Brought> brought;
  for (int t = 0; t < 2; ++t) {
    const LogTable& table = *tables[t];
    for (std::uint32_t id :
         FirstNames(table, rows_[t], addressSeen_[t], nameSeen_[t], *progress[t])) {
      // Listed already when the other table brought in the same text.
      const std::optional<std::uint32_t> there = tables[1 - t]->FindName(table.NameText(id));
      const std::vector<bool>& otherSeen = nameSeen_[1 - t];
      if (!there || *there >= otherSeen.size() || !otherSeen[*there])
        brought.push_back({t == 1, id});
    }
    rows_[t] = std::max(rows_[t], table.RowCount());
  }
  return brought;
}

std::vector<ListedUser> ListEveryUser(const LogTable& downloads, const LogTable& uploads) {
  std::vector<ListedUser> users;
  const std::vector<std::uint32_t> downloadIds = NameIdsOnRows(downloads);
  std::vector<bool> listed(downloads.NameIdCount(), false);
  for (std::uint32_t id : downloadIds)
    listed[id] = true;
  for (std::uint32_t id : downloadIds)
    users.push_back({id, uploads.FindName(downloads.NameText(id)).value_or(kNoName)});
  // An upload name is new unless a download row has the same text. (An id found by text may
  // stand on no row, after a rename: it counts nothing.)
  for (std::uint32_t id : NameIdsOnRows(uploads)) {
    const std::optional<std::uint32_t> download = downloads.FindName(uploads.NameText(id));
    if (!download || !listed[*download])
      users.push_back({kNoName, id});
  }
  return InDisplayOrder(users, downloads, uploads);
}

std::vector<std::string> CollectEveryUserName(const LogTable& downloads, const LogTable& uploads) {
  return NamesOf(ListEveryUser(downloads, uploads), downloads, uploads);
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

bool ContainsFolded(std::string_view text, std::string_view part) {
  return part.empty() || FoldKey(text).find(FoldKey(part)) != std::string::npos;
}

std::vector<std::string> RenamedUserNames(std::vector<std::string> names, std::string_view from,
                                          std::string_view to) {
  const auto listed = std::find(names.begin(), names.end(), from);
  if (from == to || listed == names.end())
    return names;
  names.erase(listed);
  if (std::find(names.begin(), names.end(), to) == names.end()) {
    names.emplace_back(to);
    SortForDisplay(names);
  }
  return names;
}

}  // namespace quorvane
