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
// Their block has room for a sort item a row besides, at the same place.
struct Spread {
  explicit Spread(std::size_t rows)
      : block(rows * std::max(sizeof(Transfer), sizeof(SortItem))),
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

// Whether file a (its texts in `as`) comes before file b.
bool Before(const SortItem& a, Entries as, const SortItem& b, Entries bs) {
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
unsigned DigitAt(const SortItem& item, Entries counts, std::size_t depth) {
  if (depth >= kCountBytes && depth - kCountBytes >= item.length)
    return 0;
  if (depth < kKeyBytes)
    return 1 + static_cast<unsigned>((item.key[depth / 8] >> (56 - 8 * (depth % 8))) & 0xFF);
  return 1 + static_cast<unsigned char>(counts.Text(item.entry)[depth - kCountBytes]);
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
// buckets by one byte, from `items` into `other` (room for as many), and goes on within each
// bucket the other way round; bytes all items share are skipped, and small buckets are sorted by
// comparing. The sorted items end in `items` when `home`, else in `other`.
// `digits` has room for n bytes' buckets.
void SortItems(SortItem* items, SortItem* other, std::uint16_t* digits, std::size_t n, bool home,
               Entries counts, std::size_t depth = 0, unsigned nesting = 0) {
  constexpr std::size_t kSmall = 32;
  // Texts that share long starts make deep recursion; past this depth comparing is no slower.
  constexpr unsigned kDeepest = 48;
  const auto before = [counts](const SortItem& a, const SortItem& b) {
    return Before(a, counts, b, counts);
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
      if (!home)
        std::copy(items, items + n, other);
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
        ++end[digits[i] = static_cast<std::uint16_t>(DigitAt(items[i], counts, depth))];
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
    for (std::size_t i = 0; i < n; ++i)
      other[next[digits[i]]++] = items[i];
    for (std::size_t b = 0, from = 0; b < end.size(); from = end[b++]) {
      if (end[b] > from) {
        SortItems(other + from, items + from, digits + from, end[b] - from, !home, counts,
                  depth + 1, nesting + 1);
      }
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
  // The sort item of a text Keep placed at `kept`, for the counts at `entry`.
  static SortItem ItemOf(const char* kept, std::size_t length, std::uint32_t entry) {
    return {{BigEndian(kept, length, 0) >> 32, BigEndian(kept, length, kCountBytes),
             BigEndian(kept, length, kCountBytes + 8)},
            entry,
            static_cast<std::uint32_t>(length)};
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
    share_.items.push_back(Share::ItemOf(kept, text.size(), entry));
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

// A share's sorted items, or a run of them; `counts` is the whole share's, as items refer to it.
struct SortedRun {
  const SortItem* items;
  std::size_t size;
  Entries counts;

  SortedRun Part(std::size_t begin, std::size_t end) const {
    return {items + begin, end - begin, counts};
  }
};

// How many of a's items are among the first k of a and b merged, a's first where they tie: the
// order is cut there so that two threads can each merge a part. A bisection on a's share, as the
// more a gives, the later its last item given and the earlier b's.
std::size_t TakenFromFirst(const SortedRun& a, const SortedRun& b, std::size_t k) {
  std::size_t low = k > b.size ? k - b.size : 0, high = std::min(k, a.size);
  while (low < high) {
    const std::size_t i = low + (high - low) / 2;
    // Does a's item i come before b's item k - i - 1, the last b would give?
    if (!Before(b.items[k - i - 1], b.counts, a.items[i], a.counts))
      low = i + 1;
    else
      high = i;
  }
  return low;
}

// Writes the first n files of a and b merged, a's first where they tie. `uploaderOf`: the first
// uploaders' names by Name id.
void Merge(SortedRun a, SortedRun b, std::size_t n, const TextRef* uploaderOf, FileFigures* out) {
  std::size_t at[2] = {0, 0};
  const SortedRun* const runs[2] = {&a, &b};
  for (std::size_t k = 0; k < n; ++k) {
    const int from = at[0] == a.size || (at[1] != b.size &&
                                         Before(b.items[at[1]], b.counts, a.items[at[0]], a.counts))
                         ? 1
                         : 0;
    const SortedRun& run = *runs[from];
    const SortItem& item = run.items[at[from]++];
    if (at[from] + kAhead < run.size) {
      __builtin_prefetch(&run.counts.counts[run.items[at[from] + kAhead].entry]);
    }
    const Counts& file = run.counts.counts[item.entry];
    out[k] = {TextRef(run.counts.Text(item.entry) - sizeof(std::uint32_t)),
              ~static_cast<std::uint32_t>(item.key[0] >> 32),
              file.downloaders,
              file.uploads,
              file.uploads != 0 ? uploaderOf[file.firstUploader] : TextRef(),
              file.first,
              file.last};
  }
}

// What the figures' views point into.
struct Texts {
  Buffer<char> files[2];
  ByteArena names{kNameBlockShift};
};

// Sorts each share's items, on two threads when `parallel`; `room(half)` has room for as many
// items besides.
template <typename Room>
void SortShares(Share (&shares)[2], bool parallel, Room room) {
  const auto sort = [&](int half) {
    Share& share = shares[half];
    SortItem* const spare = new (static_cast<void*>(room(half))) SortItem[share.items.size()];
    Buffer<std::uint16_t> digits(share.items.size());
    SortItems(share.items.data(), spare, digits.data(), share.items.size(), true,
              {share.counts.data(), share.texts.data()});
  };
  RunBoth(
      parallel, [&] { sort(0); }, [&] { sort(1); });
}

// The two shares' sorted files as the table, the first `limit` of them.
FilesTable MergeShares(Share (&shares)[2], const LogTable& uploads, bool parallel,
                       std::size_t limit) {
  // The first uploaders' names, copied into the table's texts before the merge reads them.
  auto texts = std::make_shared<Texts>(
      Texts{{std::move(shares[0].texts), std::move(shares[1].texts)}, ByteArena(kNameBlockShift)});
  Array<TextRef> uploaderOf(uploads.NameIdCount());
  for (std::uint32_t id = 0; id < uploaderOf.size(); ++id) {
    if ((shares[0].firstUploaders[id] | shares[1].firstUploaders[id]) == 0)
      continue;
    const std::string_view name = uploads.NameText(id);
    if (!name.empty()) {
      std::uint32_t offset;
      char* const packed = texts->names.Extend(sizeof(std::uint32_t) + name.size(), offset);
      const auto length = static_cast<std::uint32_t>(name.size());
      std::memcpy(packed, &length, sizeof length);
      std::copy(name.begin(), name.end(), packed + sizeof length);
      uploaderOf[id] = TextRef(packed);
    }
  }

  // The two shares' orders merged: the first half of the files on this thread, the rest on
  // another, each half cut where the shares' items meet.
  const SortedRun sorted[2] = {{shares[0].items.data(),
                                shares[0].items.size(),
                                {shares[0].counts.data(), texts->files[0].data()}},
                               {shares[1].items.data(),
                                shares[1].items.size(),
                                {shares[1].counts.data(), texts->files[1].data()}}};
  const std::size_t files = std::min(limit, sorted[0].size + sorted[1].size);
  const std::size_t half = parallel ? files / 2 : files;
  const std::size_t fromFirst = TakenFromFirst(sorted[0], sorted[1], half);
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
  RunBoth(
      parallel,
      [&] {
        Merge(sorted[0].Part(0, fromFirst), sorted[1].Part(0, half - fromFirst), half,
              uploaderOf.data(), out);
      },
      [&] {
        Merge(sorted[0].Part(fromFirst, sorted[0].size),
              sorted[1].Part(half - fromFirst, sorted[1].size), files - half, uploaderOf.data(),
              out + half);
      });
  table.texts = std::move(texts);
  return table;
}

// The figures of tables that share their File Name ids: each file counted in arrays by its id,
// no text hashed or compared. Files are numbered as they first come and go to the two shares in
// turn; one thread copies (decodes) each file's text once while the other counts the rows, and
// the files are sorted and merged as the spread rows' are.
FilesTable FileFiguresByIds(const LogTable& downloads, const LogTable& uploads, std::size_t limit) {
  const std::size_t rows = downloads.RowCount();
  const bool parallel = rows + uploads.RowCount() >= kRowsWorthAThread;
  std::optional<Encoding> decode;
  if (downloads.TextEncoding() != Encoding::Utf8)
    decode = downloads.TextEncoding();
  const std::size_t ids = downloads.FileNameIdCount();
  // Each row's file as a number by first appearance (an entry), fetched a few rows ahead.
  Array<std::uint32_t> idOf;  // by entry
  Array<std::uint32_t> entryOfRow(rows + uploads.RowCount());
  {
    Array<std::uint32_t> entryOf(ids, kNobody);  // by id
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
  const auto shareOf = [&](std::size_t entry) { return parallel ? entry & 1 : 0; };
  const auto local = [&](std::size_t entry) { return parallel ? entry >> 1 : entry; };
  std::size_t textRoom = 0;  // only the pages used are touched
  for (std::size_t entry = 0; entry < entries; ++entry)
    textRoom +=
        sizeof(std::uint32_t) + downloads.FileNameText(idOf[entry]).size() * (decode ? 3 : 1);
  Share shares[2] = {Share(textRoom, uploads.NameIdCount()),
                     Share(parallel ? textRoom : 0, uploads.NameIdCount())};
  for (int half = 0; half < 2; ++half) {
    const std::size_t size = parallel ? (entries + 1 - half) / 2 : half == 0 ? entries : 0;
    shares[half].counts.resize(size);
    shares[half].items.resize(size);
  }
  const auto countsOf = [&](std::size_t entry) -> Counts& {
    return shares[shareOf(entry)].counts[local(entry)];
  };
  // Each share's texts and sort items, in entry order; where the texts lie, by entry.
  Array<std::uint32_t> textAt(entries);
  const auto copyTexts = [&] {
    std::string decoded;
    for (std::size_t entry = 0; entry < entries; ++entry) {
      Share& share = shares[shareOf(entry)];
      const std::string_view bytes = downloads.FileNameText(idOf[entry]);
      const std::string_view text =
          decode ? std::string_view(decoded = DecodeToUtf8(bytes, *decode)) : bytes;
      char* const kept = share.Keep(text);
      share.items[local(entry)] =
          Share::ItemOf(kept, text.size(), static_cast<std::uint32_t>(local(entry)));
      textAt[entry] = static_cast<std::uint32_t>(kept - share.texts.data());
    }
  };
  Array<std::uint32_t> downloadsOf(entries, 0);
  const auto countRows = [&] {
    for (std::size_t row = 0; row < rows; ++row) {
      if (row + kAhead < rows) {
        __builtin_prefetch(&downloadsOf[entryOfRow[row + kAhead]]);
        __builtin_prefetch(&countsOf(entryOfRow[row + kAhead]));
      }
      const std::uint32_t entry = entryOfRow[row];
      ++downloadsOf[entry];
      Counts& counts = countsOf(entry);
      const Timestamp date = downloads.Date(row);
      if (date != kUndated) {
        if (counts.first == kUndated || date < counts.first)
          counts.first = date;
        if (date > counts.last)  // kUndated is below every date
          counts.last = date;
      }
    }
    // Each file's downloaders: its rows' names grouped by file, each name stamped with the file
    // it was last counted for.
    Array<std::uint32_t> at(entries + 1, 0);
    for (std::size_t entry = 0; entry < entries; ++entry)
      at[entry + 1] = at[entry] + downloadsOf[entry];
    Array<std::uint32_t> names(rows);
    for (std::size_t row = rows; row-- > 0;) {
      if (row >= kAhead)
        __builtin_prefetch(&at[entryOfRow[row - kAhead] + 1]);
      names[--at[entryOfRow[row] + 1]] = downloads.NameId(row);
    }
    // Each entry's count taken back off the end it began at: at[entry + 1] is now its start.
    Array<std::uint32_t> countedFor(downloads.NameIdCount(), kNobody);
    for (std::size_t entry = 0; entry < entries; ++entry) {
      Counts& counts = countsOf(entry);
      const std::size_t end = entry + 2 <= entries ? at[entry + 2] : rows;
      for (std::size_t i = at[entry + 1]; i < end; ++i) {
        if (std::exchange(countedFor[names[i]], static_cast<std::uint32_t>(entry)) != entry)
          ++counts.downloaders;
      }
    }
    for (std::size_t row = 0; row < uploads.RowCount(); ++row) {
      const std::uint32_t entry = entryOfRow[rows + row];
      Counts& counts = countsOf(entry);
      if (counts.uploads++ == 0) {
        counts.firstUploader = uploads.NameId(row);
        shares[shareOf(entry)].firstUploaders[counts.firstUploader] = 1;
      }
    }
  };
  RunBoth(parallel, copyTexts, countRows);
  entryOfRow = {};
  idOf = {};
  for (std::size_t entry = 0; entry < entries; ++entry) {
    Share& share = shares[shareOf(entry)];
    share.counts[local(entry)].text = textAt[entry];
    share.items[local(entry)].key[0] |= std::uint64_t{~downloadsOf[entry]} << 32;
  }
  textAt = {};
  downloadsOf = {};
  {
    // Both halves' spare items in one block the size of the table to come, which takes it once
    // freed (a freed block goes to the next of about its size): the two are not held at once.
    Buffer<char> spare(entries * std::max(sizeof(SortItem), sizeof(FileFigures)));
    SortShares(shares, parallel, [&](int half) {
      return spare.data() + (half == 0 ? 0 : shares[0].items.size() * sizeof(SortItem));
    });
  }
  return MergeShares(shares, uploads, parallel, limit);
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
  // Every row is counted: the rows' block is the sort's, an item a row from where the half's rows
  // begin, as there is a file at most per row.
  SortShares(shares, parallel, [&](int half) {
    return spread.block.data() + spread.start[2 * partitionsOf(half).first] * sizeof(SortItem);
  });
  // The rows are counted: their block, the largest, is free for the table to take (a freed block
  // goes to the next of about its size), so that the rows and the table are not held at once.
  spreadRows.reset();
  downloadKeys.reset();
  uploadKeys.reset();
  return MergeShares(shares, uploads, parallel, limit);
}

}  // namespace quorvane
