#include "analysis/FileFigures.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cstring>
#include <future>
#include <new>
#include <optional>
#include <type_traits>
#include <utility>

#include "analysis/HashIndex.h"

namespace quorvane {

namespace {

using namespace detail;

// Half a million files of a million rows do not fit in any cache: a hash table over them waits
// on memory at every row, and so does every array indexed by file. So the rows are first spread,
// by the top bits of their File Name's hash, over partitions of a thousand or two rows, copied
// out of the tables in row order; then each partition is counted on its own with tables that stay
// in cache, each row's text fetched a few rows ahead from where the table holds it. Rows of both
// tables whose texts are equal land in one partition, so each file is counted whole there. The
// files are then sorted by a radix sort on their count and text bytes, each thread its own
// partitions' files, and the two orders merged, each thread writing a half.

constexpr unsigned kNameBlockShift = 20;
constexpr std::size_t kRowsPerPartition = 2048;
constexpr unsigned kMostPartitionBits = 14;
constexpr std::size_t kAhead = 8;  // files whose figures are fetched ahead of the one written

// Scratch memory left as it is: each element is written before it is read.
template <typename T>
class Buffer {
  static_assert(std::is_trivially_copyable_v<T>);

 public:
  explicit Buffer(std::size_t size)
      : bytes_(std::max<std::size_t>(size, 1) * sizeof(T)),
        data_(reinterpret_cast<T*>(AllocateLarge(bytes_))) {}
  Buffer(Buffer&& other) noexcept
      : bytes_(std::exchange(other.bytes_, 0)), data_(std::exchange(other.data_, nullptr)) {}
  Buffer& operator=(Buffer&& other) noexcept {
    std::swap(bytes_, other.bytes_);
    std::swap(data_, other.data_);
    return *this;
  }
  ~Buffer() { FreeLarge(reinterpret_cast<char*>(data_), bytes_); }
  T& operator[](std::size_t i) { return data_[i]; }
  const T& operator[](std::size_t i) const { return data_[i]; }
  T* data() { return data_; }

 private:
  std::size_t bytes_;
  T* data_;
};

// Faults in the pages of fresh memory, before it holds anything, by writing a byte a page.
void TouchPages(char* begin, std::size_t bytes) {
  constexpr std::size_t kPage = 4096;
  volatile char* const bytesAt = begin;
  for (std::size_t at = 0; at < bytes; at += kPage)
    bytesAt[at] = 0;
}

// Runs both, on two threads when asked.
template <typename First, typename Second>
void RunBoth(bool parallel, First first, Second second) {
  if (parallel) {
    auto other = std::async(std::launch::async, second);
    first();
    other.get();
  } else {
    first();
    second();
  }
}

// A table's File Name keys: the cells' bytes, or their UTF-8 text when the two tables' encodings
// differ, so that texts compare as the files' bytes decode.
class Keys {
 public:
  Keys(const LogTable& table, bool decode) : table_(table), decode_(decode) {
    if (!decode)
      return;
    ends_.reserve(table.RowCount());
    for (std::size_t row = 0; row < table.RowCount(); ++row) {
      decoded_ += DecodeToUtf8(table.FileNameBytes(row), table.TextEncoding());
      ends_.push_back(decoded_.size());
    }
  }
  std::string_view Of(std::size_t row) const {
    if (!decode_)
      return table_.FileNameBytes(row);
    const std::size_t begin = row == 0 ? 0 : ends_[row - 1];
    return std::string_view(decoded_).substr(begin, ends_[row] - begin);
  }

 private:
  const LogTable& table_;
  bool decode_;
  std::string decoded_;
  std::vector<std::size_t> ends_;
};

// One row as a partition is counted: its key's text (in the table, or in its decoded Keys) and
// the low half of its hash, its Name id and its date; 28 bytes, packed, as rows are many.
#pragma pack(push, 4)
struct Transfer {
  const char* text;
  std::uint32_t length;
  std::uint32_t hash;
  std::uint32_t name;
  Timestamp date;
};
#pragma pack(pop)
static_assert(sizeof(Transfer) == 28);

// A file's place in the order: the complement of its downloads (most first), then its text's
// first 20 bytes big-endian (zeros past its end); the rest of the text breaks ties.
struct SortItem {
  std::uint64_t key[3];
  std::uint32_t entry;  // its Counts
  std::uint32_t length;
};

std::size_t PartitionOf(std::uint64_t hash, unsigned bits) {
  return static_cast<std::size_t>((hash >> 1) >> (63 - bits));  // bits may be 0
}

// Both tables' rows by partition: partition p's downloads, then its uploads, each in table order.
struct Spread {
  explicit Spread(std::size_t rows)
      : block(rows * sizeof(Transfer)),
        transfers(new (static_cast<void*>(block.data())) Transfer[rows]) {}
  Buffer<char> block;
  Transfer* transfers;
  // Partition p's downloads are [start[2p], start[2p + 1]), its uploads up to start[2p + 2].
  std::vector<std::size_t> start;
  std::size_t keyBytes = 0;  // of every row
};

// Spreads the rows of both tables, on two threads when `parallel`: the first takes the first half
// of the rows (downloads, then uploads), so that each partition's rows still come in table order.
void SpreadRows(const LogTable* const (&tables)[2], const Keys* const (&keys)[2], unsigned bits,
                bool parallel, Spread& spread) {
  const std::size_t partitions = std::size_t{1} << bits;
  const std::size_t counts[2] = {tables[0]->RowCount(), tables[1]->RowCount()};
  const std::size_t half = parallel ? (counts[0] + counts[1]) / 2 : counts[0] + counts[1];
  // Rows [begin[thread][table], begin[thread + 1][table]) of each table are the thread's.
  std::size_t begin[3][2] = {{0, 0}, {}, {counts[0], counts[1]}};
  begin[1][0] = std::min(half, counts[0]);
  begin[1][1] = std::min(half - begin[1][0], counts[1]);

  // By thread and table, for each partition: its rows, then where the next goes.
  std::vector<std::size_t> rowsAt[2][2];
  std::size_t keyBytes[2] = {0, 0};  // by thread
  const auto count = [&](int thread) {
    std::size_t bytes = 0;
    for (int t = 0; t < 2; ++t) {
      std::vector<std::size_t>& rows = rowsAt[thread][t];
      rows.assign(partitions, 0);
      for (std::size_t row = begin[thread][t]; row < begin[thread + 1][t]; ++row) {
        const std::string_view key = keys[t]->Of(row);
        ++rows[PartitionOf(StringPool::Hash(key), bits)];
        bytes += key.size();
      }
    }
    keyBytes[thread] = bytes;
  };
  RunBoth(
      parallel, [&] { count(0); }, [&] { count(1); });

  spread.start.assign(2 * partitions + 1, 0);
  std::size_t nextRow = 0;
  for (std::size_t p = 0; p < partitions; ++p) {
    for (int t = 0; t < 2; ++t) {
      spread.start[2 * p + t] = nextRow;
      for (int thread = 0; thread < 2; ++thread) {
        nextRow += std::exchange(rowsAt[thread][t][p], nextRow);
      }
    }
  }
  spread.start[2 * partitions] = nextRow;
  spread.keyBytes = keyBytes[0] + keyBytes[1];
  const auto place = [&](int thread) {
    for (int t = 0; t < 2; ++t) {
      std::vector<std::size_t>& rows = rowsAt[thread][t];
      for (std::size_t row = begin[thread][t]; row < begin[thread + 1][t]; ++row) {
        const std::string_view key = keys[t]->Of(row);
        // Hashed again rather than kept from the count: 8 bytes a row less at the peak.
        const std::uint64_t hash = StringPool::Hash(key);
        const std::size_t p = PartitionOf(hash, bits);
        spread.transfers[rows[p]++] = {key.data(), static_cast<std::uint32_t>(key.size()),
                                       static_cast<std::uint32_t>(hash), tables[t]->NameId(row),
                                       tables[t]->Date(row)};
      }
    }
  };
  RunBoth(
      parallel, [&] { place(0); }, [&] { place(1); });
}

// A file's figures besides its downloads, and its text as shown: 32 bytes.
struct Counts {
  std::uint32_t text;  // where its bytes start in its share's texts
  std::uint32_t downloaders = 0;
  std::uint32_t uploads = 0;
  std::uint32_t firstUploader = kNobody;  // the upload table's Name id
  Timestamp first = kUndated;
  Timestamp last = kUndated;
};
static_assert(sizeof(Counts) == 32);

// A share's files as items refer to them: their figures by entry, and the texts they point into.
struct Entries {
  const Counts* counts;
  const char* texts;
  const char* Text(std::uint32_t entry) const { return texts + counts[entry].text; }
  void Prefetch(std::uint32_t entry) const { __builtin_prefetch(&counts[entry]); }
};

// Files as items refer to them when the table's own records, by entry, point at their texts.
struct Records {
  const FileFigures* files;
  const char* Text(std::uint32_t entry) const { return files[entry].fileBytes; }
  void Prefetch(std::uint32_t) const {}
};

constexpr std::size_t kCountBytes = 4;
constexpr std::size_t kKeyBytes = 24;  // 4 of the count, 20 of the text
constexpr std::size_t kTextInKey = kKeyBytes - kCountBytes;

// Bytes [from, from + 8) of a text as a big-endian number, zeros past its end.
std::uint64_t BigEndian(const char* text, std::size_t length, std::size_t from) {
  std::uint64_t value = 0;
  if (from + 8 <= length) {
    std::memcpy(&value, text + from, 8);
    return std::endian::native == std::endian::little ? __builtin_bswap64(value) : value;
  }
  for (std::size_t i = from; i < from + 8; ++i)
    value = value << 8 | (i < length ? static_cast<unsigned char>(text[i]) : 0u);
  return value;
}

// The sort item of a text for the entry, its downloads still to be added.
SortItem ItemOf(const char* text, std::size_t length, std::uint32_t entry) {
  return {{BigEndian(text, length, 0) >> 32, BigEndian(text, length, kCountBytes),
           BigEndian(text, length, kCountBytes + 8)},
          entry,
          static_cast<std::uint32_t>(length)};
}

// Whether file a (its texts in `as`) comes before file b.
template <typename Texts>
bool Before(const SortItem& a, Texts as, const SortItem& b, Texts bs) {
  for (int w = 0; w < 3; ++w) {
    if (a.key[w] != b.key[w])
      return a.key[w] < b.key[w];
  }
  // Equal counts and first 20 bytes: a text that ends within them is the other's start.
  if (a.length <= kTextInKey || b.length <= kTextInKey)
    return a.length < b.length;
  return std::string_view(as.Text(a.entry) + kTextInKey, a.length - kTextInKey) <
         std::string_view(bs.Text(b.entry) + kTextInKey, b.length - kTextInKey);
}

// Byte `depth` of an item's order as a bucket: 0 where its text has ended, else the byte + 1.
template <typename Texts>
unsigned DigitAt(const SortItem& item, Texts texts, std::size_t depth) {
  if (depth >= kCountBytes && depth - kCountBytes >= item.length)
    return 0;
  if (depth < kKeyBytes)
    return 1 + static_cast<unsigned>((item.key[depth / 8] >> (56 - 8 * (depth % 8))) & 0xFF);
  return 1 + static_cast<unsigned char>(texts.Text(item.entry)[depth - kCountBytes]);
}

// The first depth from `depth` on, within the keys, where the items' buckets differ, found in
// one pass over the key words; past the keys, `kKeyBytes`.
std::size_t FirstSplit(const SortItem* items, std::size_t n, std::size_t depth) {
  if (depth >= kKeyBytes)
    return depth;
  const std::size_t firstWord = depth / 8;
  std::size_t shortest = SIZE_MAX;
  std::uint64_t differ[3] = {};
  for (std::size_t i = 0; i < n; ++i) {
    shortest = std::min<std::size_t>(shortest, items[i].length);
    for (std::size_t w = firstWord; w < 3; ++w)
      differ[w] |= items[i].key[w] ^ items[0].key[w];
  }
  differ[firstWord] &= ~std::uint64_t{0} >> (8 * (depth % 8));
  std::size_t split = kKeyBytes;
  for (std::size_t w = firstWord; w < 3; ++w) {
    if (differ[w] != 0) {
      split = w * 8 + std::countl_zero(differ[w]) / 8;
      break;
    }
  }
  // A text that ends makes a bucket of its own there.
  return std::max(depth, std::min(split, kCountBytes + shortest));
}

// Sorts by count and text, most significant byte first: each pass deals the items into 257
// buckets by one byte, in place (each item swapped straight into its bucket's next place, so no
// second block of items is needed), and goes on within each bucket; bytes all items share are
// skipped, and small buckets are sorted by comparing. `digits` has room for n bytes' buckets.
template <typename Texts>
void SortItems(SortItem* items, std::uint16_t* digits, std::size_t n, Texts texts,
               std::size_t depth = 0, unsigned nesting = 0) {
  constexpr std::size_t kSmall = 32;
  // Texts that share long starts make deep recursion; past this depth comparing is no slower.
  constexpr unsigned kDeepest = 48;
  const auto before = [texts](const SortItem& a, const SortItem& b) {
    return Before(a, texts, b, texts);
  };
  for (;;) {
    if (n <= kSmall || nesting >= kDeepest) {
      if (n > kSmall) {
        std::sort(items, items + n, before);
      } else {
        for (std::size_t i = 1; i < n; ++i) {
          const SortItem item = items[i];
          std::size_t j = i;
          for (; j > 0 && before(item, items[j - 1]); --j)
            items[j] = items[j - 1];
          items[j] = item;
        }
      }
      return;
    }
    depth = FirstSplit(items, n, depth);
    std::array<std::size_t, 257> end{};
    if (depth < kKeyBytes) {
      // Within the keys: one shift and mask an item.
      const std::size_t word = depth / 8, shift = 56 - 8 * (depth % 8);
      const bool inText = depth >= kCountBytes;
      const std::size_t at = depth - kCountBytes;  // the text's byte there
      for (std::size_t i = 0; i < n; ++i) {
        digits[i] = inText && items[i].length <= at
                        ? static_cast<std::uint16_t>(0)
                        : static_cast<std::uint16_t>(1 + ((items[i].key[word] >> shift) & 0xFF));
        ++end[digits[i]];
      }
    } else {
      for (std::size_t i = 0; i < n; ++i)
        ++end[digits[i] = static_cast<std::uint16_t>(DigitAt(items[i], texts, depth))];
    }
    if (end[digits[0]] == n) {
      ++depth;
      continue;
    }
    std::array<std::size_t, 257> next;
    for (std::size_t b = 0, at = 0; b < end.size(); ++b) {
      next[b] = at;
      at = end[b] += at;
    }
    for (std::size_t b = 0; b < end.size(); ++b) {
      for (; next[b] < end[b]; ++next[b]) {
        const std::size_t i = next[b];
        // The item here goes to its bucket's next place, and the one there comes here, until
        // this place holds an item of bucket b.
        for (std::uint16_t digit = digits[i]; digit != b; digit = digits[i]) {
          const std::size_t j = next[digit]++;
          std::swap(items[i], items[j]);
          std::swap(digits[i], digits[j]);
        }
      }
    }
    for (std::size_t b = 0, from = 0; b < end.size(); from = end[b++]) {
      if (end[b] > from + 1)
        SortItems(items + from, digits + from, end[b] - from, texts, depth + 1, nesting + 1);
    }
    return;
  }
}

// The files of the partitions one thread counts: figures and sort items by entry, the texts.
struct Share {
  // Room for the texts of every row its partitions hold: only the pages used are touched.
  Share(std::size_t room, std::size_t uploaderIds) : texts(room), firstUploaders(uploaderIds, 0) {}
  Array<Counts> counts;
  Array<SortItem> items;
  Buffer<char> texts;
  std::size_t textsUsed = 0;
  // By the upload table's Name id: 1 where the name is the first uploader of one of its files.
  Array<std::uint8_t> firstUploaders;

  // Copies a file's UTF-8 text in after its length; where its bytes now lie. Texts are found by
  // 32-bit offsets: a share's distinct File Names take less than 4 GiB (else its rows would take
  // several times that).
  char* Keep(std::string_view text) {
    if (textsUsed + sizeof(std::uint32_t) + text.size() > UINT32_MAX)
      throw std::bad_alloc();
    char* const packed = texts.data() + textsUsed;
    const auto length = static_cast<std::uint32_t>(text.size());
    std::memcpy(packed, &length, sizeof length);
    char* const kept = packed + sizeof length;
    std::copy(text.begin(), text.end(), kept);
    textsUsed += sizeof length + text.size();
    return kept;
  }
};

// Counts one partition at a time into a Share; its tables are sized to the partition.
class PartitionCounter {
 public:
  // `decode`: the keys are bytes of this encoding, to be shown as UTF-8.
  PartitionCounter(Share& share, std::optional<Encoding> decode) : share_(share), decode_(decode) {}

  void Count(const Transfer* downloads, std::size_t downloadCount, const Transfer* uploads,
             std::size_t uploadCount) {
    const std::size_t base = share_.items.size();
    files_.clear();
    slots_.assign(std::bit_ceil(std::max<std::size_t>(16, 2 * (downloadCount + uploadCount))), 0);
    pairs_.assign(std::bit_ceil(std::max<std::size_t>(16, 2 * downloadCount)), kNoPair);
    // A row's text is wherever its table holds it: fetched a few rows ahead.
    for (std::size_t i = 0; i < downloadCount; ++i) {
      if (i + kAhead < downloadCount)
        __builtin_prefetch(downloads[i + kAhead].text);
      const Transfer& row = downloads[i];
      const std::uint32_t file = Find(row);
      ++files_[file].downloads;
      Counts& counts = share_.counts[base + file];
      if (row.date != kUndated) {
        if (counts.first == kUndated || row.date < counts.first)
          counts.first = row.date;
        if (row.date > counts.last)  // kUndated is below every date
          counts.last = row.date;
      }
      if (AddPair(std::uint64_t{file} << 32 | row.name))
        ++counts.downloaders;
    }
    for (std::size_t i = 0; i < uploadCount; ++i) {
      if (i + kAhead < uploadCount)
        __builtin_prefetch(uploads[i + kAhead].text);
      const Transfer& row = uploads[i];
      Counts& counts = share_.counts[base + Find(row)];
      if (counts.uploads++ == 0) {
        counts.firstUploader = row.name;
        share_.firstUploaders[row.name] = 1;
      }
    }
    for (std::size_t file = 0; file < files_.size(); ++file)
      share_.items[base + file].key[0] |= std::uint64_t{~files_[file].downloads} << 32;
  }

 private:
  static constexpr std::uint64_t kNoPair = ~std::uint64_t{0};

  // A file of the partition: its key, to compare rows with, and its downloads so far.
  struct File {
    std::uint32_t hash;  // the low half
    const char* text;
    std::uint32_t length;
    std::uint32_t downloads;
  };

  std::uint32_t Find(const Transfer& row) {
    const std::uint32_t hash = row.hash;
    const std::size_t mask = slots_.size() - 1;
    for (std::size_t i = hash & mask;; i = (i + 1) & mask) {
      const std::uint32_t slot = slots_[i];
      if (slot == 0) {
        slots_[i] = Add(row) + 1;
        return slots_[i] - 1;
      }
      const File& file = files_[slot - 1];
      if (file.hash == hash && file.length == row.length &&
          SameBytes(file.text, row.text, row.length))
        return slot - 1;
    }
  }

  std::uint32_t Add(const Transfer& row) {
    const std::string_view key(row.text, row.length);
    std::string decoded;
    const std::string_view text =
        decode_ ? std::string_view(decoded = DecodeToUtf8(key, *decode_)) : key;
    char* const kept = share_.Keep(text);
    // Later rows are compared with the copy, which is in cache, unless it was decoded.
    files_.push_back({row.hash, decode_ ? row.text : kept, row.length, 0});
    const auto entry = static_cast<std::uint32_t>(share_.items.size());
    share_.counts.push_back({static_cast<std::uint32_t>(kept - share_.texts.data())});
    share_.items.push_back(ItemOf(kept, text.size(), entry));
    return static_cast<std::uint32_t>(files_.size() - 1);
  }

  // Whether the (file, name) pair is new to the partition.
  bool AddPair(std::uint64_t pair) {
    // The finaliser of MurmurHash3: every key bit reaches the low bits the mask keeps.
    std::uint64_t h = pair;
    h ^= h >> 33;
    h *= 0xff51afd7ed558ccdULL;
    h ^= h >> 33;
    const std::size_t mask = pairs_.size() - 1;
    for (std::size_t i = h & mask;; i = (i + 1) & mask) {
      if (pairs_[i] == pair)
        return false;
      if (pairs_[i] == kNoPair) {
        pairs_[i] = pair;
        return true;
      }
    }
  }

  Share& share_;
  std::optional<Encoding> decode_;
  std::vector<std::uint32_t> slots_;  // file + 1, 0: free
  std::vector<File> files_;
  std::vector<std::uint64_t> pairs_;
};

// Sorted items, or a run of them; `texts` are the whole share's or table's, as items refer to them.
template <typename Texts>
struct SortedRun {
  const SortItem* items;
  std::size_t size;
  Texts texts;

  SortedRun Part(std::size_t begin, std::size_t end) const {
    return {items + begin, end - begin, texts};
  }
};

// How many of a's items are among the first k of a and b merged, a's first where they tie: the
// order is cut there so that two threads can each merge a part. A bisection on a's share, as the
// more a gives, the later its last item given and the earlier b's.
template <typename Texts>
std::size_t TakenFromFirst(const SortedRun<Texts>& a, const SortedRun<Texts>& b, std::size_t k) {
  std::size_t low = k > b.size ? k - b.size : 0, high = std::min(k, a.size);
  while (low < high) {
    const std::size_t i = low + (high - low) / 2;
    // Does a's item i come before b's item k - i - 1, the last b would give?
    if (!Before(b.items[k - i - 1], b.texts, a.items[i], a.texts))
      low = i + 1;
    else
      high = i;
  }
  return low;
}

// Gives the first n items of a and b merged, a's first where they tie, to `take(k, item,
// texts)` from k = `first` on.
template <typename Texts, typename Take>
void Merge(SortedRun<Texts> a, SortedRun<Texts> b, std::size_t first, std::size_t n, Take take) {
  std::size_t at[2] = {0, 0};
  const SortedRun<Texts>* const runs[2] = {&a, &b};
  for (std::size_t k = 0; k < n; ++k) {
    const int from = at[0] == a.size || (at[1] != b.size &&
                                         Before(b.items[at[1]], b.texts, a.items[at[0]], a.texts))
                         ? 1
                         : 0;
    const SortedRun<Texts>& run = *runs[from];
    const SortItem& item = run.items[at[from]++];
    if (at[from] + kAhead < run.size)
      run.texts.Prefetch(run.items[at[from] + kAhead].entry);
    take(first + k, item, run.texts);
  }
}

// The first `files` items of two sorted runs merged: the first half on this thread, the rest on
// another when `parallel`, each half cut where the runs' items meet.
template <typename Texts, typename Take>
void MergeRuns(const SortedRun<Texts> (&sorted)[2], std::size_t files, bool parallel, Take take) {
  const std::size_t half = parallel ? files / 2 : files;
  const std::size_t fromFirst = TakenFromFirst(sorted[0], sorted[1], half);
  RunBoth(
      parallel,
      [&] {
        Merge(sorted[0].Part(0, fromFirst), sorted[1].Part(0, half - fromFirst), 0, half, take);
      },
      [&] {
        Merge(sorted[0].Part(fromFirst, sorted[0].size),
              sorted[1].Part(half - fromFirst, sorted[1].size), half, files - half, take);
      });
}

// What the figures' views point into: the tables' File Names, or the shares' copies; the texts
// of File Names that had to be decoded; the first uploaders' names.
struct Texts {
  std::shared_ptr<const StringPool> fileNames;
  Buffer<char> files[2] = {Buffer<char>(0), Buffer<char>(0)};
  ByteArena decoded{kNameBlockShift};
  ByteArena names{kNameBlockShift};

  // A copy of the text among the names, as a TextRef points to it.
  TextRef KeepName(std::string_view name) {
    std::uint32_t offset;
    char* const packed = names.Extend(sizeof(std::uint32_t) + name.size(), offset);
    const auto length = static_cast<std::uint32_t>(name.size());
    std::memcpy(packed, &length, sizeof length);
    std::copy(name.begin(), name.end(), packed + sizeof length);
    return TextRef(packed);
  }
};

// The first uploaders' names by the upload table's Name id, where `marked` (by id) says a name
// is one; copied into `texts` before the figures are written.
Array<TextRef> FirstUploaders(const LogTable& uploads, const std::uint8_t* const (&marked)[2],
                              Texts& texts) {
  Array<TextRef> uploaderOf(uploads.NameIdCount());
  for (std::uint32_t id = 0; id < uploaderOf.size(); ++id) {
    if ((marked[0][id] | marked[1][id]) == 0)
      continue;
    const std::string_view name = uploads.NameText(id);
    if (!name.empty())
      uploaderOf[id] = texts.KeepName(name);
  }
  return uploaderOf;
}

// Sorts each share's items, on two threads when `parallel`.
void SortShares(Share (&shares)[2], bool parallel) {
  const auto sort = [&](int half) {
    Share& share = shares[half];
    Buffer<std::uint16_t> digits(share.items.size());
    SortItems(share.items.data(), digits.data(), share.items.size(),
              Entries{share.counts.data(), share.texts.data()});
  };
  RunBoth(
      parallel, [&] { sort(0); }, [&] { sort(1); });
}

// The two shares' sorted files as the table, the first `limit` of them.
FilesTable MergeShares(Share (&shares)[2], const LogTable& uploads, bool parallel,
                       std::size_t limit) {
  auto texts = std::make_shared<Texts>();
  texts->files[0] = std::move(shares[0].texts);
  texts->files[1] = std::move(shares[1].texts);
  const Array<TextRef> uploaderOf = FirstUploaders(
      uploads, {shares[0].firstUploaders.data(), shares[1].firstUploaders.data()}, *texts);
  const SortedRun<Entries> sorted[2] = {{shares[0].items.data(),
                                         shares[0].items.size(),
                                         {shares[0].counts.data(), texts->files[0].data()}},
                                        {shares[1].items.data(),
                                         shares[1].items.size(),
                                         {shares[1].counts.data(), texts->files[1].data()}}};
  const std::size_t files = std::min(limit, sorted[0].size + sorted[1].size);
  FilesTable table;
  table.files.reserve(files);
  // The kernel zeroes each fresh page as it is first touched, which for the table's tens of
  // megabytes takes longer than filling it: the two threads fault in a half each first.
  const std::size_t bytes = files * sizeof(FileFigures);
  char* const storage = reinterpret_cast<char*>(table.files.data());
  RunBoth(
      parallel, [&] { TouchPages(storage, bytes / 2); },
      [&] { TouchPages(storage + bytes / 2, bytes - bytes / 2); });
  table.files.resize(files);
  FileFigures* const out = table.files.data();
  MergeRuns(sorted, files, parallel, [&](std::size_t k, const SortItem& item, Entries entries) {
    const Counts& file = entries.counts[item.entry];
    out[k] = {entries.Text(item.entry),
              item.length,
              ~static_cast<std::uint32_t>(item.key[0] >> 32),
              file.downloaders,
              file.uploads,
              file.uploads != 0 ? uploaderOf[file.firstUploader] : TextRef(),
              file.first,
              file.last};
  });
  table.texts = std::move(texts);
  return table;
}

// Scratch given back as soon as it is freed: the steps after it want the room.
template <typename T>
using Scratch = std::vector<T, ScratchAllocator<T>>;

// Puts the records in the order given (order[k]: the entry that goes to place k), each cycle of
// the permutation followed once; `order` is used up.
void Permute(FileFigures* files, std::uint32_t* order, std::size_t n) {
  for (std::size_t start = 0; start < n; ++start) {
    if (order[start] == kNobody)
      continue;
    const FileFigures first = files[start];
    std::size_t at = start;
    for (;;) {
      const std::uint32_t from = std::exchange(order[at], kNobody);
      if (from == start) {
        files[at] = first;
        break;
      }
      files[at] = files[from];
      at = from;
    }
  }
}

// The figures of tables that share their File Name ids: each file counted in arrays by its id,
// no text hashed or compared. Files are numbered as they first come and counted straight into
// the table's records, which point at the shared texts (a code page's are decoded where they are
// not ASCII), while another thread finds those texts; then each half of the files is sorted on a
// thread of its own, the halves merged into an order, and the records put in it in place. Every
// scratch block is given back once done, so that the count holds little besides the table.
FilesTable FileFiguresByIds(const LogTable& downloads, const LogTable& uploads, std::size_t limit) {
  const std::size_t rows = downloads.RowCount();
  const bool parallel = rows + uploads.RowCount() >= kRowsWorthAThread;
  std::optional<Encoding> decode;
  if (downloads.TextEncoding() != Encoding::Utf8)
    decode = downloads.TextEncoding();
  const std::size_t ids = downloads.FileNameIdCount();
  // Each row's file as a number by first appearance (an entry), fetched a few rows ahead.
  Scratch<std::uint32_t> idOf;  // by entry
  Scratch<std::uint32_t> entryOfRow(rows + uploads.RowCount());
  {
    Scratch<std::uint32_t> entryOf(ids, kNobody);  // by id
    idOf.reserve(std::min(ids, entryOfRow.size()));
    const auto number = [&](const LogTable& table, std::size_t offset) {
      for (std::size_t row = 0; row < table.RowCount(); ++row) {
        if (row + kAhead < table.RowCount())
          __builtin_prefetch(&entryOf[table.FileNameId(row + kAhead)]);
        std::uint32_t& entry = entryOf[table.FileNameId(row)];
        if (entry == kNobody) {
          entry = static_cast<std::uint32_t>(idOf.size());
          idOf.push_back(table.FileNameId(row));
        }
        entryOfRow[offset + row] = entry;
      }
    };
    number(downloads, 0);
    number(uploads, rows);
  }
  const std::size_t entries = idOf.size();
  auto texts = std::make_shared<Texts>();
  texts->fileNames = downloads.FileNames();
  FilesTable table;
  table.files.resize(entries);
  FileFigures* const files = table.files.data();
  const auto findTexts = [&] {
    std::string decoded;
    for (std::size_t entry = 0; entry < entries; ++entry) {
      std::string_view text = texts->fileNames->Text(idOf[entry]);
      if (decode && !std::all_of(text.begin(), text.end(),
                                 [](char c) { return static_cast<unsigned char>(c) < 0x80; })) {
        decoded = DecodeToUtf8(text, *decode);
        std::uint32_t offset;
        char* const copy = texts->decoded.Extend(decoded.size(), offset);
        std::copy(decoded.begin(), decoded.end(), copy);
        text = {copy, decoded.size()};
      }
      files[entry].fileBytes = text.data();
      files[entry].fileLength = static_cast<std::uint32_t>(text.size());
    }
  };
  // The upload table's Name id of each file's first uploader; 1 by Name id where it is one.
  Scratch<std::uint32_t> firstUploader(entries, kNobody);
  Scratch<std::uint8_t> isFirstUploader(uploads.NameIdCount(), 0);
  const auto countRows = [&] {
    for (std::size_t row = 0; row < rows; ++row) {
      if (row + kAhead < rows)
        __builtin_prefetch(&files[entryOfRow[row + kAhead]]);
      FileFigures& file = files[entryOfRow[row]];
      ++file.downloads;
      const Timestamp date = downloads.Date(row);
      if (date != kUndated) {
        if (file.firstDownload == kUndated || date < file.firstDownload)
          file.firstDownload = date;
        if (date > file.lastDownload)  // kUndated is below every date
          file.lastDownload = date;
      }
    }
    // Each file's downloaders: its rows' names grouped by file, each name stamped with the file
    // it was last counted for.
    Scratch<std::uint32_t> at(entries + 1, 0);
    for (std::size_t entry = 0; entry < entries; ++entry)
      at[entry + 1] = at[entry] + files[entry].downloads;
    Scratch<std::uint32_t> names(rows);
    for (std::size_t row = rows; row-- > 0;) {
      if (row >= kAhead)
        __builtin_prefetch(&at[entryOfRow[row - kAhead] + 1]);
      names[--at[entryOfRow[row] + 1]] = downloads.NameId(row);
    }
    // Each entry's count taken back off the end it began at: at[entry + 1] is now its start.
    Scratch<std::uint32_t> countedFor(downloads.NameIdCount(), kNobody);
    for (std::size_t entry = 0; entry < entries; ++entry) {
      const std::size_t end = entry + 2 <= entries ? at[entry + 2] : rows;
      for (std::size_t i = at[entry + 1]; i < end; ++i) {
        if (std::exchange(countedFor[names[i]], static_cast<std::uint32_t>(entry)) != entry)
          ++files[entry].downloaders;
      }
    }
    for (std::size_t row = 0; row < uploads.RowCount(); ++row) {
      const std::uint32_t entry = entryOfRow[rows + row];
      if (files[entry].uploads++ == 0) {
        firstUploader[entry] = uploads.NameId(row);
        isFirstUploader[firstUploader[entry]] = 1;
      }
    }
  };
  // The count's scratch is made on this thread, whose heap the sort then takes again: another
  // thread's would stay in its own until trimmed.
  RunBoth(parallel, countRows, findTexts);
  entryOfRow = {};
  idOf = {};
  {
    const Array<TextRef> uploaderOf =
        FirstUploaders(uploads, {isFirstUploader.data(), isFirstUploader.data()}, *texts);
    for (std::size_t entry = 0; entry < entries; ++entry) {
      if (files[entry].uploads != 0)
        files[entry].firstUploader = uploaderOf[firstUploader[entry]];
    }
  }
  firstUploader = {};

  // Each half's items made and sorted on a thread of its own, then merged into an order.
  const std::size_t half = parallel ? entries / 2 : entries;
  const Records records{files};
  Scratch<std::uint32_t> order(entries);
  {
    Scratch<SortItem> items(entries);
    const auto sort = [&](std::size_t begin, std::size_t end) {
      for (std::size_t entry = begin; entry < end; ++entry) {
        const FileFigures& file = files[entry];
        items[entry] = ItemOf(file.fileBytes, file.fileLength, static_cast<std::uint32_t>(entry));
        items[entry].key[0] |= std::uint64_t{~file.downloads} << 32;
      }
      Scratch<std::uint16_t> digits(end - begin);
      SortItems(items.data() + begin, digits.data(), end - begin, records);
    };
    RunBoth(
        parallel, [&] { sort(0, half); }, [&] { sort(half, entries); });
    const SortedRun<Records> sorted[2] = {{items.data(), half, records},
                                          {items.data() + half, entries - half, records}};
    MergeRuns(sorted, entries, parallel,
              [&](std::size_t k, const SortItem& item, Records) { order[k] = item.entry; });
  }
  if (limit < entries) {
    FilesTable first;
    first.files.reserve(limit);
    for (std::size_t k = 0; k < limit; ++k)
      first.files.push_back(files[order[k]]);
    table.files = std::move(first.files);
  } else {
    Permute(files, order.data(), entries);
  }
  table.texts = std::move(texts);
  return table;
}

}  // namespace

std::string PackText(std::string_view text) {
  const auto length = static_cast<std::uint32_t>(text.size());
  std::string packed(sizeof length, '\0');
  std::memcpy(packed.data(), &length, sizeof length);
  return packed.append(text);
}

FilesTable ComputeFileFigures(const LogTable& downloads, const LogTable& uploads,
                              std::size_t limit) {
  if (downloads.SharesFileNames(uploads))
    return FileFiguresByIds(downloads, uploads, limit);
  const std::size_t rows = downloads.RowCount() + uploads.RowCount();
  const bool parallel = rows >= kRowsWorthAThread;
  unsigned bits = 0;
  while (bits < kMostPartitionBits && (rows >> bits) > kRowsPerPartition)
    ++bits;
  const std::size_t partitions = std::size_t{1} << bits;

  const bool decodeRows = downloads.TextEncoding() != uploads.TextEncoding();
  std::optional<Encoding> decodeFiles;
  if (!decodeRows && downloads.TextEncoding() != Encoding::Utf8)
    decodeFiles = downloads.TextEncoding();
  std::optional<Keys> downloadKeys, uploadKeys;
  RunBoth(
      parallel && decodeRows, [&] { downloadKeys.emplace(downloads, decodeRows); },
      [&] { uploadKeys.emplace(uploads, decodeRows); });
  std::optional<Spread> spreadRows(std::in_place, rows);
  Spread& spread = *spreadRows;
  SpreadRows({&downloads, &uploads}, {&*downloadKeys, &*uploadKeys}, bits, parallel, spread);

  // Two shares of about as many rows each, a run of whole partitions each.
  std::size_t middle = partitions;
  if (parallel) {
    middle = 0;
    while (middle < partitions && spread.start[2 * middle] < (rows + 1) / 2)
      ++middle;
  }
  // A text of a code page may take three bytes a byte in UTF-8; each text kept has its length.
  const std::size_t textRoom =
      spread.keyBytes * (decodeFiles ? 3 : 1) + rows * sizeof(std::uint32_t);
  Share shares[2] = {Share(textRoom, uploads.NameIdCount()),
                     Share(parallel ? textRoom : 0, uploads.NameIdCount())};
  // The partitions [first, end) each half counts.
  const auto partitionsOf = [&](int half) {
    return half == 0 ? std::pair<std::size_t, std::size_t>(0, middle)
                     : std::pair(middle, partitions);
  };
  const auto count = [&](int half) {
    Share& share = shares[half];
    const auto [first, end] = partitionsOf(half);
    const std::size_t shareRows = spread.start[2 * end] - spread.start[2 * first];
    // Room for a file per row: pages are only touched as files come.
    share.counts.reserve(shareRows);
    share.items.reserve(shareRows);
    PartitionCounter counter(share, decodeFiles);
    for (std::size_t p = first; p < end; ++p) {
      const std::size_t* at = &spread.start[2 * p];
      counter.Count(&spread.transfers[at[0]], at[1] - at[0], &spread.transfers[at[1]],
                    at[2] - at[1]);
    }
  };
  RunBoth(
      parallel, [&] { count(0); }, [&] { count(1); });
  // The rows are counted: their block, the largest, goes before the sort, which needs no room
  // besides its items.
  spreadRows.reset();
  SortShares(shares, parallel);
  downloadKeys.reset();
  uploadKeys.reset();
  return MergeShares(shares, uploads, parallel, limit);
}

}  // namespace quorvane
