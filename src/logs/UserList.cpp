#include "logs/UserList.h"

#include <algorithm>
#include <bit>
#include <cstdint>
#include <cstring>
#include <cwchar>
#include <functional>
#include <locale>
#include <string_view>
#include <unordered_map>

#include "logs/LargeMemory.h"
#include "logs/SharedWork.h"
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

// A name's code points case-folded, as UTF-8: the same key for names that differ only in case.
std::string FoldKey(std::string_view name) {
  std::string key;
  for (char32_t c : Utf8ToCodePoints(name))
    AppendUtf8(key, Fold(c));
  return key;
}

// Sorts names into display order. A name's sort key is its code points case-folded, as UTF-8
// (whose byte order is the code points' order): an ASCII name's key is made byte by byte as it
// is read, other names' keys once, beforehand. Each name's next eleven key bytes and how much of
// its key is left are packed into two integers, made once in the names' order; a radix sort on
// their bytes, most significant first, then orders them without comparing texts. Only names
// alike in all eleven are looked at again.
template <typename NameAt>
class DisplaySorter {
 public:
  DisplaySorter(std::size_t count, NameAt nameAt) : nameAt_(nameAt), count_(count) {}

  std::vector<std::uint32_t> Order() {
    const Entries entries(count_);
    const auto keys = [&](std::size_t first, std::size_t last, Folded& folded) {
      for (std::size_t i = first; i < last; ++i) {
        entries[i].index = static_cast<std::uint32_t>(i);
        const std::string_view name = nameAt_(i);
        const bool ascii = std::all_of(name.begin(), name.end(),
                                       [](char c) { return static_cast<unsigned char>(c) < 0x80; });
        if (!ascii)
          folded[static_cast<std::uint32_t>(i)] = FoldKey(name);
        MakeKey(entries[i], 0, ascii ? name : folded[static_cast<std::uint32_t>(i)], ascii);
      }
    };
    if (count_ < kApart) {
      keys(0, count_, folded_);
    } else {  // half on a second core, its folded names kept apart meanwhile
      Folded firstFolded;
      AtOnce([&] { keys(0, count_ / 2, firstFolded); }, [&] { keys(count_ / 2, count_, folded_); });
      folded_.merge(firstFolded);
    }
    SortKeys(entries.data(), entries.data() + entries.size(), 0, true);
    std::vector<std::uint32_t> order(entries.size());
    for (std::size_t i = 0; i < entries.size(); ++i)
      order[i] = entries[i].index;
    return order;
  }

 private:
  struct Entry {
    std::uint64_t high = 0;  // key bytes [depth, depth + 8), big-endian, zero-padded
    std::uint32_t low = 0;   // key bytes [depth + 8, depth + 11), then the length byte
    std::uint32_t index = 0;
  };
  // Room for entries that is not written before the sort writes every one: fresh memory is
  // then first touched by the passes that fill it, on two cores.
  class Entries {
   public:
    explicit Entries(std::size_t size) : data_(Allocator().allocate(size)), size_(size) {}
    Entries(const Entries&) = delete;
    Entries& operator=(const Entries&) = delete;
    ~Entries() { Allocator().deallocate(data_, size_); }
    Entry* data() const { return data_; }
    std::size_t size() const { return size_; }
    Entry& operator[](std::size_t i) const { return data_[i]; }

   private:
    using Allocator = ScratchAllocator<Entry>;
    Entry* data_;
    std::size_t size_;
  };
  static constexpr std::size_t kChunk = 11;
  static constexpr unsigned kKeyBytes = kChunk + 1;
  // Ranges this short are sorted by comparison.
  static constexpr std::size_t kFewest = 48;
  // Ranges this long are ordered on two cores.
  static constexpr std::size_t kApart = std::size_t{1} << 15;
  // Ranges this long on one core are ordered two bytes a pass.
  static constexpr std::size_t kWide = std::size_t{1} << 16;

  static bool Before(const Entry& a, const Entry& b) {
    return a.high != b.high ? a.high < b.high : a.low < b.low;
  }
  // Byte `b` of the twelve: 0 is high's most significant, 11 the length byte.
  static unsigned ByteOf(const Entry& e, unsigned b) {
    return b < 8 ? static_cast<unsigned>(e.high >> (56 - 8 * b)) & 0xFF
                 : static_cast<unsigned>(e.low >> (88 - 8 * b)) & 0xFF;
  }

  // The key's next eleven bytes from `depth`, then its remaining length (up to 12: "longer than
  // this chunk").
  void MakeKey(Entry& entry, std::size_t depth) const {
    const auto folded = folded_.empty() ? folded_.end() : folded_.find(entry.index);
    const bool ascii = folded == folded_.end();
    MakeKey(entry, depth, ascii ? nameAt_(entry.index) : std::string_view(folded->second), ascii);
  }
  // The same from the name's key, or the name itself when it is ASCII.
  static void MakeKey(Entry& entry, std::size_t depth, std::string_view key, bool ascii) {
    const std::size_t left = key.size() > depth ? key.size() - depth : 0;
    const char* at = key.data() + depth;
    entry.high = BigEndianHead(at, std::min<std::size_t>(left, 8), ascii);
    const std::uint64_t next =
        left > 8 ? BigEndianHead(at + 8, std::min<std::size_t>(left - 8, 3), ascii) : 0;
    entry.low = static_cast<std::uint32_t>(next >> 32 | std::min<std::size_t>(left, kChunk + 1));
  }

  // The `size` (at most 8) bytes at `text` as a big-endian word, zero-padded; an ASCII text's
  // capitals made small, all eight bytes at once.
  static std::uint64_t BigEndianHead(const char* text, std::size_t size, bool ascii) {
    std::uint64_t word = TextHead(text, size);
    if constexpr (std::endian::native == std::endian::little)
      word = __builtin_bswap64(word);
    if (ascii) {
      // Bytes below 0x80: adding 0x3F sets the top bit from 'A' on, adding 0x25 from past 'Z'.
      constexpr std::uint64_t kOnes = 0x0101010101010101;
      const std::uint64_t capitals = (word + 0x3F * kOnes) & ~(word + 0x25 * kOnes) & 0x80 * kOnes;
      word |= capitals >> 2;
    }
    return word;
  }

  void SortRange(Entry* first, Entry* last, std::size_t depth) {
    for (Entry* it = first; it != last; ++it)
      MakeKey(*it, depth);
    SortKeys(first, last, depth, false);
  }

  // Sorts entries whose keys from `depth` are made; a long range on two cores.
  void SortKeys(Entry* first, Entry* last, std::size_t depth, bool twoCores) {
    const auto n = static_cast<std::size_t>(last - first);
    {
      const Entries scratch(n);
      Radix(first, last, scratch.data(), false, 0, Varying(first, last, twoCores), twoCores);
    }
    // Then the runs of keys alike so far: those whose keys go on are sorted on by their next
    // chunk, the others by their exact code points (UTF-8 byte order is code-point order).
    struct Run {
      Entry* first;
      Entry* last;
    };
    std::vector<Run> runs;
    std::size_t inRuns = 0;
    for (Entry* run = first; run != last;) {
      Entry* end = run + 1;
      while (end != last && end->high == run->high && end->low == run->low)
        ++end;
      if (end - run > 1) {
        runs.push_back({run, end});
        inRuns += static_cast<std::size_t>(end - run);
      }
      run = end;
    }
    const auto sortRuns = [&](const Run* from, const Run* to) {
      for (const Run* run = from; run != to; ++run) {
        if ((run->first->low & 0xFF) == kChunk + 1) {
          SortRange(run->first, run->last, depth + kChunk);
        } else {
          std::sort(run->first, run->last, [&](const Entry& a, const Entry& b) {
            return nameAt_(a.index) < nameAt_(b.index);
          });
        }
      }
    };
    const Run* const end = runs.data() + runs.size();
    const Run* middle = end;
    if (twoCores && inRuns >= kApart) {
      // Shared out by the entries in them, so that each core sorts about half.
      std::size_t before = 0;
      for (middle = runs.data(); middle != end && before < inRuns / 2; ++middle)
        before += static_cast<std::size_t>(middle->last - middle->first);
    }
    if (middle == end)
      sortRuns(runs.data(), end);
    else
      AtOnce([&] { sortRuns(runs.data(), middle); }, [&] { sortRuns(middle, end); });
  }

  // The key bytes that differ somewhere in [first, last), as the 0xFF bytes of an entry's key.
  static Entry Varying(const Entry* first, const Entry* last, bool twoCores) {
    struct Seen {
      std::uint64_t allHigh = ~std::uint64_t{0}, anyHigh = 0;
      std::uint32_t allLow = ~std::uint32_t{0}, anyLow = 0;
    } halves[2];
    const auto n = static_cast<std::size_t>(last - first);
    const auto look = [&](std::size_t from, std::size_t to) {
      Seen& seen = halves[from == 0 ? 0 : 1];
      for (const Entry* it = first + from; it != first + to; ++it) {
        seen.allHigh &= it->high;
        seen.anyHigh |= it->high;
        seen.allLow &= it->low;
        seen.anyLow |= it->low;
      }
    };
    InTwoHalves(n, look, twoCores);
    const std::uint64_t allHigh = halves[0].allHigh & halves[1].allHigh;
    const std::uint32_t allLow = halves[0].allLow & halves[1].allLow;
    return {allHigh ^ (halves[0].anyHigh | halves[1].anyHigh),
            static_cast<std::uint32_t>(allLow ^ (halves[0].anyLow | halves[1].anyLow)), 0};
  }

  // Sets where the entries of each value of byte `b` start, and moves them to `to` in that
  // order; false, with nothing moved, when all have one value. A long range (`apart`) is counted
  // and moved half on each core, each value's entries of the second half after the first's.
  static bool Distribute(const Entry* from, std::size_t n, Entry* to, unsigned b,
                         std::size_t (&start)[257], bool apart) {
    const std::size_t half = n / 2;
    std::size_t counts[2][256] = {};
    std::size_t next[2][256];
    // The pass over the part of [first, last) in each half, with that half's counts and places.
    const auto byHalf = [&](std::size_t first, std::size_t last, auto&& pass) {
      if (first < half)
        pass(counts[0], next[0], from + first, from + std::min(last, half));
      if (last > half)
        pass(counts[1], next[1], from + std::max(first, half), from + last);
    };
    const auto count = [&](std::size_t first, std::size_t last) {
      byHalf(first, last, [&](std::size_t* c, std::size_t*, const Entry* it, const Entry* end) {
        for (; it != end; ++it)
          ++c[ByteOf(*it, b)];
      });
    };
    const auto move = [&](std::size_t first, std::size_t last) {
      byHalf(first, last, [&](std::size_t*, std::size_t* at, const Entry* it, const Entry* end) {
        for (; it != end; ++it)
          to[at[ByteOf(*it, b)]++] = *it;
      });
    };
    InTwoHalves(n, count, apart);
    start[0] = 0;
    for (unsigned v = 0; v < 256; ++v) {
      const std::size_t all = counts[0][v] + counts[1][v];
      if (all == n)
        return false;
      start[v + 1] = start[v] + all;
      next[0][v] = start[v];
      next[1][v] = start[v] + counts[0][v];
    }
    InTwoHalves(n, move, apart);
    return true;
  }

  // Radix's pass for a long range on one core, by bytes `b` and `b` + 1 at once: half the passes
  // over millions of entries, for a table of counts that fits the cache.
  static void RadixWide(Entry* from, Entry* from_end, Entry* to, bool inScratch, unsigned b,
                        const Entry& varying) {
    const auto digit = [b](const Entry& e) { return ByteOf(e, b) << 8 | ByteOf(e, b + 1); };
    constexpr std::size_t kDigits = std::size_t{1} << 16;
    std::vector<std::uint32_t> start(kDigits + 1, 0);
    for (const Entry* it = from; it != from_end; ++it)
      ++start[digit(*it) + 1];
    for (std::size_t v = 0; v < kDigits; ++v)
      start[v + 1] += start[v];
    std::vector<std::uint32_t> next(start.begin(), start.end() - 1);
    for (const Entry* it = from; it != from_end; ++it)
      to[next[digit(*it)]++] = *it;
    for (std::size_t v = 0; v < kDigits; ++v) {
      const std::size_t count = start[v + 1] - start[v];
      if (count > 1)
        Radix(to + start[v], to + start[v + 1], from + start[v], !inScratch, b + 2, varying);
      else if (count == 1 && !inScratch)
        from[start[v]] = to[start[v]];
    }
  }

  // Orders [from, from_end) by their key bytes from byte `b` on, the bytes before being equal,
  // and those `varying` leaves zero being equal throughout. The range lies in `from` (the
  // caller's place when !`inScratch`), and as much room in `to`: each byte's pass moves the
  // entries from one to the other, and the ordered range ends in the caller's place.
  static void Radix(Entry* from, Entry* from_end, Entry* to, bool inScratch, unsigned b,
                    const Entry& varying, bool twoCores = false) {
    const std::size_t n = static_cast<std::size_t>(from_end - from);
    while (b < kKeyBytes && ByteOf(varying, b) == 0)
      ++b;
    if (n <= kFewest || b == kKeyBytes) {
      std::sort(from, from_end, Before);
      if (inScratch)
        std::copy(from, from_end, to);
      return;
    }
    const bool apart = twoCores && n >= kApart;
    if (!apart && n >= kWide && b + 1 < kKeyBytes && ByteOf(varying, b + 1) != 0) {
      RadixWide(from, from_end, to, inScratch, b, varying);
      return;
    }
    std::size_t start[257];
    if (!Distribute(from, n, to, b, start, apart)) {  // one value throughout: nothing moved
      Radix(from, from_end, to, inScratch, b + 1, varying, twoCores);
      return;
    }
    const auto part = [&](unsigned v, bool alsoApart) {
      Entry* first = to + start[v];
      Entry* last = to + start[v + 1];
      if (last - first > 1)
        Radix(first, last, from + start[v], !inScratch, b + 1, varying, alsoApart);
      else if (last != first && !inScratch)
        from[start[v]] = *first;
    };
    const auto parts = [&](unsigned first, unsigned last) {
      for (unsigned v = first; v < last; ++v)
        part(v, false);
    };
    if (!apart) {
      parts(0, 256);
      return;
    }
    // The parts shared out so that each core orders about half; a part of more than half goes
    // on being shared out itself.
    unsigned largest = 0;
    for (unsigned v = 1; v < 256; ++v) {
      if (start[v + 1] - start[v] > start[largest + 1] - start[largest])
        largest = v;
    }
    if ((start[largest + 1] - start[largest]) * 2 > n) {
      parts(0, largest);
      parts(largest + 1, 256);
      part(largest, true);
      return;
    }
    // The boundary between parts nearest the middle.
    const std::size_t half = n / 2;
    unsigned middle = 1;
    while (start[middle] < half)
      ++middle;
    if (half - start[middle - 1] < start[middle] - half)
      --middle;
    AtOnce([&] { parts(0, middle); }, [&] { parts(middle, 256); });
  }

  NameAt nameAt_;
  std::size_t count_;
  using Folded = std::unordered_map<std::uint32_t, std::string>;
  Folded folded_;  // the keys of non-ASCII names
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

void OrderForDisplay(std::vector<ListedUser>& users, const LogTable& downloads,
                     const LogTable& uploads) {
  const auto nameAt = [&](std::size_t i) {
    const ListedUser& user = users[i];
    return user.downloadId != kNoName ? downloads.NameText(user.downloadId)
                                      : uploads.NameText(user.uploadId);
  };
  const std::vector<std::uint32_t> order = DisplayOrder(users.size(), nameAt);
  std::vector<ListedUser> sorted;
  sorted.reserve(users.size());
  AdviseHuge(sorted.data(), users.size() * sizeof(ListedUser));
  for (std::uint32_t i : order)
    sorted.push_back(users[i]);
  users = std::move(sorted);
}

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
  OrderForDisplay(users, downloads, uploads);
  return users;
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

std::vector<ListedUser> ListEveryUserUnordered(const LogTable& downloads, const LogTable& uploads,
                                               const std::vector<std::uint32_t>* downloadRows,
                                               const std::vector<std::uint32_t>* uploadRows) {
  // The ids of the names on a row of the table, in id order.
  const auto onRows = [](const LogTable& table, const std::vector<std::uint32_t>* rows) {
    if (rows == nullptr)
      return NameIdsOnRows(table);
    std::vector<std::uint32_t> ids;
    ids.reserve(rows->size());  // room only: what is not used is not touched
    for (std::uint32_t id = 0; id < rows->size(); ++id) {
      if ((*rows)[id] != 0)
        ids.push_back(id);
    }
    return ids;
  };
  std::vector<ListedUser> users;
  const std::vector<std::uint32_t> downloadIds = onRows(downloads, downloadRows);
  std::vector<bool> listed(downloads.NameIdCount(), false);
  for (std::uint32_t id : downloadIds)
    listed[id] = true;
  const std::vector<std::uint32_t> uploadIds = onRows(uploads, uploadRows);
  // Each download name's id among the uploads, and each upload name's among the downloads, looked
  // up a few dozen at a time. A pool holds a text once, so looking up every upload text among
  // the downloads tells both; where the upload pool holds many texts on no row, each table's
  // names on rows are looked up in the other's pool instead.
  std::vector<std::uint32_t> inUploads, inDownloads;  // by download id, by place in uploadIds
  const bool everyUploadText = uploads.NameIdCount() <= downloadIds.size() + uploadIds.size();
  if (everyUploadText) {
    const std::vector<std::uint32_t> found =
        downloads.NamePool().FindAll(uploads.NamePool(), kNoName, true);
    inUploads.assign(downloads.NameIdCount(), kNoName);
    for (std::uint32_t id = 0; id < found.size(); ++id) {
      if (found[id] != kNoName)
        inUploads[found[id]] = id;
    }
    for (std::uint32_t id : uploadIds)
      inDownloads.push_back(found[id]);
  } else {  // then by place in downloadIds
    inUploads = uploads.NamePool().FindEach(downloads.NamePool(), downloadIds, kNoName, true);
    inDownloads = downloads.NamePool().FindEach(uploads.NamePool(), uploadIds, kNoName, true);
  }
  users.reserve(downloadIds.size() + uploadIds.size());
  AdviseHuge(users.data(), users.capacity() * sizeof(ListedUser));
  for (std::size_t k = 0; k < downloadIds.size(); ++k)
    users.push_back({downloadIds[k], inUploads[everyUploadText ? downloadIds[k] : k]});
  // An upload name is new unless a download row has the same text. (An id found by text may
  // stand on no row, after a rename: it counts nothing.)
  for (std::size_t k = 0; k < uploadIds.size(); ++k) {
    if (inDownloads[k] == kNoName || !listed[inDownloads[k]])
      users.push_back({kNoName, uploadIds[k]});
  }
  return users;
}

std::vector<ListedUser> ListEveryUser(const LogTable& downloads, const LogTable& uploads) {
  std::vector<ListedUser> users = ListEveryUserUnordered(downloads, uploads);
  OrderForDisplay(users, downloads, uploads);
  return users;
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
