#include "analysis/UserFigures.h"

#include <algorithm>
#include <bit>
#include <cstdint>
#include <deque>
#include <future>
#include <limits>
#include <string_view>
#include <unordered_map>

#include "analysis/HashIndex.h"

namespace quorvane {

namespace {

using namespace detail;

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
// is rare, so its other uploaders go into a set of (file, user). Files are found by their text,
// or by their id where both tables share their File Names (`byId`).
struct Uploads {
  Uploads(const LogTable& downloads, const LogTable& uploads)
      : files(downloads.SharesFileNames(uploads) ? 0 : uploads.RowCount()) {
    if (downloads.SharesFileNames(uploads))
      byId.assign(uploads.FileNameIdCount(), kNobody);
  }
  bool ById() const { return !byId.empty(); }

  void Index(const LogTable& uploads, const std::vector<std::uint32_t>& uploaders, CellKeys& keys) {
    const auto added = [&](std::uint32_t file, std::uint32_t user) {
      if (file == firstUploader.size()) {
        firstUploader.push_back(user);
      } else if (firstUploader[file] != user) {
        otherUploaders.Insert(Pair(file, user));
      }
    };
    if (ById()) {
      for (std::size_t row = 0; row < uploads.RowCount(); ++row) {
        const std::uint32_t user = uploaders[uploads.NameId(row)];
        if (user == kNobody)
          continue;
        std::uint32_t& file = byId[uploads.FileNameId(row)];
        if (file == kNobody)
          file = static_cast<std::uint32_t>(firstUploader.size());
        added(file, user);
      }
      return;
    }
    std::string_view texts[TextIndex::kBatch];
    std::uint32_t users[TextIndex::kBatch];
    std::size_t count = 0;
    const auto add = [&] {
      files.AddBatch(texts, count,
                     [&](std::size_t i, std::uint32_t file) { added(file, users[i]); });
      count = 0;
    };
    for (std::size_t row = 0; row < uploads.RowCount(); ++row) {
      const std::uint32_t user = uploaders[uploads.NameId(row)];
      if (user == kNobody)
        continue;
      texts[count] = keys.Of(uploads, uploads.FileNameBytes(row));
      users[count] = user;
      if (++count == TextIndex::kBatch)
        add();
    }
    add();
  }

  TextIndex files;
  std::vector<std::uint32_t> byId;  // by File Name id: the file, or kNobody
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
  const std::size_t files = uploads.firstUploader.size();
  fetches.byAnyone.assign(files, 0);
  fetches.byFirstUploader.assign(files, 0);
  if (files == 0)
    return fetches;
  const auto fetched = [&](std::size_t row, std::uint32_t file) {
    ++fetches.byAnyone[file];
    const std::uint32_t user = downloaders[downloads.NameId(row)];
    if (user == kNobody)
      return;
    if (user == uploads.firstUploader[file]) {
      ++fetches.byFirstUploader[file];
    } else if (uploads.otherUploaders.Contains(Pair(file, user))) {
      ++fetches.byOtherUploader[Pair(file, user)];
    }
  };
  if (uploads.ById()) {
    // A file's id is looked up a few rows ahead: half a million of them lie anywhere.
    constexpr std::size_t kAhead = 16;
    const std::vector<std::uint32_t>& byId = uploads.byId;
    for (std::size_t row = begin; row < end; ++row) {
      if (row + kAhead < end && downloads.FileNameId(row + kAhead) < byId.size())
        __builtin_prefetch(&byId[downloads.FileNameId(row + kAhead)]);
      const std::uint32_t id = downloads.FileNameId(row);
      if (id < byId.size() && byId[id] != kNobody)
        fetched(row, byId[id]);
    }
    return fetches;
  }
  std::string_view batch[TextIndex::kBatch];
  std::string decoded[TextIndex::kBatch];
  for (std::size_t first = begin; first < end; first += TextIndex::kBatch) {
    const std::size_t count = std::min(TextIndex::kBatch, end - first);
    for (std::size_t i = 0; i < count; ++i)
      batch[i] = keys.Of(downloads, downloads.FileNameBytes(first + i), decoded[i]);
    uploads.files.FindBatch(batch, count,
                            [&](std::size_t i, std::uint32_t file) { fetched(first + i, file); });
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

void AddCredit(const Uploads& uploaded, const Fetches& fetches, std::vector<UserFigures>& figures) {
  for (std::uint32_t file = 0; file < uploaded.firstUploader.size(); ++file) {
    figures[uploaded.firstUploader[file]].credit +=
        fetches.byAnyone[file] - fetches.byFirstUploader[file];
  }
  // Looked up, not inserted: most other uploaders never fetched their file, and a big history
  // has millions of them.
  uploaded.otherUploaders.ForEach([&](std::uint64_t key) {
    const auto file = static_cast<std::uint32_t>(key >> 32);
    const auto own = fetches.byOtherUploader.find(key);
    figures[static_cast<std::uint32_t>(key)].credit +=
        fetches.byAnyone[file] - (own == fetches.byOtherUploader.end() ? 0 : own->second);
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
  const auto count = [&] {
    CountRows(downloads, downloaders, &UserFigures::downloads, figures);
    CountRows(uploads, uploaders, &UserFigures::uploads, figures);
    CountAddresses(downloads, uploads, downloaders, uploaders, keys, figures);
  };
  Uploads uploaded(downloads, uploads);
  const auto index = [&] { uploaded.Index(uploads, uploaders, keys); };
  // Big tables share the work between two cores: one indexes the uploaded files while the other
  // counts rows and addresses, then each looks up half of the downloaded files.
  Fetches fetches;
  if (downloads.RowCount() + uploads.RowCount() >= kRowsWorthAThread) {
    auto indexing = std::async(std::launch::async, index);
    count();
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
    count();
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
