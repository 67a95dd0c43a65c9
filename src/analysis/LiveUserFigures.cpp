#include "analysis/LiveUserFigures.h"

#include <algorithm>
#include <bit>
#include <numeric>
#include <tuple>
#include <utility>

#include "analysis/HashIndex.h"
#include "logs/TextEncoding.h"
#include "logs/UserList.h"

namespace quorvane {

namespace {

constexpr std::uint32_t kNone = UINT32_MAX;

// Takes one `value` out of `values`, whose order does not matter.
template <typename T>
void TakeOne(std::vector<T>& values, T value) {
  const auto it = std::find(values.rbegin(), values.rend(), value);
  if (it != values.rend()) {
    *it = values.back();
    values.pop_back();
  }
}

}  // namespace

void LiveUserFigures::DateEnds::Add(Timestamp date) {
  // A side that holds every date, or that the date falls within, takes it and keeps its few.
  const bool everyLow = low_.count == dated_, everyHigh = high_.count == dated_;
  ++dated_;
  if (everyLow || date < low_.end()[-1]) {
    Timestamp* at = std::upper_bound(low_.begin(), low_.end(), date);
    if (low_.count < kKept)
      ++low_.count;
    if (at != low_.end()) {
      std::copy_backward(at, low_.end() - 1, low_.end());
      *at = date;
    }
  }
  if (everyHigh || date > *high_.begin()) {
    Timestamp* at = std::upper_bound(high_.begin(), high_.end(), date);
    if (high_.count < kKept) {
      std::copy_backward(at, high_.end(), high_.end() + 1);
      ++high_.count;
      *at = date;
    } else if (at != high_.begin()) {
      std::copy(high_.begin() + 1, at, high_.begin());
      at[-1] = date;
    }
  }
}

void LiveUserFigures::DateEnds::Remove(Timestamp date) {
  --dated_;
  for (Side* side : {&low_, &high_}) {
    Timestamp* at = std::lower_bound(side->begin(), side->end(), date);
    if (at != side->end() && *at == date) {
      std::copy(at + 1, side->end(), at);
      --side->count;
    }
  }
}

void LiveUserFigures::DateEnds::Merge(const DateEnds& other) {
  // The dates of both sides that no date either one left out could come before (after).
  Timestamp lowest = INT64_MAX, highest = INT64_MIN;
  for (const DateEnds* ends : {static_cast<const DateEnds*>(this), &other}) {
    if (ends->low_.count < ends->dated_)
      lowest = std::min(lowest, ends->low_.end()[-1]);
    if (ends->high_.count < ends->dated_)
      highest = std::max(highest, *ends->high_.begin());
  }
  std::array<Timestamp, 2 * kKept> low, high;
  Timestamp* lowEnd =
      std::merge(low_.begin(), low_.end(), other.low_.begin(), other.low_.end(), low.begin());
  Timestamp* highEnd =
      std::merge(high_.begin(), high_.end(), other.high_.begin(), other.high_.end(), high.begin());
  lowEnd = std::min(std::upper_bound(low.begin(), lowEnd, lowest), low.begin() + kKept);
  Timestamp* highBegin =
      std::max(std::lower_bound(high.begin(), highEnd, highest),
               highEnd - std::min<std::ptrdiff_t>(highEnd - high.begin(), kKept));
  low_.count =
      static_cast<std::uint32_t>(std::copy(low.begin(), lowEnd, low_.begin()) - low_.begin());
  high_.count =
      static_cast<std::uint32_t>(std::copy(highBegin, highEnd, high_.begin()) - high_.begin());
  dated_ += other.dated_;
}

void LiveUserFigures::DateEnds::Refill(std::vector<Timestamp> dates) {
  dated_ = static_cast<std::uint32_t>(dates.size());
  const auto kept = static_cast<std::ptrdiff_t>(std::min<std::size_t>(kKept, dates.size()));
  low_.count = high_.count = static_cast<std::uint32_t>(kept);
  if (kept == 0)
    return;
  std::nth_element(dates.begin(), dates.begin() + kept - 1, dates.end());
  std::sort(dates.begin(), dates.begin() + kept);
  std::copy(dates.begin(), dates.begin() + kept, low_.begin());
  std::nth_element(dates.begin(), dates.end() - kept, dates.end());
  std::sort(dates.end() - kept, dates.end());
  std::copy(dates.end() - kept, dates.end(), high_.begin());
}

void LiveUserFigures::PairCounts::Reserve(std::size_t more) {
  // At most three quarters full: a big history has millions of (user, address) pairs.
  if ((size_ + more) * 4 > keys_.size() * 3) {
    auto keys = std::move(keys_);
    auto counts = std::move(counts_);
    keys_.assign(std::max<std::size_t>(std::bit_ceil((size_ + more) * 4 / 3 + 1), 1024), kEmpty);
    counts_.assign(keys_.size(), 0);
    for (std::size_t i = 0; i < keys.size(); ++i) {
      if (keys[i] != kEmpty) {
        const std::size_t slot = SlotOf(keys[i]);
        keys_[slot] = keys[i];
        counts_[slot] = counts[i];
      }
    }
  }
}

std::pair<std::uint32_t*, bool> LiveUserFigures::PairCounts::Get(std::uint64_t key) {
  Reserve(1);
  const std::size_t slot = SlotOf(key);
  const bool added = keys_[slot] == kEmpty;
  if (added) {
    keys_[slot] = key;
    ++size_;
  }
  return {&counts_[slot], added};
}

std::uint32_t LiveUserFigures::PairCounts::Count(std::uint64_t key) const {
  return keys_.empty() ? 0 : counts_[SlotOf(key)];
}

void LiveUserFigures::PairCounts::Prefetch(std::uint64_t key) const {
  if (keys_.empty())
    return;
  const std::size_t slot = detail::KeyHash(key) & (keys_.size() - 1);
  __builtin_prefetch(&keys_[slot]);
  __builtin_prefetch(&counts_[slot]);
}

std::size_t LiveUserFigures::PairCounts::SlotOf(std::uint64_t key) const {
  return detail::KeySlot(keys_, key);
}

LiveUserFigures::LiveUserFigures(const LogTable& downloads, const LogTable& uploads,
                                 const std::atomic<bool>* cancel)
    : cancel_(cancel) {
  // Uploads first: each download then credits the uploaders its file has, and no upload needs
  // to count its user's fetches of the file.
  AddRows(LogKind::Upload, uploads, 0, uploads.RowCount());
  if (complete_)
    AddRows(LogKind::Download, downloads, 0, downloads.RowCount());
  cancel_ = nullptr;
}

void LiveUserFigures::AddRows(LogKind table, const LogTable& rows, std::size_t first,
                              std::size_t last) {
  last = std::min(last, rows.RowCount());
  if (first >= last)
    return;
  const std::size_t count = last - first;
  if (count < 4096 || count < rows.NameIdCount() + rows.AddressIdCount()) {
    for (std::size_t row = first; row < last; ++row)
      Change(table, rows, row, +1, IdsOf(rows, row));
    return;
  }
  // Many rows (a load): each distinct name and address is looked up once, by the table's own
  // ids, and each user's arrays are sized once.
  std::vector<std::uint32_t> users(rows.NameIdCount(), kNone);
  std::vector<std::uint32_t> addresses(rows.AddressIdCount(), kNone);
  std::vector<std::uint32_t> rowsOf(rows.NameIdCount(), 0);
  for (std::size_t row = first; row < last; ++row)
    ++rowsOf[rows.NameId(row)];
  for (std::uint32_t id = 0; id < rowsOf.size(); ++id) {
    if (rowsOf[id] == 0)
      continue;
    users[id] = UserOf(rows.NameText(id));
    User& user = users_[users[id]];
    if (table == LogKind::Download)
      user.fetched.reserve(user.fetched.size() + rowsOf[id]);
  }
  rowsOf = {};
  // Downloads credit the uploaders of their files once all are in: by file, not by row, as a
  // file may have many uploaders.
  const bool download = table == LogKind::Download;
  std::vector<std::uint32_t> fetches, fetchedBefore;
  if (download) {
    for (const User& user : users_)
      fetchedBefore.push_back(static_cast<std::uint32_t>(user.fetched.size()));
  }
  // Room for a pair an upload row: the list is not grown step by step. When files have many
  // upload rows each, the rows go file by file (a popular file has many uploaders, and walking
  // its list for each row would cost their square): a row finds its pair with the file by its
  // user, and a file's new pairs lie next to each other.
  FilePairs pairs;
  struct Unindex {
    FilePairs*& pairs;
    ~Unindex() { pairs = nullptr; }
  } unindex{bulkPairs_};
  std::vector<std::uint32_t> byFile;  // the rows, file by file, in order within a file
  if (!download) {
    uploads_.reserve(uploads_.size() + count);
    std::vector<std::uint32_t> start(rows.FileNameIdCount() + 1, 0);
    for (std::size_t row = first; row < last; ++row)
      ++start[rows.FileNameId(row) + 1];
    const auto files = static_cast<std::size_t>(
        std::count_if(start.begin() + 1, start.end(), [](std::uint32_t n) { return n != 0; }));
    if (count > 4 * files) {
      std::partial_sum(start.begin(), start.end(), start.begin());
      byFile.resize(count);
      for (std::size_t row = first; row < last; ++row)
        byFile[start[rows.FileNameId(row)]++] = static_cast<std::uint32_t>(row);
      pairs.at.assign(users_.size(), kNone);
      pairs.file.assign(users_.size(), kNone);
      bulkPairs_ = &pairs;
    }
  }
  // Files by the table's ids: its own while shared, else each distinct text looked up once.
  const bool shared = SharedFiles(rows);
  std::vector<std::uint32_t> filesById;
  if (shared) {
    fileCounts_.resize(std::max(fileCounts_.size(), rows.FileNameIdCount()));
    if (download)
      fetches.assign(fileCounts_.size(), 0);
  } else
    filesById.assign(rows.FileNameIdCount(), kNone);
  constexpr std::size_t kAhead = 8;
  const auto rowAt = [&](std::size_t k) -> std::size_t {
    return byFile.empty() ? first + k : byFile[k];
  };
  for (std::size_t k = 0; k < count; ++k) {
    const std::size_t row = rowAt(k);
    if (cancel_ != nullptr && k % 4096 == 0 && cancel_->load(std::memory_order_relaxed)) {
      complete_ = false;
      return;
    }
    if (k + kAhead < count) {
      // What the row a few ahead counts into: its file's counts, its user's address.
      const std::size_t ahead = rowAt(k + kAhead);
      const std::uint32_t user = users[rows.NameId(ahead)];
      const std::uint32_t address = addresses[rows.AddressId(ahead)];
      if (address != kNone)
        userAddresses_.Prefetch(Pair(user, address));
      if (shared) {
        __builtin_prefetch(&fileCounts_[rows.FileNameId(ahead)]);
        if (download)
          __builtin_prefetch(&fetches[rows.FileNameId(ahead)]);
      }
    }
    std::uint32_t file;
    if (shared) {
      file = rows.FileNameId(row);
    } else {
      std::uint32_t& known = filesById[rows.FileNameId(row)];
      if (known == kNone)
        known = FileOf(rows, row);
      file = known;
    }
    std::uint32_t& address = addresses[rows.AddressId(row)];
    if (address == kNone)
      address = AddressOf(rows, rows.Address(row));
    const std::uint32_t user = users[rows.NameId(row)];
    Change(table, rows, row, +1, {user, address, file}, !download);
    if (download && fileCounts_[file].uploads != kNone) {  // a file someone uploaded
      if (fetches.size() <= file)
        fetches.resize(fileCounts_.size(), 0);
      ++fetches[file];
    }
  }
  if (download)
    Credit(fetches, fetchedBefore);
}

void LiveUserFigures::Credit(const std::vector<std::uint32_t>& fetches,
                             const std::vector<std::uint32_t>& fetchedBefore) {
  for (std::uint32_t file = 0; file < fetches.size(); ++file) {
    if (fetches[file] == 0)
      continue;
    ForEachUploader(file, [&](std::uint32_t uploader) {
      credit_[uploader] += fetches[file];
      Touch(uploader);
    });
  }
  // Each uploader's own fetches of its files earn nothing: its files marked, its new downloads
  // read once. Its files are those of its pairs with a count, gathered from the files' lists in
  // one pass (by user: [firstOf[u], next[u]) in `uploaded`).
  std::vector<std::uint32_t> firstOf(users_.size() + 1, 0);
  for (std::uint32_t file = 0; file < fileCounts_.size(); ++file) {
    for (std::uint32_t at = fileCounts_[file].uploads; at != kNone; at = uploads_[at].next)
      firstOf[uploads_[at].user + 1] += uploads_[at].count != 0;
  }
  std::partial_sum(firstOf.begin(), firstOf.end(), firstOf.begin());
  std::vector<std::uint32_t> uploaded(firstOf.back()), next(firstOf.begin(), firstOf.end() - 1);
  for (std::uint32_t file = 0; file < fileCounts_.size(); ++file) {
    for (std::uint32_t at = fileCounts_[file].uploads; at != kNone; at = uploads_[at].next) {
      if (uploads_[at].count != 0)
        uploaded[next[uploads_[at].user]++] = file;
    }
  }
  std::vector<std::uint32_t> uploadedBy(fetches.size(), kNone);
  for (std::uint32_t u = 0; u < fetchedBefore.size(); ++u) {
    User& user = users_[u];
    if (firstOf[u] == next[u] || fetchedBefore[u] == user.fetched.size())
      continue;
    for (std::uint32_t i = firstOf[u]; i < next[u]; ++i) {
      if (uploaded[i] < uploadedBy.size())
        uploadedBy[uploaded[i]] = u;
    }
    for (std::size_t i = fetchedBefore[u]; i < user.fetched.size(); ++i) {
      if (i + 16 < user.fetched.size() && user.fetched[i + 16] < uploadedBy.size())
        __builtin_prefetch(&uploadedBy[user.fetched[i + 16]]);
      const std::uint32_t file = user.fetched[i];
      if (file < uploadedBy.size() && uploadedBy[file] == u)
        --credit_[u];
    }
  }
}

void LiveUserFigures::RemoveRow(LogKind table, const LogTable& downloads, const LogTable& uploads,
                                std::size_t row) {
  const LogTable& rows = table == LogKind::Download ? downloads : uploads;
  if (row >= rows.RowCount() || !byName_.contains(std::string(rows.Name(row))))
    return;
  const Ids ids = IdsOf(rows, row);
  Change(table, rows, row, -1, ids);
  User& user = users_[ids.user];
  if (!user.dates.RanOut())
    return;
  // Its earliest or latest dates all went: every dated row of the user but this one, once.
  std::vector<Timestamp> dates;
  for (const LogTable* other : {&downloads, &uploads}) {
    const std::optional<std::uint32_t> name = other->FindName(user.name);
    if (!name || !other->HasDates())
      continue;
    for (std::size_t at = 0; at < other->RowCount(); ++at) {
      if (other->NameId(at) == *name && (other != &rows || at != row) &&
          other->Date(at) != kUndated)
        dates.push_back(other->Date(at));
    }
  }
  user.dates.Refill(std::move(dates));
}

std::string_view LiveUserFigures::Utf8Of(const LogTable& rows, std::string_view bytes,
                                         std::string& scratch) {
  // Both code pages read ASCII as ASCII.
  if (rows.TextEncoding() == Encoding::Utf8 ||
      std::all_of(bytes.begin(), bytes.end(), [](char c) { return (c & 0x80) == 0; }))
    return bytes;
  scratch = DecodeToUtf8(bytes, rows.TextEncoding());
  return scratch;
}

std::uint32_t LiveUserFigures::AddressOf(const LogTable& rows, std::string_view bytes) {
  std::string scratch;
  return addressIds_.Intern(Utf8Of(rows, bytes, scratch));
}

bool LiveUserFigures::SharedFiles(const LogTable& rows) {
  if (ownFiles_)
    return false;
  std::shared_ptr<const StringPool> files = rows.FileNames();
  if (!sharedFiles_) {
    sharedFiles_ = std::move(files);
    fileEncoding_ = rows.TextEncoding();
    return true;
  }
  if (files == sharedFiles_ && rows.TextEncoding() == fileEncoding_)
    return true;
  // Decoding is one-to-one, so each text keeps its id.
  ownFiles_ = std::make_unique<StringPool>();
  for (std::uint32_t id = 0; id < sharedFiles_->Size(); ++id) {
    const std::string_view text = sharedFiles_->Text(id);
    ownFiles_->Intern(fileEncoding_ == Encoding::Utf8 ? std::string(text)
                                                      : DecodeToUtf8(text, fileEncoding_));
  }
  sharedFiles_.reset();
  return false;
}

std::uint32_t LiveUserFigures::FileOf(const LogTable& rows, std::size_t row) {
  std::uint32_t id;
  if (SharedFiles(rows)) {
    id = rows.FileNameId(row);
    if (id >= fileCounts_.size())
      fileCounts_.resize(rows.FileNameIdCount());
  } else {
    std::string scratch;
    id = ownFiles_->Intern(Utf8Of(rows, rows.FileNameBytes(row), scratch));
    if (id >= fileCounts_.size())
      fileCounts_.resize(id + 1);
  }
  return id;
}

LiveUserFigures::Ids LiveUserFigures::IdsOf(const LogTable& rows, std::size_t row) {
  return {UserOf(rows.Name(row)), AddressOf(rows, rows.Address(row)), FileOf(rows, row)};
}

std::uint32_t LiveUserFigures::UserOf(std::string_view name) {
  const auto [it, added] = byName_.try_emplace(std::string(name), 0);
  if (added) {
    ordered_ = false;
    it->second = static_cast<std::uint32_t>(users_.size());
    users_.emplace_back().name = name;
    credit_.push_back(0);
  }
  return it->second;
}

template <typename Visit>
void LiveUserFigures::ForEachUploader(std::uint32_t file, Visit visit) const {
  for (std::uint32_t at = fileCounts_[file].uploads; at != kNone; at = uploads_[at].next) {
    if (uploads_[at].count != 0)
      visit(uploads_[at].user);
  }
}

bool LiveUserFigures::Uploaded(std::uint32_t file, std::uint32_t user) const {
  for (std::uint32_t at = fileCounts_[file].uploads; at != kNone; at = uploads_[at].next) {
    if (uploads_[at].user == user)
      return uploads_[at].count != 0;
  }
  return false;
}

std::pair<std::uint32_t*, bool> LiveUserFigures::UploadsOf(std::uint32_t file, std::uint32_t user) {
  if (bulkPairs_) {
    FilePairs& pairs = *bulkPairs_;
    if (pairs.file[user] == file)
      return {&uploads_[pairs.at[user]].count, false};
    // The file's first row here: what its list held before. Those pairs are the only ones to walk
    // for; the rows of this file add theirs in front of them.
    if (pairs.current != file) {
      pairs.current = file;
      pairs.before = fileCounts_[file].uploads;
    }
    pairs.file[user] = file;
    for (std::uint32_t at = pairs.before; at != kNone; at = uploads_[at].next) {
      if (uploads_[at].user == user)
        return {&uploads_[pairs.at[user] = at].count, false};
    }
    pairs.at[user] = static_cast<std::uint32_t>(uploads_.size());
    uploads_.push_back({user, 0, fileCounts_[file].uploads});  // first in its file's list
    fileCounts_[file].uploads = pairs.at[user];
    return {&uploads_[pairs.at[user]].count, true};
  }
  std::uint32_t last = kNone;
  for (std::uint32_t at = fileCounts_[file].uploads; at != kNone; at = uploads_[at].next) {
    if (uploads_[at].user == user)
      return {&uploads_[at].count, false};
    last = at;
  }
  const auto added = static_cast<std::uint32_t>(uploads_.size());
  uploads_.push_back({user, 0, kNone});
  (last == kNone ? fileCounts_[file].uploads : uploads_[last].next) = added;
  return {&uploads_[added].count, true};
}

std::size_t LiveUserFigures::CreditOf(std::uint32_t file, const User& user) const {
  return fileCounts_[file].downloads -
         static_cast<std::size_t>(std::count(user.fetched.begin(), user.fetched.end(), file));
}

// Inlined: a load takes a million rows through it, about a tenth faster than through a call.
[[gnu::always_inline]] inline void LiveUserFigures::Change(LogKind table, const LogTable& rows,
                                                           std::size_t row, int step, Ids ids,
                                                           bool credit) {
  const std::uint32_t u = ids.user;
  User& user = users_[u];
  const std::uint32_t file = ids.file;
  const Timestamp date = rows.Date(row);
  const bool download = table == LogKind::Download;
  Touch(u);
  const auto [seen, newAddress] = userAddresses_.Get(Pair(u, ids.address));
  if (newAddress)
    user.seenAt.push_back(ids.address);
  if (step > 0) {
    ++(download ? user.downloads : user.uploads);
    if (date != kUndated)
      user.dates.Add(date);
    if ((*seen)++ == 0)
      ++user.addresses;
    if (download) {
      ++fileCounts_[file].downloads;
      user.fetched.push_back(file);
      if (!credit)
        return;
      // Every other uploader of the file has one fetch more of what they brought.
      ForEachUploader(file, [&](std::uint32_t uploader) {
        if (uploader != u) {
          ++credit_[uploader];
          Touch(uploader);
        }
      });
    } else {
      const auto [uploads, newFile] = UploadsOf(file, u);
      if (newFile)
        user.sent.push_back(file);
      if ((*uploads)++ == 0)
        credit_[u] += CreditOf(file, user);
    }
    return;
  }
  --(download ? user.downloads : user.uploads);
  if (date != kUndated)
    user.dates.Remove(date);
  if (--*seen == 0)
    --user.addresses;
  if (download) {
    --fileCounts_[file].downloads;
    TakeOne(user.fetched, file);
    ForEachUploader(file, [&](std::uint32_t uploader) {
      if (uploader != u) {
        --credit_[uploader];
        Touch(uploader);
      }
    });
  } else {
    if (--*UploadsOf(file, u).first == 0)
      credit_[u] -= CreditOf(file, user);
  }
  if (user.downloads + user.uploads == 0) {
    ordered_ = false;
    byName_.erase(user.name);
    user = User();
  }
}

void LiveUserFigures::Rename(std::string_view from, std::string_view to) {
  const auto found = byName_.find(std::string(from));
  if (from == to || found == byName_.end())
    return;
  const std::uint32_t a = found->second;
  ordered_ = false;
  byName_.erase(found);
  const auto [target, added] = byName_.try_emplace(std::string(to), a);
  if (added) {  // a new name: the same figures under it
    users_[a].name = to;
    return;
  }
  const std::uint32_t b = target->second;
  User gone = std::move(users_[a]);
  users_[a] = User();
  User& into = users_[b];
  into.downloads += gone.downloads;
  into.uploads += gone.uploads;
  into.dates.Merge(gone.dates);
  for (const std::uint32_t address : gone.seenAt) {
    const std::uint32_t moved = std::exchange(*userAddresses_.Get(Pair(a, address)).first, 0);
    if (moved == 0)
      continue;
    const auto [count, newAddress] = userAddresses_.Get(Pair(b, address));
    if (newAddress)
      into.seenAt.push_back(address);
    if (*count == 0)
      ++into.addresses;
    *count += moved;
  }
  // Other uploaders keep their credit: a file's fetches and theirs do not change.
  for (const std::uint32_t file : gone.sent) {
    const std::uint32_t moved = std::exchange(*UploadsOf(file, a).first, 0);
    if (moved == 0)
      continue;
    const auto [count, newFile] = UploadsOf(file, b);
    if (newFile)
      into.sent.push_back(file);
    *count += moved;
  }
  into.fetched.insert(into.fetched.end(), gone.fetched.begin(), gone.fetched.end());
  // The merged user's credit, counted afresh over a sorted copy of its downloads.
  std::vector<std::uint32_t> fetched = into.fetched;
  std::sort(fetched.begin(), fetched.end());
  credit_[a] = 0;
  std::size_t& credit = credit_[b];
  credit = 0;
  for (const std::uint32_t file : into.sent) {
    if (Uploaded(file, b)) {
      const auto [low, high] = std::equal_range(fetched.begin(), fetched.end(), file);
      credit += fileCounts_[file].downloads - static_cast<std::size_t>(high - low);
    }
  }
}

UserFigures LiveUserFigures::FiguresOf(std::uint32_t id) const {
  const User& user = users_[id];
  UserFigures figures;
  figures.name = user.name;
  figures.downloads = user.downloads;
  figures.uploads = user.uploads;
  figures.credit = credit_[id];
  figures.addresses = user.addresses;
  std::tie(figures.firstSeen, figures.lastSeen) = user.dates.Range();
  return figures;
}

std::optional<UserFigures> LiveUserFigures::Find(std::string_view name) const {
  const auto it = byName_.find(std::string(name));
  if (it == byName_.end())
    return std::nullopt;
  return FiguresOf(it->second);
}

std::vector<UserFigures> LiveUserFigures::Figures() const {
  if (!ordered_) {
    std::vector<std::string> names;
    names.reserve(byName_.size());
    for (const auto& [name, id] : byName_)
      names.push_back(name);
    SortForDisplay(names);
    order_.clear();
    for (const std::string& name : names)
      order_.push_back(byName_.at(name));
    ordered_ = true;
    place_.assign(users_.size(), 0);
    touched_.assign(users_.size(), false);
    changed_.clear();
    figures_.clear();
    figures_.reserve(order_.size());
    for (std::size_t i = 0; i < order_.size(); ++i) {
      place_[order_[i]] = static_cast<std::uint32_t>(i);
      figures_.push_back(FiguresOf(order_[i]));
    }
  }
  for (const std::uint32_t id : changed_) {
    figures_[place_[id]] = FiguresOf(id);
    touched_[id] = false;
  }
  changed_.clear();
  return figures_;
}

}  // namespace quorvane
