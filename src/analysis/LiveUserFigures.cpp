#include "analysis/LiveUserFigures.h"

#include <algorithm>

#include "logs/TextEncoding.h"
#include "logs/UserList.h"

namespace quorvane {

namespace {

template <typename Map, typename Key>
void TakeOne(Map& counts, const Key& key) {
  const auto it = counts.find(key);
  if (it != counts.end() && --it->second == 0)
    counts.erase(it);
}

}  // namespace

LiveUserFigures::LiveUserFigures(const LogTable& downloads, const LogTable& uploads,
                                 const std::atomic<bool>* cancel)
    : cancel_(cancel) {
  AddRows(LogKind::Download, downloads, 0, downloads.RowCount());
  AddRows(LogKind::Upload, uploads, 0, uploads.RowCount());
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
  // Many rows (a load): each distinct name, address and file text is looked up once, by the
  // table's own ids and bytes, instead of once per row.
  constexpr std::uint32_t kNone = UINT32_MAX;
  std::vector<std::uint32_t> users(rows.NameIdCount(), kNone);
  std::vector<std::uint32_t> addresses(rows.AddressIdCount(), kNone);
  std::unordered_map<std::string_view, std::uint32_t> files;
  for (std::size_t row = first; row < last; ++row) {
    if (cancel_ != nullptr && row % 4096 == 0 && cancel_->load(std::memory_order_relaxed)) {
      complete_ = false;
      return;
    }
    Ids ids;
    std::uint32_t& user = users[rows.NameId(row)];
    if (user == kNone)
      user = UserOf(rows.Name(row));
    ids.user = user;
    std::uint32_t& address = addresses[rows.AddressId(row)];
    if (address == kNone)
      address = IdOf(addressIds_, Utf8Of(rows, rows.Address(row)));
    ids.address = address;
    const std::string_view fileBytes = rows.FileNameBytes(row);
    const auto [file, added] = files.try_emplace(fileBytes, 0);
    if (added)
      file->second = IdOf(fileIds_, Utf8Of(rows, fileBytes));
    ids.file = file->second;
    Change(table, rows, row, +1, ids);
  }
}

void LiveUserFigures::RemoveRow(LogKind table, const LogTable& rows, std::size_t row) {
  if (row < rows.RowCount() && byName_.contains(std::string(rows.Name(row))))
    Change(table, rows, row, -1, IdsOf(rows, row));
}

std::string LiveUserFigures::Utf8Of(const LogTable& rows, std::string_view bytes) {
  return rows.TextEncoding() == Encoding::Utf8 ? std::string(bytes)
                                               : DecodeToUtf8(bytes, rows.TextEncoding());
}

std::uint32_t LiveUserFigures::IdOf(std::unordered_map<std::string, std::uint32_t>& ids,
                                    std::string text) {
  return ids.try_emplace(std::move(text), static_cast<std::uint32_t>(ids.size())).first->second;
}

LiveUserFigures::Ids LiveUserFigures::IdsOf(const LogTable& rows, std::size_t row) {
  return {UserOf(rows.Name(row)), IdOf(addressIds_, Utf8Of(rows, rows.Address(row))),
          IdOf(fileIds_, Utf8Of(rows, rows.FileNameBytes(row)))};
}

std::uint32_t LiveUserFigures::UserOf(std::string_view name) {
  const auto [it, added] = byName_.try_emplace(std::string(name), 0);
  if (added) {
    ordered_ = false;
    if (freeUsers_.empty()) {
      it->second = static_cast<std::uint32_t>(users_.size());
      users_.emplace_back();
    } else {
      it->second = freeUsers_.back();
      freeUsers_.pop_back();
    }
    users_[it->second].name = name;
  }
  return it->second;
}

void LiveUserFigures::Change(LogKind table, const LogTable& rows, std::size_t row, int step,
                             Ids ids) {
  const std::uint32_t u = ids.user;
  User& user = users_[u];
  const std::uint32_t address = ids.address;
  const std::uint32_t fileId = ids.file;
  if (fileId == files_.size())
    files_.emplace_back();
  File& file = files_[fileId];
  const Timestamp date = rows.Date(row);
  const bool download = table == LogKind::Download;
  Use& use = user.files[fileId];
  Touch(u);
  if (step > 0) {
    ++(download ? user.downloads : user.uploads);
    if (date != kUndated)
      ++user.dates[date];
    ++user.addresses[address];
    if (download) {
      ++file.downloads;
      ++use.downloads;
      ++file.downloadsBy[u];
      // Every other uploader of the file has one fetch more of what they brought.
      for (const auto& [uploader, count] : file.uploadsBy) {
        if (uploader != u) {
          ++users_[uploader].credit;
          Touch(uploader);
        }
      }
    } else {
      ++use.uploads;
      if (++file.uploadsBy[u] == 1)
        user.credit += file.downloads - use.downloads;
    }
    return;
  }
  --(download ? user.downloads : user.uploads);
  if (date != kUndated)
    TakeOne(user.dates, date);
  TakeOne(user.addresses, address);
  if (download) {
    --file.downloads;
    --use.downloads;
    TakeOne(file.downloadsBy, u);
    for (const auto& [uploader, count] : file.uploadsBy) {
      if (uploader != u) {
        --users_[uploader].credit;
        Touch(uploader);
      }
    }
  } else {
    --use.uploads;
    const auto it = file.uploadsBy.find(u);
    if (--it->second == 0) {
      file.uploadsBy.erase(it);
      user.credit -= file.downloads - use.downloads;
    }
  }
  if (use.downloads == 0 && use.uploads == 0)
    user.files.erase(fileId);
  if (user.downloads + user.uploads == 0) {
    ordered_ = false;
    byName_.erase(user.name);
    user = User();
    freeUsers_.push_back(u);
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
  User& gone = users_[a];
  User& into = users_[b];
  into.downloads += gone.downloads;
  into.uploads += gone.uploads;
  for (const auto& [date, count] : gone.dates)
    into.dates[date] += count;
  for (const auto& [address, count] : gone.addresses)
    into.addresses[address] += count;
  // Other uploaders keep their credit: a file's fetches and theirs do not change.
  for (const auto& [fileId, use] : gone.files) {
    File& file = files_[fileId];
    for (auto* by : {&file.uploadsBy, &file.downloadsBy}) {
      const auto it = by->find(a);
      if (it != by->end()) {
        (*by)[b] += it->second;
        by->erase(a);
      }
    }
    Use& merged = into.files[fileId];
    merged.downloads += use.downloads;
    merged.uploads += use.uploads;
  }
  into.credit = 0;
  for (const auto& [fileId, use] : into.files) {
    if (use.uploads != 0)
      into.credit += files_[fileId].downloads - use.downloads;
  }
  gone = User();
  freeUsers_.push_back(a);
}

UserFigures LiveUserFigures::FiguresOf(const User& user) const {
  UserFigures figures;
  figures.name = user.name;
  figures.downloads = user.downloads;
  figures.uploads = user.uploads;
  figures.credit = user.credit;
  figures.addresses = user.addresses.size();
  if (!user.dates.empty()) {
    figures.firstSeen = user.dates.begin()->first;
    figures.lastSeen = user.dates.rbegin()->first;
  }
  return figures;
}

std::optional<UserFigures> LiveUserFigures::Find(std::string_view name) const {
  const auto it = byName_.find(std::string(name));
  if (it == byName_.end())
    return std::nullopt;
  return FiguresOf(users_[it->second]);
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
      figures_.push_back(FiguresOf(users_[order_[i]]));
    }
  }
  for (const std::uint32_t id : changed_) {
    figures_[place_[id]] = FiguresOf(users_[id]);
    touched_[id] = false;
  }
  changed_.clear();
  return figures_;
}

}  // namespace quorvane
