#include "analysis/UserFigures.h"

#include <algorithm>
#include <bit>
#include <cstdint>
#include <deque>
#include <future>
#include <limits>
#include <string_view>
#include <unordered_map>

#include "logs/ByteArena.h"
#include "logs/StringPool.h"
#include "logs/TextEncoding.h"

namespace quorvane {

namespace {

constexpr std::uint32_t kNobody = std::numeric_limits<std::uint32_t>::max();
constexpr std::size_t kRowsWorthAThread = 100000;

// Big scratch arrays come from huge pages: fresh memory costs a fault per small page.
template <typename T>
using Array = std::vector<T, LargeAllocator<T>>;

std::size_t TableSizeFor(std::size_t entries) {
  return std::bit_ceil(std::max<std::size_t>(entries * 2, 1024));
}

std::uint64_t Pair(std::uint32_t high, std::uint32_t low) {
  return (std::uint64_t{high} << 32) | low;
}

// A set of 64-bit keys: open addressing with linear probing.
class KeySet {
 public:
  // True when the key was not in the set yet.
  bool Insert(std::uint64_t key) {
    if ((size_ + 1) * 2 > keys_.size())
      Rehash(TableSizeFor(size_ + 1));
    std::uint64_t& slot = keys_[SlotOf(key)];
    if (slot == key)
      return false;
    slot = key;
    ++size_;
    return true;
  }
  bool Contains(std::uint64_t key) const { return !keys_.empty() && keys_[SlotOf(key)] == key; }
  template <typename Visit>
  void ForEach(Visit visit) const {
    for (std::uint64_t key : keys_) {
      if (key != kEmpty)
        visit(key);
    }
  }

 private:
  static constexpr std::uint64_t kEmpty = std::numeric_limits<std::uint64_t>::max();

  std::size_t SlotOf(std::uint64_t key) const {
    // The finaliser of MurmurHash3: every key bit reaches the low bits the mask keeps.
    std::uint64_t h = key;
    h ^= h >> 33;
    h *= 0xff51afd7ed558ccdULL;
    h ^= h >> 33;
    h *= 0xc4ceb9fe1a85ec53ULL;
    h ^= h >> 33;
    const std::size_t mask = keys_.size() - 1;
    std::size_t i = h & mask;
    while (keys_[i] != kEmpty && keys_[i] != key)
      i = (i + 1) & mask;
    return i;
  }
  void Rehash(std::size_t slots) {
    Array<std::uint64_t> old = std::move(keys_);
    keys_.assign(slots, kEmpty);
    for (std::uint64_t key : old) {
      if (key != kEmpty)
        keys_[SlotOf(key)] = key;
    }
  }

  Array<std::uint64_t> keys_;
  std::size_t size_ = 0;
};

// The distinct texts of one column, looked up many times over. A million lookups in a table of
// a few hundred thousand texts wait on memory, so lookups come in batches whose slots are fetched
// ahead.
class TextIndex {
 public:
  static constexpr std::size_t kBatch = 16;

  explicit TextIndex(std::size_t capacity) : slots_(TableSizeFor(capacity), 0) {
    texts_.reserve(capacity);
  }
  std::size_t Size() const { return texts_.size(); }

  // The id of the text, adding it when it is new. At most `capacity` texts.
  std::uint32_t Add(std::string_view text) {
    const std::uint64_t hash = Hash(text);
    std::uint64_t& slot = slots_[SlotOf(text, hash)];
    if (slot == 0) {
      texts_.push_back(text);
      slot = (hash & kTagMask) | texts_.size();
    }
    return IdOf(slot);
  }

  // Calls found(i, id) for each of the `count` texts that the index holds.
  template <typename Found>
  void FindBatch(const std::string_view* texts, std::size_t count, Found found) const {
    std::uint64_t hashes[kBatch];
    for (std::size_t i = 0; i < count; ++i) {
      hashes[i] = Hash(texts[i]);
      __builtin_prefetch(&slots_[hashes[i] & (slots_.size() - 1)]);
    }
    for (std::size_t i = 0; i < count; ++i) {
      const std::uint64_t slot = slots_[SlotOf(texts[i], hashes[i])];
      if (slot != 0)
        found(i, IdOf(slot));
    }
  }

 private:
  // A slot holds the hash's high half and the id + 1 (0: free).
  static constexpr std::uint64_t kTagMask = 0xFFFFFFFF00000000ULL;

  static std::uint64_t Hash(std::string_view text) { return StringPool::Hash(text); }
  static std::uint32_t IdOf(std::uint64_t slot) {
    return static_cast<std::uint32_t>((slot & ~kTagMask) - 1);
  }
  std::size_t SlotOf(std::string_view text, std::uint64_t hash) const {
    const std::size_t mask = slots_.size() - 1;
    for (std::size_t i = hash & mask;; i = (i + 1) & mask) {
      const std::uint64_t slot = slots_[i];
      if (slot == 0 || ((slot & kTagMask) == (hash & kTagMask) && texts_[IdOf(slot)] == text))
        return i;
    }
  }

  Array<std::uint64_t> slots_;
  Array<std::string_view> texts_;
};

// Texts of two tables compare as their files' bytes decode; with one encoding the bytes do.
class CellKeys {
 public:
  CellKeys(const LogTable& downloads, const LogTable& uploads)
      : decode_(downloads.TextEncoding() != uploads.TextEncoding()) {}
  // The key of a cell, valid as long as this object.
  std::string_view Of(const LogTable& table, std::string_view bytes) {
    if (!decode_)
      return bytes;
    return kept_.emplace_back(DecodeToUtf8(bytes, table.TextEncoding()));
  }
  // The key of a cell, valid until the next call with the same `slot`.
  std::string_view Of(const LogTable& table, std::string_view bytes, std::string& slot) const {
    if (!decode_)
      return bytes;
    slot = DecodeToUtf8(bytes, table.TextEncoding());
    return slot;
  }

 private:
  bool decode_;
  std::deque<std::string> kept_;
};

// For each name id of the table, the user (index into `users`) it stands for.
std::vector<std::uint32_t> UsersByNameId(const LogTable& table,
                                         const std::vector<std::string_view>& users) {
  std::vector<std::uint32_t> byId(table.NameIdCount(), kNobody);
  for (std::size_t user = 0; user < users.size(); ++user) {
    if (const auto id = table.FindName(users[user]))
      byId[*id] = static_cast<std::uint32_t>(user);
  }
  return byId;
}

// The files the users uploaded, each with its first uploader; a file that several users uploaded
// is rare, so its other uploaders go into a set of (file, user).
struct Uploads {
  explicit Uploads(std::size_t rows) : files(rows) {}

  void Index(const LogTable& uploads, const std::vector<std::uint32_t>& uploaders, CellKeys& keys) {
    for (std::size_t row = 0; row < uploads.RowCount(); ++row) {
      const std::uint32_t user = uploaders[uploads.NameId(row)];
      if (user == kNobody)
        continue;
      const std::uint32_t file = files.Add(keys.Of(uploads, uploads.FileNameBytes(row)));
      if (file == firstUploader.size()) {
        firstUploader.push_back(user);
      } else if (firstUploader[file] != user) {
        otherUploaders.Insert(Pair(file, user));
      }
    }
  }

  TextIndex files;
  Array<std::uint32_t> firstUploader;
  KeySet otherUploaders;
};

// How often the uploaded files were downloaded: by anyone, by their first uploader, and by each
// of their other uploaders.
struct Fetches {
  Array<std::uint32_t> byAnyone;
  Array<std::uint32_t> byFirstUploader;
  std::unordered_map<std::uint64_t, std::size_t> byOtherUploader;
};

// Counts the fetches of the uploaded files among download rows [begin, end).
Fetches CountFetches(const LogTable& downloads, std::size_t begin, std::size_t end,
                     const std::vector<std::uint32_t>& downloaders, const Uploads& uploads,
                     const CellKeys& keys) {
  Fetches fetches;
  fetches.byAnyone.assign(uploads.files.Size(), 0);
  fetches.byFirstUploader.assign(uploads.files.Size(), 0);
  if (uploads.files.Size() == 0)
    return fetches;
  std::string_view batch[TextIndex::kBatch];
  std::string decoded[TextIndex::kBatch];
  for (std::size_t first = begin; first < end; first += TextIndex::kBatch) {
    const std::size_t count = std::min(TextIndex::kBatch, end - first);
    for (std::size_t i = 0; i < count; ++i)
      batch[i] = keys.Of(downloads, downloads.FileNameBytes(first + i), decoded[i]);
    uploads.files.FindBatch(batch, count, [&](std::size_t i, std::uint32_t file) {
      ++fetches.byAnyone[file];
      const std::uint32_t user = downloaders[downloads.NameId(first + i)];
      if (user == kNobody)
        return;
      if (user == uploads.firstUploader[file]) {
        ++fetches.byFirstUploader[file];
      } else if (uploads.otherUploaders.Contains(Pair(file, user))) {
        ++fetches.byOtherUploader[Pair(file, user)];
      }
    });
  }
  return fetches;
}

void Merge(Fetches& into, const Fetches& from) {
  for (std::size_t file = 0; file < into.byAnyone.size(); ++file) {
    into.byAnyone[file] += from.byAnyone[file];
    into.byFirstUploader[file] += from.byFirstUploader[file];
  }
  for (const auto& [key, count] : from.byOtherUploader)
    into.byOtherUploader[key] += count;
}

void AddCredit(const Uploads& uploaded, Fetches& fetches, std::vector<UserFigures>& figures) {
  for (std::uint32_t file = 0; file < uploaded.firstUploader.size(); ++file) {
    figures[uploaded.firstUploader[file]].credit +=
        fetches.byAnyone[file] - fetches.byFirstUploader[file];
  }
  uploaded.otherUploaders.ForEach([&](std::uint64_t key) {
    const auto file = static_cast<std::uint32_t>(key >> 32);
    figures[static_cast<std::uint32_t>(key)].credit +=
        fetches.byAnyone[file] - fetches.byOtherUploader[key];
  });
}

// Counts each user's rows of the table and widens their first and last seen by the rows' dates.
void CountRows(const LogTable& table, const std::vector<std::uint32_t>& usersById,
               std::size_t UserFigures::*count, std::vector<UserFigures>& figures) {
  for (std::size_t row = 0; row < table.RowCount(); ++row) {
    const std::uint32_t user = usersById[table.NameId(row)];
    if (user == kNobody)
      continue;
    UserFigures& figure = figures[user];
    ++(figure.*count);
    const Timestamp date = table.Date(row);
    if (date != kUndated) {
      if (figure.firstSeen == kUndated || date < figure.firstSeen)
        figure.firstSeen = date;
      if (figure.lastSeen == kUndated || date > figure.lastSeen)
        figure.lastSeen = date;
    }
  }
}

// The distinct Address texts of each user over both tables: one id space for both tables (the
// download table's ids come first and stay as they are: its texts are distinct), then the
// distinct (user, address) pairs.
void CountAddresses(const LogTable& downloads, const LogTable& uploads,
                    const std::vector<std::uint32_t>& downloaders,
                    const std::vector<std::uint32_t>& uploaders, const CellKeys& keys,
                    std::vector<UserFigures>& figures) {
  StringPool addressTexts;
  std::string decoded;
  for (std::uint32_t id = 0; id < downloads.AddressIdCount(); ++id)
    addressTexts.Intern(keys.Of(downloads, downloads.AddressText(id), decoded));
  std::vector<std::uint32_t> uploadAddress(uploads.AddressIdCount());
  for (std::uint32_t id = 0; id < uploads.AddressIdCount(); ++id)
    uploadAddress[id] = addressTexts.Intern(keys.Of(uploads, uploads.AddressText(id), decoded));

  KeySet userAddresses;
  const auto count = [&](const LogTable& table, const std::vector<std::uint32_t>& usersById,
                         auto addressOf) {
    for (std::size_t row = 0; row < table.RowCount(); ++row) {
      const std::uint32_t user = usersById[table.NameId(row)];
      if (user != kNobody && userAddresses.Insert(Pair(user, addressOf(table.AddressId(row)))))
        ++figures[user].addresses;
    }
  };
  count(downloads, downloaders, [](std::uint32_t id) { return id; });
  count(uploads, uploaders, [&](std::uint32_t id) { return uploadAddress[id]; });
}

}  // namespace

std::vector<UserFigures> ComputeUserFigures(const LogTable& downloads, const LogTable& uploads,
                                            const std::vector<std::string>& names) {
  // A name asked for twice is one user.
  std::vector<std::string_view> users;
  std::vector<std::uint32_t> userOfName;
  std::unordered_map<std::string_view, std::uint32_t> seen;
  for (const std::string& name : names) {
    const auto [it, added] = seen.try_emplace(name, static_cast<std::uint32_t>(users.size()));
    if (added)
      users.push_back(name);
    userOfName.push_back(it->second);
  }
  const std::vector<std::uint32_t> downloaders = UsersByNameId(downloads, users);
  const std::vector<std::uint32_t> uploaders = UsersByNameId(uploads, users);
  CellKeys keys(downloads, uploads);
  std::vector<UserFigures> figures(users.size());
  CountRows(downloads, downloaders, &UserFigures::downloads, figures);
  CountRows(uploads, uploaders, &UserFigures::uploads, figures);
  Uploads uploaded(uploads.RowCount());
  const auto index = [&] { uploaded.Index(uploads, uploaders, keys); };
  // Big tables share the work between two cores: one indexes the uploaded files while the other
  // counts addresses, then each looks up half of the downloaded files.
  Fetches fetches;
  if (downloads.RowCount() + uploads.RowCount() >= kRowsWorthAThread) {
    auto indexing = std::async(std::launch::async, index);
    CountAddresses(downloads, uploads, downloaders, uploaders, keys, figures);
    indexing.get();
    const std::size_t half = downloads.RowCount() / 2;
    auto firstHalf = std::async(std::launch::async, [&] {
      return CountFetches(downloads, 0, half, downloaders, uploaded, keys);
    });
    const Fetches secondHalf =
        CountFetches(downloads, half, downloads.RowCount(), downloaders, uploaded, keys);
    fetches = firstHalf.get();
    Merge(fetches, secondHalf);
  } else {
    index();
    CountAddresses(downloads, uploads, downloaders, uploaders, keys, figures);
    fetches = CountFetches(downloads, 0, downloads.RowCount(), downloaders, uploaded, keys);
  }
  AddCredit(uploaded, fetches, figures);

  std::vector<UserFigures> result;
  result.reserve(names.size());
  for (std::size_t i = 0; i < names.size(); ++i) {
    UserFigures& user = result.emplace_back(figures[userOfName[i]]);
    user.name = names[i];
  }
  return result;
}

}  // namespace quorvane
