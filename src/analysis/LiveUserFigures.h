#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "analysis/UserFigures.h"
#include "logs/LogLoader.h"
#include "logs/StringPool.h"

namespace quorvane {

// Every user's figures (the users of the whole-population views: each distinct Name on a row of
// either table) kept up to date as rows arrive, go and are renamed, at the cost of what changed.
// Each user keeps the file of each of its downloads in a plain array, its earliest and latest
// few dates, and counts by (user, address); each file its downloads and its uploaders: a row
// taken away is taken out exactly, and a load makes it all in a few passes. Figures() equals
// ComputeUserFigures over CollectEveryUserName of the same tables. Texts of both tables are
// compared as UTF-8, so tables of different encodings may feed it; files are the tables' own File
// Name ids while every table that feeds it shares one pool of them (LogTable::SharesFileNames), as
// a load's tables do.
class LiveUserFigures {
 public:
  LiveUserFigures() = default;
  // Takes every row of both tables. A caller on another thread may give up on it: when `cancel`
  // turns true the figures stop part way (Complete() false) and are of no use.
  LiveUserFigures(const LogTable& downloads, const LogTable& uploads,
                  const std::atomic<bool>* cancel = nullptr);
  bool Complete() const { return complete_; }

  // Rows [first, last) of a table, once they are in it.
  void AddRows(LogKind table, const LogTable& rows, std::size_t first, std::size_t last);
  // A row of a table, before it is removed from it (or replaced: then AddRows after). Both tables
  // as counted: a user's earliest or latest dates that run out are read from them again.
  void RemoveRow(LogKind table, const LogTable& downloads, const LogTable& uploads,
                 std::size_t row);
  // Every row of `from` now says `to` (LogTable::RenameUser on both tables).
  void Rename(std::string_view from, std::string_view to);

  std::size_t UserCount() const { return byName_.size(); }
  std::optional<UserFigures> Find(std::string_view name) const;
  // Every user's figures, in display order.
  std::vector<UserFigures> Figures() const;

 private:
  // The earliest and the latest few of a user's row dates (every one while they are few), in
  // order: its first and last seen, and those that follow when one goes. A side that runs out
  // while dates remain is filled again from the tables.
  class DateEnds {
   public:
    static constexpr std::uint32_t kKept = 4;
    void Add(Timestamp date);
    void Remove(Timestamp date);
    void Merge(const DateEnds& other);
    // Every date of the user's rows, in any order.
    void Refill(std::vector<Timestamp> dates);
    bool RanOut() const { return dated_ > 0 && (low_.count == 0 || high_.count == 0); }
    // The earliest and the latest, kUndated when there is none.
    std::pair<Timestamp, Timestamp> Range() const {
      return {low_.count == 0 ? kUndated : *low_.begin(),
              high_.count == 0 ? kUndated : high_.end()[-1]};
    }

   private:
    // A few dates in ascending order, in place: no allocation a user.
    struct Side {
      std::array<Timestamp, kKept> dates{};
      std::uint32_t count = 0;
      Timestamp* begin() { return dates.data(); }
      Timestamp* end() { return dates.data() + count; }
      const Timestamp* begin() const { return dates.data(); }
      const Timestamp* end() const { return dates.data() + count; }
    };
    // The low_.count earliest dates and the high_.count latest; a side that holds dated_ of them
    // holds every one.
    Side low_, high_;
    std::uint32_t dated_ = 0;  // rows with a date
  };

  struct User {
    std::string name;
    std::size_t downloads = 0, uploads = 0, addresses = 0;
    DateEnds dates;                      // of its dated rows
    std::vector<std::uint32_t> fetched;  // the file of each download row, in no order
    std::vector<std::uint32_t> seenAt;   // every address with a count in userAddresses_
    std::vector<std::uint32_t> sent;     // every file with a count in uploads_
  };

  // Counts by a 64-bit key: open addressing, linear probing. A key once in stays (its count may
  // fall to 0), so a user's list of keys is all it has.
  class PairCounts {
   public:
    // The key's count, and whether the key is new.
    std::pair<std::uint32_t*, bool> Get(std::uint64_t key);
    std::uint32_t Count(std::uint64_t key) const;
    // Room for `more` keys besides those in.
    void Reserve(std::size_t more);
    // Fetches the key's first slot, for a Get soon after.
    void Prefetch(std::uint64_t key) const;

   private:
    static constexpr std::uint64_t kEmpty = UINT64_MAX;  // the free slot detail::KeySlot stops at
    std::size_t SlotOf(std::uint64_t key) const;
    // Millions of pairs are looked up at random: huge pages keep the address cache's misses few.
    std::vector<std::uint64_t, LargeAllocator<std::uint64_t>> keys_;
    std::vector<std::uint32_t, LargeAllocator<std::uint32_t>> counts_;
    std::size_t size_ = 0;
  };

  struct Ids {
    std::uint32_t user = 0, address = 0, file = 0;
  };
  Ids IdsOf(const LogTable& rows, std::size_t row);
  // `credit`: a download adds to its file's uploaders' credit (else the caller does).
  void Change(LogKind table, const LogTable& rows, std::size_t row, int step, Ids ids,
              bool credit = true);
  // What many download rows add to the uploaders' credit, once they are in: by file, its
  // downloads among them (of files someone uploaded); by user, its downloads before them.
  void Credit(const std::vector<std::uint32_t>& fetches,
              const std::vector<std::uint32_t>& fetchedBefore);
  // A cell's text as UTF-8: its bytes, unless they need decoding (into `scratch`).
  static std::string_view Utf8Of(const LogTable& rows, std::string_view bytes,
                                 std::string& scratch);
  std::uint32_t UserOf(std::string_view name);
  std::uint32_t AddressOf(const LogTable& rows, std::string_view bytes);
  // The file of a row.
  std::uint32_t FileOf(const LogTable& rows, std::size_t row);
  // Whether `rows` give their files by the ids counted; when they cannot, files are counted by
  // their UTF-8 texts from now on, under the same ids.
  bool SharedFiles(const LogTable& rows);
  // A file's uploaders: the users of its upload pairs with a count.
  template <typename Visit>
  void ForEachUploader(std::uint32_t file, Visit visit) const;
  bool Uploaded(std::uint32_t file, std::uint32_t user) const;
  // The user's upload rows of the file, and whether the pair is new (then with a count of 0).
  std::pair<std::uint32_t*, bool> UploadsOf(std::uint32_t file, std::uint32_t user);
  static std::uint64_t Pair(std::uint32_t high, std::uint32_t low) {
    return (std::uint64_t{high} << 32) | low;
  }
  // Fetches of the file by others: what the user's upload of it earns.
  std::size_t CreditOf(std::uint32_t file, const User& user) const;
  UserFigures FiguresOf(std::uint32_t user) const;

  std::unordered_map<std::string, std::uint32_t> byName_;
  // By id; a user that loses its rows or its name leaves byName_ and its slot stays empty.
  std::vector<User> users_;
  std::vector<std::size_t> credit_;  // by user id, apart: every download adds to some at random
  StringPool addressIds_;            // the addresses' UTF-8 texts, ids in order of first appearance
  PairCounts userAddresses_;         // (user, address) -> rows
  // The File Name texts whose ids are the files' while shared (texts in `fileEncoding_`); once
  // a table of other texts came, `ownFiles_` holds every file's UTF-8 text by id instead.
  std::shared_ptr<const StringPool> sharedFiles_;
  Encoding fileEncoding_ = Encoding::Utf8;
  std::unique_ptr<StringPool> ownFiles_;
  struct File {
    std::uint32_t downloads = 0;         // download rows by anyone
    std::uint32_t uploads = UINT32_MAX;  // its first pair in uploads_, or none
  };
  // A (file, user) pair's upload rows, in a list per file: a file has few uploaders, and a pair
  // once in stays (its count may fall to 0), so a user's `sent` is all it has.
  struct Uploads {
    std::uint32_t user, count, next;
  };
  std::vector<File, LargeAllocator<File>> fileCounts_;  // by file id
  std::vector<Uploads> uploads_;
  // While many upload rows are added file by file: by user, its pair with the file being added
  // to (where in uploads_, and the file), and where that file's list stood before.
  struct FilePairs {
    std::vector<std::uint32_t> at, file;
    std::uint32_t current = UINT32_MAX, before = UINT32_MAX;
  };
  FilePairs* bulkPairs_ = nullptr;
  const std::atomic<bool>* cancel_ = nullptr;
  // A user's figures changed: once Figures() was asked for, only those are made again.
  void Touch(std::uint32_t user) {
    if (ordered_ && !touched_[user]) {
      touched_[user] = true;
      changed_.push_back(user);
    }
  }

  // The users' ids in display order, sorted again only once the set of names changed, and their
  // figures in that order, each made again once the user changed.
  mutable std::vector<std::uint32_t> order_;
  mutable bool ordered_ = false;
  mutable std::vector<UserFigures> figures_;
  mutable std::vector<std::uint32_t> place_;  // by user id: where in order_
  mutable std::vector<bool> touched_;         // by user id
  mutable std::vector<std::uint32_t> changed_;
  bool complete_ = true;
};

}  // namespace quorvane
