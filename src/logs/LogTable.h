#pragma once

#include <algorithm>
#include <array>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "logs/ByteArena.h"
#include "logs/DateTime.h"
#include "logs/RowDates.h"
#include "logs/ShiftedRows.h"
#include "logs/StringPool.h"
#include "logs/TextEncoding.h"

namespace quorvane {

enum class Column { DateTime = 0, Address = 1, Account = 2, Name = 3, FileName = 4 };
inline constexpr int kColumnCount = 5;

// The cells a table keeps beside Address and Name. A table on screen keeps all; a report keeps
// only those it writes, and takes the less memory and time. A cell not kept reads as empty.
struct KeptCells {
  bool dateTime = true;
  bool account = true;
  bool fileName = true;
};

// The transfers of one log, in file order. A row keeps its Date/Time bytes as the file has them,
// but for a Date/Time cell that one of the table's few date forms writes back from the row's date;
// Addresses, Accounts, Names and File Names are interned, so each row holds their ids and the
// analysis compares integers. File Names keep the file's bytes; a load's download and upload
// tables of one encoding share their File Name texts, so that a file has one id in both. Name texts
// are held as UTF-8 (decoded once per distinct name) so a rename can put in any name, whatever the
// file's encoding.
//
// The kept bytes and the pools are shared, immutable, between a table and the selections made
// from it; a rename that adds a name copies the name pool first while it is shared.
class LogTable {
 public:
  LogTable();
  LogTable(LogTable&&) noexcept;
  LogTable& operator=(LogTable&&) noexcept;
  LogTable(const LogTable&) = delete;
  LogTable& operator=(const LogTable&) = delete;
  ~LogTable();

  std::size_t RowCount() const { return rows_.size(); }
  bool Empty() const { return rows_.empty(); }
  Encoding TextEncoding() const { return encoding_; }

  // A cell as UTF-8 display text.
  std::string CellText(std::size_t row, Column column) const;
  // A cell's bytes as the file has them (the Name as UTF-8): CellText without decoding. A
  // Date/Time cell written back from its date is a view of the calling thread's memory, valid
  // until that thread asks for 15 more such cells.
  std::string_view CellBytes(std::size_t row, Column column) const;

  // When the row's transfer happened, read from its Date/Time cell; kUndated when the cell is no
  // date or the table was read without its dates.
  Timestamp Date(std::size_t row) const { return dates_.empty() ? kUndated : dates_[row]; }
  bool HasDates() const { return !dates_.empty() || rows_.empty(); }
  // The day/month order the reader settled on for the file (for a joined table, its last part's),
  // so that rows read later are dated alike; Detect when the dates showed none.
  DateOrder DatesOrder() const { return datesOrder_; }
  // Reads the dates again from the kept Date/Time cells, in another order.
  void ReadDates(DateOrder order);
  // How many kept Date/Time cells read as a date only in the other day/month order than `order`
  // (none for Detect): the rows that order set by hand leaves undated.
  std::size_t DatesOnlyInOtherOrder(DateOrder order) const;
  // Forgets the dates, as if the table had been read without them.
  void DropDates() { Redate({}); }
  // Forgets the dates and the Date/Time cells they write back (those read as empty), for a
  // caller that reads no Date/Time: a pass over the rows, no cell written.
  void DropDatesAndTheirCells();
  // The form that writes the row's Date/Time cell back from its date; none when the cell is kept
  // as its bytes. Rows of one form give the same pointer.
  const DateForm* DateFormOf(std::size_t row) const {
    const Row& r = rows_[row];
    return r.form == 0 ? nullptr : &forms_[r.form - 1];
  }

  // The Address cell's bytes and its id: rows with equal Address bytes share one id.
  std::string_view Address(std::size_t row) const { return addresses_->Text(rows_[row].address); }
  std::uint32_t AddressId(std::size_t row) const { return rows_[row].address; }
  std::size_t AddressIdCount() const { return addresses_->Size(); }
  std::string_view AddressText(std::uint32_t id) const { return addresses_->Text(id); }

  // The File Name cell's bytes, as in the file, and its id: rows with equal bytes share one id,
  // id 0 the empty text. Tables for which SharesFileNames holds give equal texts one id.
  std::string_view FileNameBytes(std::size_t row) const { return files_->Text(FileId(rows_[row])); }
  std::uint32_t FileNameId(std::size_t row) const { return FileId(rows_[row]); }
  std::size_t FileNameIdCount() const { return files_->Size(); }
  std::string_view FileNameText(std::uint32_t id) const { return files_->Text(id); }
  bool SharesFileNames(const LogTable& other) const {
    return files_ == other.files_ && encoding_ == other.encoding_;
  }
  // The File Name texts by id: held, it keeps the views CellBytes and FileNameBytes gave of them
  // valid whatever becomes of the table.
  std::shared_ptr<const StringPool> FileNames() const { return files_; }
  // Makes `b` take its File Name ids from `a`'s texts, when both keep File Names in one
  // encoding: costs `b`'s distinct File Names and its rows. Rows appended later to either add
  // their new texts to the shared ones in place.
  static void ShareFileNames(LogTable& a, LogTable& b);
  // The File Names' lookup table serves only rows still to be appended: a table none will come
  // to may let it go (8 MiB for a million File Names), and make it again before they come (else
  // the first row appended does, hashing every text). Tables sharing the texts share the table.
  void DropFileNameIndex();
  void IndexFileNames();

  // The Name cell as UTF-8 text and its id: rows with equal names share one id.
  std::string_view Name(std::size_t row) const { return names_->Text(rows_[row].name); }
  std::uint32_t NameId(std::size_t row) const { return rows_[row].name; }
  std::size_t NameIdCount() const { return names_->Size(); }
  std::string_view NameText(std::uint32_t id) const { return names_->Text(id); }
  std::optional<std::uint32_t> FindName(std::string_view utf8) const { return names_->Find(utf8); }
  // Frees the Names' lookup table of a table that looks up no name from now on (FindName finds
  // nothing after), unless another table shares the pool.
  void DropNameIndex();
  const StringPool& NamePool() const { return *names_; }
  // The pool itself, for views of its texts that outlive the table: the table copies it before
  // changing it while it is shared.
  std::shared_ptr<const StringPool> SharedNamePool() const { return names_; }

  // Removes one row; the rows behind it move up by one.
  void RemoveRow(std::size_t row);

  // Appends rows [first, last) of `from` (last clamped to its row count), interning their texts
  // into this table's pools and carrying their dates (read from their cells when `from` has
  // none and this table has dates). Costs what the rows appended hold, but once: a table of a
  // code page that is given non-ASCII cells of another encoding becomes UTF-8 first. Tables made
  // from this one keep seeing only their own rows; none may be read on another thread meanwhile.
  void AppendRows(const LogTable& from, std::size_t first = 0, std::size_t last = SIZE_MAX);
  // Puts row `fromRow` of `from` in place of row `row` (a line read again whole because bytes
  // continued it). Throws std::out_of_range for a row past either end.
  void ReplaceRow(std::size_t row, const LogTable& from, std::size_t fromRow);

  // Rewrites every Name cell that equals `from` exactly to `to`; returns how many it rewrote.
  std::size_t RenameUser(std::string_view from, std::string_view to);

  // How many of the rows from `firstRow` on have each Name id, by id (row counts fit 32 bits: a
  // table holds at most 4 GiB and a row at least its tabs). Many rows are counted on two cores.
  std::vector<std::uint32_t> RowsPerNameId(std::size_t firstRow = 0) const;
  // The same for the Address ids.
  std::vector<std::uint32_t> RowsPerAddressId(std::size_t firstRow = 0) const;

  // A table without rows that keeps only this table's Name texts and ids, for a caller that is
  // done with the rows: assigning it over this table frees the rest.
  LogTable NamesOnly() const;

  // A table of the given rows, in the given order (a row may come more than once), sharing this
  // table's cells instead of copying them. Throws std::out_of_range for a row past the end.
  LogTable SelectRows(const std::vector<std::size_t>& rows) const;
  // The rows for which `keep(row)` holds, in order, sharing the cells: one pass, no list of
  // rows. `count`: how many there are, or a guess.
  template <class Keep>
  LogTable SelectIf(std::size_t count, Keep keep) const {
    LogTable selection = SharingCells();
    selection.rows_.reserve(count);
    if (!dates_.empty())
      selection.dates_.reserve(count);
    for (std::size_t row = 0; row < rows_.size(); ++row) {
      if (!keep(row))
        continue;
      selection.rows_.push_back(rows_[row]);
      if (!dates_.empty())
        selection.dates_.push_back(dates_[row]);
    }
    return selection;
  }

  // The rows of several tables, each from its `firstRow` up to its `endRow`, one part after the
  // other, as one table that keeps the `kept` cells and, when `dates`, each part's own dates.
  // When the parts' encodings differ, every cell is made UTF-8 so each still reads as its file
  // wrote it.
  struct Part {
    const LogTable* table;
    std::size_t firstRow;
    std::size_t endRow = SIZE_MAX;  // past the table's end: to its end
  };
  static LogTable Join(const std::vector<Part>& parts, KeptCells kept, bool dates);
  // Whether row `i` of `a` and row `j` of `b` read as the same five cells. Tables of one encoding
  // compare bytes; a cell a table does not keep reads as empty.
  static bool SameRow(const LogTable& a, std::size_t i, const LogTable& b, std::size_t j);

 private:
  friend class LogTableBuilder;

  // A table without rows that shares this table's cells, texts and date forms.
  LogTable SharingCells() const;

  struct Row {
    // keeps 0: the File Name's id; 1: where the kept Date/Time and File Name id lie in kept_
    std::uint32_t kept = 0;
    std::uint32_t account : 28 = 0;  // id 0 is the empty text
    // 0: the Date/Time cell is kept; else forms_[form - 1] writes it from the row's date.
    std::uint32_t form : 3 = 0;
    std::uint32_t keeps : 1 = 0;  // whether the row has bytes in kept_
    std::uint32_t address = 0;
    std::uint32_t name = 0;
  };
  static constexpr std::size_t kMaxForms = 7;

  // The kept Date/Time cell (DateTimeBytes for any Date/Time) and the File Name id.
  static std::string_view DateTimeIn(const ByteArena& kept, const Row& row);
  static std::uint32_t FileIdIn(const ByteArena& kept, const Row& row);
  std::string_view KeptDateTime(const Row& row) const { return DateTimeIn(*kept_, row); }
  std::uint32_t FileId(const Row& row) const {
    return row.keeps == 0 ? row.kept : FileIdIn(*kept_, row);
  }
  std::string_view DateTimeBytes(std::size_t row) const;
  // Puts a row's Date/Time (when its form is 0) and File Name id in the row, or in `bytes`.
  static void PutCells(ByteArena& bytes, std::string_view dateTime, std::uint32_t file, Row& row);
  // Gives the row an Account id; throws std::length_error past 2^28 accounts.
  static void SetAccount(Row& row, std::uint32_t id);
  static constexpr std::uint32_t kMostAccounts = std::uint32_t{1} << 28;
  // Keeps the cells of `row` in kept_, leaving out a Date/Time cell that one of forms_ writes
  // back from `date`. Throws std::length_error past 4 GiB.
  void Keep(std::string_view dateTime, std::uint32_t file, Timestamp date, Row& row);
  // The form that writes `dateTime` back from `date`, learnt if new and there is room: 1 + its
  // index, or 0 for none.
  std::uint32_t FormOf(std::string_view dateTime, Timestamp date);
  // Gives the rows other dates (or none), each Date/Time cell kept as it reads now.
  void Redate(std::vector<Timestamp> dates);
  // Pools this table alone may add to.
  StringPool& OwnAddresses();
  StringPool& OwnAccounts();
  StringPool& OwnNames();
  // The File Name pool, grown in place even while shared: ids and texts already in stay.
  StringPool& GrowingFiles();

  std::shared_ptr<ByteArena> kept_;
  std::shared_ptr<StringPool> addresses_;
  std::shared_ptr<StringPool> accounts_;
  std::shared_ptr<StringPool> names_;
  std::shared_ptr<StringPool> files_;
  Encoding encoding_ = Encoding::Utf8;
  ShiftedRows<Row, LargeAllocator<Row>> rows_;
  RowDates dates_;  // one per row, or none
  DateOrder datesOrder_ = DateOrder::Detect;
  std::vector<DateForm> forms_;  // at most kMaxForms
  std::uint32_t lastForm_ = 0;   // the form the last row kept took, tried first
};

// Fills a LogTable row by row; the reader's way of making one.
class LogTableBuilder {
 public:
  // `dates`: read the Date/Time cells into timestamps in that order, or not at all.
  // `firstDateOnly`: see ReadOptions.
  explicit LogTableBuilder(KeptCells kept = {}, std::optional<DateOrder> dates = std::nullopt,
                           bool firstDateOnly = false);
  LogTableBuilder(LogTableBuilder&&) noexcept;
  LogTableBuilder& operator=(LogTableBuilder&&) noexcept;
  ~LogTableBuilder();

  // A row's cells, as they stand in its line.
  struct Cells {
    std::string_view dateTime, address, account, name, fileName;
  };
  // Copies what the rows keep, in order. Throws std::length_error when the kept bytes or a pool
  // would pass 4 GiB, having added the rows before the one that did not fit.
  void AddRows(const Cells* rows, std::size_t count);
  // Adds one row whose Address and Name the caller has numbered already (a key for each text,
  // small numbers): a key seen before takes its id without its text hashed again. With
  // UseFileNames, `fileId` is the row's File Name id there (and its text is not looked at).
  void AddKeyedRow(const Cells& row, std::uint32_t addressKey, std::uint32_t nameKey,
                   std::uint32_t fileId = 0);
  // Before any row: the File Names are ids in `files`, a pool the caller fills and may share
  // with other tables; rows given by their cells add their texts to it.
  void UseFileNames(std::shared_ptr<StringPool> files);
  std::size_t RowCount() const { return rows_.size(); }
  void Reserve(std::size_t rows) { rows_.reserve(rows); }
  // About how many rows this builder will be given (a piece of a file may reserve room for the
  // whole's): the pools that gain a text on most rows make room for theirs at once. `nameRows`:
  // the rows whose names its pool will hold, more when the next piece's names join it.
  void ExpectRows(std::size_t rows, std::size_t nameRows) {
    expectedRows_ = rows;
    expectedNameRows_ = std::max(rows, nameRows);
  }
  // Whether a row's date so far waits for the order the rows still to come show.
  bool DatesUnsettled() const { return dates_ && dates_->Unsettled(); }
  // The rows' dates will be given to Finish, not read from their cells (a history holds them):
  // the Date/Time cells wait aside as when the builder reads dates, so each is kept once.
  void ExpectDates() { datesToCome_ = true; }
  // Takes the rows `rest` was given (with the same cells kept and dates asked for) as added
  // behind these, as when one file was read in two pieces; `rest` is left empty. Texts new to
  // this builder take their ids in the order `rest` met them, and the dates are settled by both
  // pieces' cells together. Costs `rest`'s rows and its distinct texts.
  void Append(LogTableBuilder&& rest);
  // The table, its Name texts decoded from `encoding`.
  LogTable Finish(Encoding encoding) &&;
  // The same with the rows' dates, one per row, after ExpectDates. Throws std::invalid_argument
  // when the counts differ.
  LogTable Finish(Encoding encoding, std::vector<Timestamp> dates, DateOrder order) &&;

 private:
  KeptCells keep_;
  std::unique_ptr<ByteArena> kept_;
  // Date/Time cells to be read into dates, each kept only if no form writes it back: by row, 1 +
  // where it waits in dateTexts_, kWrittenFromDate for a plain year-last cell, which its date
  // writes again, or 0 for none.
  static constexpr std::uint32_t kWrittenFromDate = UINT32_MAX;
  std::uint32_t SetDateTextAside(std::string_view dateTime);  // returns 1 + where it waits
  std::string_view DateTextAside(std::uint32_t at) const;     // `at`: 1 + where it waits
  std::unique_ptr<ByteArena> dateTexts_;
  std::vector<std::uint32_t> dateTextAt_;
  std::unique_ptr<StringPool> addresses_;
  std::unique_ptr<StringPool> accounts_;
  std::unique_ptr<StringPool> names_;
  std::shared_ptr<StringPool> files_;
  bool filesGiven_ = false;  // UseFileNames
  std::vector<LogTable::Row, LargeAllocator<LogTable::Row>> rows_;
  std::optional<DateColumnParser> dates_;
  bool datesToCome_ = false;
  // By address id: the Name of its latest row, with its length and first eight bytes, so that
  // most rows learn their name's id without reading the pool.
  struct LastName {
    std::uint32_t id;
    std::uint32_t length;
    std::uint64_t head;
  };
  std::vector<LastName> lastName_;
  std::vector<std::uint32_t> addressOfKey_, nameOfKey_;  // by key: the pool's id
  std::size_t expectedRows_ = 0, expectedNameRows_ = 0;  // ExpectRows'
  // The rows and a pool's texts when its table last grew.
  struct Growth {
    std::size_t rows = 0, texts = 0;
  };
  Growth addressGrowth_, nameGrowth_;
  // Before `adding` texts go to `pool`: when they would grow its table and nearly every row
  // since it last grew brought a text of its own, room for as many as the rows to come would
  // bring, at once.
  void Foresee(StringPool& pool, Growth& last, std::size_t adding);

  // Accounts seen lately, by their length and first eight bytes: most rows find theirs here.
  std::array<LastName, 16> recentAccounts_{};
  // Takes the row's date and the cells kept, its File Name as `file`: the row without its
  // Address and Name.
  LogTable::Row Keep(const Cells& row, std::uint32_t file);
  std::uint32_t FileOf(const Cells& row) {
    return keep_.fileName ? files_->Intern(row.fileName) : 0;
  }
  LogTable FinishWith(Encoding encoding, std::optional<std::vector<Timestamp>> dates,
                      DateOrder order) &&;
};

}  // namespace quorvane
