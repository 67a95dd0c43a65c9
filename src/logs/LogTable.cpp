#include "logs/LogTable.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <future>
#include <span>
#include <stdexcept>
#include <utility>

#include "logs/SharedWork.h"

namespace quorvane {

namespace {

// Kept bytes live in blocks of 8 MiB (huge pages where the system has them).
constexpr unsigned kKeptBlockShift = 23;

// How many of `count` rows have each id below `ids` that idOf(row) gives.
template <typename IdOf>
std::vector<std::uint32_t> CountIds(std::size_t count, std::size_t ids, const IdOf& idOf) {
  std::vector<std::uint32_t> halves[2];
  InTwoHalves(count, [&](std::size_t first, std::size_t last) {
    std::vector<std::uint32_t>& counts = halves[first == 0 ? 0 : 1];
    counts.assign(ids, 0);
    for (std::size_t row = first; row < last; ++row)
      ++counts[idOf(row)];
  });
  for (std::size_t id = 0; id < halves[1].size(); ++id)
    halves[0][id] += halves[1][id];
  return std::move(halves[0]);
}

// What an empty table (and one moved from) shares, so it needs no memory of its own. A rename
// never changes the empty name pool: it finds no name to rename in it.
const std::shared_ptr<ByteArena>& NoBytes() {
  static const auto empty = std::make_shared<ByteArena>(kKeptBlockShift);
  return empty;
}
const std::shared_ptr<StringPool>& NoAddresses() {
  static const auto empty = std::make_shared<StringPool>();
  return empty;
}
// An accounts or File Names pool holds the empty text as id 0, so a row that keeps no Account or
// File Name needs no lookup.
std::unique_ptr<StringPool> NewAccounts() {
  auto accounts = std::make_unique<StringPool>();
  accounts->Intern("");
  return accounts;
}
const std::shared_ptr<StringPool>& NoAccounts() {
  static const std::shared_ptr<StringPool> empty = NewAccounts();
  return empty;
}
const std::shared_ptr<StringPool>& NoNames() {
  static const auto empty = std::make_shared<StringPool>();
  return empty;
}
const std::shared_ptr<StringPool>& NoFiles() {
  static const std::shared_ptr<StringPool> empty = NewAccounts();
  return empty;
}

// The first eight bytes of a text, zero-padded.
std::uint64_t HeadOf(std::string_view text) {
  return TextHead(text.data(), text.size());
}

}  // namespace

LogTable::LogTable()
    : kept_(NoBytes()),
      addresses_(NoAddresses()),
      accounts_(NoAccounts()),
      names_(NoNames()),
      files_(NoFiles()) {}

LogTable::LogTable(LogTable&& other) noexcept : LogTable() {
  *this = std::move(other);
}

LogTable& LogTable::operator=(LogTable&& other) noexcept {
  if (this != &other) {
    kept_ = std::exchange(other.kept_, NoBytes());
    addresses_ = std::exchange(other.addresses_, NoAddresses());
    accounts_ = std::exchange(other.accounts_, NoAccounts());
    names_ = std::exchange(other.names_, NoNames());
    files_ = std::exchange(other.files_, NoFiles());
    encoding_ = other.encoding_;
    rows_ = std::move(other.rows_);
    other.rows_.clear();
    dates_ = std::move(other.dates_);
    other.dates_ = {};
    datesOrder_ = other.datesOrder_;
    forms_ = std::move(other.forms_);
    other.forms_.clear();
    lastForm_ = std::exchange(other.lastForm_, 0);
  }
  return *this;
}

LogTable::~LogTable() = default;

// A kept Date/Time cell is stored as its length (PutLength), its bytes (a server log's cells may
// hold any byte, tabs too), then the row's File Name id.
std::string_view LogTable::DateTimeIn(const ByteArena& kept, const Row& row) {
  if (row.keeps == 0)
    return {};
  const char* at = kept.View(row.kept, 1).data();  // the row's bytes lie whole in one block
  const std::size_t length = TakeLength(at);
  return {at, length};
}

std::uint32_t LogTable::FileIdIn(const ByteArena& kept, const Row& row) {
  if (row.keeps == 0)
    return row.kept;
  const std::string_view dateTime = DateTimeIn(kept, row);
  std::uint32_t file;
  std::memcpy(&file, dateTime.data() + dateTime.size(), sizeof file);
  return file;
}

void LogTable::PutCells(ByteArena& bytes, std::string_view dateTime, std::uint32_t file, Row& row) {
  row.kept = file;
  row.keeps = 0;
  if (row.form != 0 || dateTime.empty())
    return;
  char* at = bytes.Extend(LengthSize(dateTime.size()) + dateTime.size() + sizeof file, row.kept);
  PutLength(at, dateTime.size());
  at = std::copy(dateTime.begin(), dateTime.end(), at);
  std::memcpy(at, &file, sizeof file);
  row.keeps = 1;
}

void LogTable::SetAccount(Row& row, std::uint32_t id) {
  if (id >= kMostAccounts)
    throw std::length_error("more than 2^28 accounts");
  row.account = id & (kMostAccounts - 1);
}

std::string_view LogTable::DateTimeBytes(std::size_t row) const {
  const Row& r = rows_[row];
  if (r.form == 0)
    return KeptDateTime(r);
  constexpr std::size_t kWritten = 16;
  thread_local std::array<std::array<char, DateForm::kMaxLength>, kWritten> written;
  thread_local std::size_t next = 0;
  char* out = written[next++ % kWritten].data();
  return {out, forms_[r.form - 1].Write(dates_[row], out)};
}

void LogTable::Keep(std::string_view dateTime, std::uint32_t file, Timestamp date, Row& row) {
  row.form = FormOf(dateTime, date) & 0x7;
  PutCells(*kept_, dateTime, file, row);
}

std::uint32_t LogTable::FormOf(std::string_view dateTime, Timestamp date) {
  std::uint32_t form = 0;
  if (date != kUndated && !dateTime.empty() && dateTime.size() <= DateForm::kMaxLength) {
    char out[DateForm::kMaxLength];
    const auto writes = [&](const DateForm& f) {
      return dateTime.ends_with(std::string_view(f.suffix.data(), f.suffixLength)) &&
             std::string_view(out, f.Write(date, out)) == dateTime;
    };
    if (lastForm_ != 0 && writes(forms_[lastForm_ - 1])) {
      form = lastForm_;
    } else {
      for (std::size_t i = 0; i < forms_.size() && form == 0; ++i) {
        if (i + 1 != lastForm_ && writes(forms_[i]))
          form = static_cast<std::uint32_t>(i + 1);
      }
      if (form == 0 && forms_.size() < kMaxForms) {
        const std::optional<DateForm> learnt = DateForm::Of(dateTime, date);
        if (learnt && writes(*learnt)) {
          forms_.push_back(*learnt);
          form = static_cast<std::uint32_t>(forms_.size());
        }
      }
      lastForm_ = form != 0 ? form : lastForm_;
    }
  }
  return form;
}

void LogTable::Redate(std::vector<Timestamp> dates) {
  if (dates.empty() && forms_.empty()) {
    dates_ = {};
    return;
  }
  // The cells go to new bytes while the old ones still hold them; a row read is not read again.
  LogTable next;
  next.kept_ = std::make_shared<ByteArena>(kKeptBlockShift);
  for (std::size_t row = 0; row < rows_.size(); ++row) {
    Row kept;
    next.Keep(DateTimeBytes(row), FileId(rows_[row]), dates.empty() ? kUndated : dates[row], kept);
    rows_[row].kept = kept.kept;
    rows_[row].form = kept.form & 0x7;
    rows_[row].keeps = kept.keeps & 0x1;
  }
  kept_ = std::move(next.kept_);
  forms_ = std::move(next.forms_);
  lastForm_ = next.lastForm_;
  dates_ = RowDates(dates);
}

void LogTable::DropDatesAndTheirCells() {
  for (Row& row : rows_)
    row.form = 0;  // such a row keeps no bytes: its Date/Time reads as empty
  forms_.clear();
  lastForm_ = 0;
  dates_ = {};
}

std::string LogTable::CellText(std::size_t row, Column column) const {
  const Row& r = rows_[row];
  switch (column) {
    case Column::DateTime:
      return DecodeToUtf8(DateTimeBytes(row), encoding_);
    case Column::Address:
      return DecodeToUtf8(addresses_->Text(r.address), encoding_);
    case Column::Account:
      return DecodeToUtf8(accounts_->Text(r.account), encoding_);
    case Column::Name:
      return std::string(names_->Text(r.name));
    case Column::FileName:
      return DecodeToUtf8(files_->Text(FileId(r)), encoding_);
  }
  return {};
}

std::string_view LogTable::CellBytes(std::size_t row, Column column) const {
  const Row& r = rows_[row];
  switch (column) {
    case Column::DateTime:
      return DateTimeBytes(row);
    case Column::Address:
      return addresses_->Text(r.address);
    case Column::Account:
      return accounts_->Text(r.account);
    case Column::Name:
      return names_->Text(r.name);
    case Column::FileName:
      return files_->Text(FileId(r));
  }
  return {};
}

void LogTable::ReadDates(DateOrder order) {
  Redate(ParseDateColumn(
      rows_.size(), [this](std::size_t row) { return DateTimeBytes(row); }, order));
}

std::size_t LogTable::DatesOnlyInOtherOrder(DateOrder order) const {
  if (order == DateOrder::Detect)
    return 0;
  const auto cell = [this](std::size_t row) { return DateTimeBytes(row); };
  const std::vector<Timestamp> read = ParseDateColumn(rows_.size(), cell, order);
  const std::vector<Timestamp> other =
      ParseDateColumn(rows_.size(), cell,
                      order == DateOrder::MonthFirst ? DateOrder::DayFirst : DateOrder::MonthFirst);
  std::size_t only = 0;
  for (std::size_t row = 0; row < read.size(); ++row)
    only += read[row] == kUndated && other[row] != kUndated ? 1 : 0;
  return only;
}

void LogTable::RemoveRow(std::size_t row) {
  if (row >= rows_.size())
    return;
  rows_.erase(row);
  if (!dates_.empty())
    dates_.erase(row);
}

StringPool& LogTable::OwnAddresses() {
  if (addresses_.use_count() > 1)  // shared with a selection or the empty tables
    addresses_ = std::make_shared<StringPool>(*addresses_);
  return *addresses_;
}

StringPool& LogTable::OwnAccounts() {
  if (accounts_.use_count() > 1)
    accounts_ = std::make_shared<StringPool>(*accounts_);
  return *accounts_;
}

StringPool& LogTable::OwnNames() {
  if (names_.use_count() > 1)
    names_ = std::make_shared<StringPool>(*names_);
  return *names_;
}

StringPool& LogTable::GrowingFiles() {
  if (files_ == NoFiles())
    files_ = NewAccounts();
  return *files_;
}

void LogTable::DropFileNameIndex() {
  if (files_ != NoFiles())  // the empty tables' pool is everyone's
    files_->DropIndex();
}

void LogTable::DropNameIndex() {
  if (names_.use_count() == 1)
    names_->DropIndex();
}

void LogTable::IndexFileNames() {
  if (files_ != NoFiles())
    files_->Index();
}

void LogTable::ShareFileNames(LogTable& a, LogTable& b) {
  if (a.files_ == b.files_ || a.encoding_ != b.encoding_ || a.files_ == NoFiles() ||
      b.files_ == NoFiles())
    return;
  StringPool& files = a.GrowingFiles();
  std::vector<std::uint32_t> ids(b.files_->Size());
  for (std::uint32_t id = 0; id < ids.size(); ++id)
    ids[id] = files.Intern(b.files_->Text(id));
  // Rows that keep their Date/Time hold the id beside it: those go to new bytes, as b's may be
  // shared with a selection.
  auto kept = std::make_shared<ByteArena>(kKeptBlockShift);
  for (Row& row : b.rows_) {
    const std::string_view dateTime = b.KeptDateTime(row);
    PutCells(*kept, dateTime, ids[b.FileId(row)], row);
  }
  b.kept_ = std::move(kept);
  b.files_ = a.files_;
}

void LogTable::AppendRows(const LogTable& from, std::size_t first, std::size_t last) {
  last = std::min(last, from.rows_.size());
  if (first >= last)
    return;
  if (rows_.empty() && dates_.empty()) {
    // Nothing kept yet: the table takes the encoding of what it is given, and File Name texts
    // of its own when that is another.
    if (encoding_ != from.encoding_ && files_ != NoFiles())
      files_ = NewAccounts();
    encoding_ = from.encoding_;
    if (!from.dates_.empty())
      dates_.reserve(last - first);
  }
  const bool wantDates = !dates_.empty() || (rows_.empty() && !from.dates_.empty());
  if (from.encoding_ != encoding_ && encoding_ != Encoding::Utf8) {
    bool ascii = true;
    for (std::size_t i = first; i < last && ascii; ++i) {
      for (const Column column :
           {Column::DateTime, Column::Address, Column::Account, Column::FileName}) {
        const std::string_view text = from.CellBytes(i, column);
        ascii = ascii && std::all_of(text.begin(), text.end(),
                                     [](char c) { return static_cast<unsigned char>(c) < 0x80; });
      }
    }
    if (!ascii) {
      // Join makes every cell UTF-8 when its parts' encodings differ; an empty UTF-8 part does.
      const LogTable none;
      *this = Join({{this, 0}, {&none, 0}}, KeptCells{}, wantDates);
    }
  }
  const bool decode = from.encoding_ != encoding_ && encoding_ == Encoding::Utf8;
  if (kept_ == NoBytes())
    kept_ = std::make_shared<ByteArena>(kKeptBlockShift);
  StringPool& addresses = OwnAddresses();
  StringPool& accounts = OwnAccounts();
  StringPool& names = OwnNames();
  StringPool& files = GrowingFiles();
  std::optional<DateColumnParser> dates;
  if (wantDates && from.dates_.empty())
    dates.emplace(DateOrder::Detect, last - first);
  std::string decoded[3];
  std::string_view cells[3];
  for (std::size_t i = first; i < last; ++i) {
    const Row& source = from.rows_[i];
    Row row;
    const std::string_view address = from.addresses_->Text(source.address);
    row.address = addresses.Intern(decode ? DecodeToUtf8(address, from.encoding_) : address);
    row.name = names.Intern(from.names_->Text(source.name));
    const Column columns[3] = {Column::DateTime, Column::Account, Column::FileName};
    for (int c = 0; c < 3; ++c) {
      cells[c] = from.CellBytes(i, columns[c]);
      if (decode)
        cells[c] = decoded[c] = DecodeToUtf8(cells[c], from.encoding_);
    }
    SetAccount(row, accounts.Intern(cells[1]));
    // Rows whose dates are read here at the end keep their Date/Time text.
    const Timestamp date = wantDates && !dates ? from.dates_[i] : kUndated;
    Keep(cells[0], files.Intern(cells[2]), date, row);
    rows_.push_back(row);
    if (dates)
      dates->Add(cells[0]);
    else if (wantDates)
      dates_.push_back(date);
  }
  if (dates) {
    const std::vector<Timestamp> read = std::move(*dates).Finish();
    for (const Timestamp date : read)
      dates_.push_back(date);
  }
}

void LogTable::ReplaceRow(std::size_t row, const LogTable& from, std::size_t fromRow) {
  if (row >= rows_.size() || fromRow >= from.rows_.size())
    throw std::out_of_range("ReplaceRow: no such row");
  AppendRows(from, fromRow, fromRow + 1);
  rows_[row] = rows_.back();
  rows_.pop_back();
  if (!dates_.empty()) {
    dates_.Set(row, dates_[dates_.size() - 1]);
    dates_.pop_back();
  }
}

std::size_t LogTable::RenameUser(std::string_view from, std::string_view to) {
  const std::optional<std::uint32_t> fromId = names_->Find(from);
  if (!fromId)
    return 0;
  std::optional<std::uint32_t> toId = names_->Find(to);
  if (!toId) {
    if (names_.use_count() > 1)  // shared with a selection: it keeps the pool it has
      names_ = std::make_shared<StringPool>(*names_);
    toId = names_->Intern(to);
  }
  std::size_t count = 0;
  for (Row& r : rows_) {
    if (r.name == *fromId) {
      r.name = *toId;
      ++count;
    }
  }
  return count;
}

std::vector<std::uint32_t> LogTable::RowsPerNameId(std::size_t firstRow) const {
  const Row* rows = rows_.begin() + firstRow;
  return CountIds(RowCount() - std::min(firstRow, RowCount()), NameIdCount(),
                  [rows](std::size_t row) { return rows[row].name; });
}

std::vector<std::uint32_t> LogTable::RowsPerAddressId(std::size_t firstRow) const {
  const Row* rows = rows_.begin() + firstRow;
  return CountIds(RowCount() - std::min(firstRow, RowCount()), AddressIdCount(),
                  [rows](std::size_t row) { return rows[row].address; });
}

LogTable LogTable::NamesOnly() const {
  LogTable names;
  names.names_ = names_;
  names.encoding_ = encoding_;
  return names;
}

LogTable LogTable::SharingCells() const {
  LogTable selection;
  selection.kept_ = kept_;
  selection.addresses_ = addresses_;
  selection.accounts_ = accounts_;
  selection.names_ = names_;
  selection.files_ = files_;
  selection.encoding_ = encoding_;
  selection.forms_ = forms_;
  return selection;
}

LogTable LogTable::SelectRows(const std::vector<std::size_t>& rows) const {
  LogTable selection = SharingCells();
  selection.rows_.reserve(rows.size());
  if (!dates_.empty())
    selection.dates_.reserve(rows.size());
  for (std::size_t row : rows) {
    if (row >= rows_.size())
      throw std::out_of_range("SelectRows: no such row");
    selection.rows_.push_back(rows_[row]);
    if (!dates_.empty())
      selection.dates_.push_back(dates_[row]);
  }
  return selection;
}

LogTable LogTable::Join(const std::vector<Part>& parts, KeptCells kept, bool dates) {
  LogTable joined;
  if (parts.empty())
    return joined;
  bool mixed = false;
  std::size_t rowCount = 0;
  for (const Part& part : parts) {
    mixed = mixed || part.table->encoding_ != parts.front().table->encoding_;
    const std::size_t end = std::min(part.endRow, part.table->rows_.size());
    rowCount += end - std::min(part.firstRow, end);
  }
  joined.kept_ = std::make_shared<ByteArena>(kKeptBlockShift);
  auto addresses = std::make_shared<StringPool>();
  std::shared_ptr<StringPool> accounts = NewAccounts();
  auto names = std::make_shared<StringPool>();
  std::shared_ptr<StringPool> files = NewAccounts();
  joined.rows_.reserve(rowCount);
  if (dates)
    joined.dates_.reserve(rowCount);
  constexpr std::uint32_t kNone = UINT32_MAX;
  std::string decoded;
  for (const Part& part : parts) {
    const LogTable& table = *part.table;
    const bool decode = mixed && table.encoding_ != Encoding::Utf8;
    // Each part's ids are looked up once, not once per row.
    std::vector<std::uint32_t> addressIds(table.addresses_->Size(), kNone);
    std::vector<std::uint32_t> accountIds(kept.account ? table.accounts_->Size() : 0, kNone);
    std::vector<std::uint32_t> nameIds(table.names_->Size(), kNone);
    std::vector<std::uint32_t> fileIds(kept.fileName ? table.files_->Size() : 0, kNone);
    for (std::size_t i = part.firstRow; i < std::min(part.endRow, table.rows_.size()); ++i) {
      const Row& from = table.rows_[i];
      Row row;
      if (addressIds[from.address] == kNone) {
        const std::string_view text = table.addresses_->Text(from.address);
        addressIds[from.address] =
            addresses->Intern(decode ? DecodeToUtf8(text, table.encoding_) : std::string(text));
      }
      row.address = addressIds[from.address];
      if (nameIds[from.name] == kNone)
        nameIds[from.name] = names->Intern(table.names_->Text(from.name));
      row.name = nameIds[from.name];
      if (kept.account) {
        if (accountIds[from.account] == kNone) {
          const std::string_view text = table.accounts_->Text(from.account);
          accountIds[from.account] =
              accounts->Intern(decode ? DecodeToUtf8(text, table.encoding_) : std::string(text));
        }
        SetAccount(row, accountIds[from.account]);
      }
      std::uint32_t file = 0;
      if (kept.fileName) {
        const std::uint32_t id = table.FileId(from);
        if (fileIds[id] == kNone) {
          const std::string_view text = table.files_->Text(id);
          fileIds[id] = files->Intern(decode ? DecodeToUtf8(text, table.encoding_) : text);
        }
        file = fileIds[id];
      }
      std::string_view dateTime = kept.dateTime ? table.DateTimeBytes(i) : std::string_view();
      if (decode && kept.dateTime)
        dateTime = decoded = DecodeToUtf8(dateTime, table.encoding_);
      joined.Keep(dateTime, file, dates ? table.Date(i) : kUndated, row);
      joined.rows_.push_back(row);
      if (dates)
        joined.dates_.push_back(table.Date(i));
    }
  }
  addresses->DropIndex();
  joined.addresses_ = std::move(addresses);
  if (kept.fileName)
    joined.files_ = std::move(files);
  joined.accounts_ = std::move(accounts);
  joined.names_ = std::move(names);
  joined.encoding_ = mixed ? Encoding::Utf8 : parts.front().table->encoding_;
  joined.datesOrder_ = parts.back().table->datesOrder_;
  return joined;
}

bool LogTable::SameRow(const LogTable& a, std::size_t i, const LogTable& b, std::size_t j) {
  const Row& x = a.rows_[i];
  const Row& y = b.rows_[j];
  if (&a == &b ? x.name != y.name : a.names_->Text(x.name) != b.names_->Text(y.name))
    return false;
  if (a.encoding_ == b.encoding_)
    return (&a == &b ? x.address == y.address
                     : a.addresses_->Text(x.address) == b.addresses_->Text(y.address)) &&
           (&a == &b ? x.account == y.account
                     : a.accounts_->Text(x.account) == b.accounts_->Text(y.account)) &&
           (a.files_ == b.files_ ? a.FileId(x) == b.FileId(y)
                                 : a.FileNameBytes(i) == b.FileNameBytes(j)) &&
           a.DateTimeBytes(i) == b.DateTimeBytes(j);
  for (Column column : {Column::DateTime, Column::Address, Column::Account, Column::FileName}) {
    if (a.CellText(i, column) != b.CellText(j, column))
      return false;
  }
  return true;
}

LogTableBuilder::LogTableBuilder(KeptCells kept, std::optional<DateOrder> dates, bool firstDateOnly)
    : keep_(kept),
      kept_(std::make_unique<ByteArena>(kKeptBlockShift)),
      dateTexts_(std::make_unique<ByteArena>(kKeptBlockShift)),
      addresses_(std::make_unique<StringPool>()),
      accounts_(NewAccounts()),
      names_(std::make_unique<StringPool>()),
      files_(NewAccounts()) {
  if (dates)
    dates_.emplace(*dates, 0, firstDateOnly);
}
LogTableBuilder::LogTableBuilder(LogTableBuilder&&) noexcept = default;
LogTableBuilder& LogTableBuilder::operator=(LogTableBuilder&&) noexcept = default;
LogTableBuilder::~LogTableBuilder() = default;

// Inlined: a row returned from a call is written field by field and read back whole, which stalls.
[[gnu::always_inline]] inline LogTable::Row LogTableBuilder::Keep(const Cells& row,
                                                                  std::uint32_t file) {
  const bool plainDate = dates_ && dates_->Add(row.dateTime);
  LogTable::Row kept;
  if (keep_.account && !row.account.empty()) {
    const std::uint64_t head = HeadOf(row.account);
    LastName& recent = recentAccounts_[((head ^ row.account.size()) * 0x9E3779B97F4A7C15ULL) >> 60];
    if (recent.head != head || recent.length != row.account.size() ||
        (row.account.size() > 8 && !accounts_->Holds(recent.id, row.account)))
      recent = {accounts_->Intern(row.account), static_cast<std::uint32_t>(row.account.size()),
                head};
    LogTable::SetAccount(kept, recent.id);
  }
  std::string_view dateTime = keep_.dateTime ? row.dateTime : std::string_view();
  if ((dates_ || datesToCome_) && !dateTime.empty()) {
    // Its date is known at the end, and with it whether the text need be kept: the text waits
    // aside until then (a plain year-last cell's date writes it again: only a mark waits), the
    // row marked as written back.
    dateTextAt_.resize(rows_.size() + 1, 0);
    dateTextAt_.back() = plainDate ? kWrittenFromDate : SetDateTextAside(dateTime);
    dateTime = {};
    kept.form = 1;
  }
  if (dateTime.empty())  // most rows: the File Name's id is all the row keeps
    kept.kept = file;
  else
    LogTable::PutCells(*kept_, dateTime, file, kept);
  return kept;
}

std::uint32_t LogTableBuilder::SetDateTextAside(std::string_view dateTime) {
  std::uint32_t offset;
  char* at = dateTexts_->Extend(LengthSize(dateTime.size()) + dateTime.size(), offset);
  if (offset + 1 == kWrittenFromDate)
    throw std::length_error("too many Date/Time cells set aside");
  PutLength(at, dateTime.size());
  std::copy(dateTime.begin(), dateTime.end(), at);
  return offset + 1;
}

std::string_view LogTableBuilder::DateTextAside(std::uint32_t at) const {
  const char* text = dateTexts_->View(at - 1, 1).data();
  const std::size_t length = TakeLength(text);  // moves `text` past the length
  return {text, length};
}

void LogTableBuilder::Foresee(StringPool& pool, Growth& last, std::size_t adding) {
  if (!pool.Outgrows(adding))
    return;
  // A pool that gained a text on nearly every row since it last grew goes on so: room for the
  // rest of the rows' at that rate, at once, instead of a table built and filled again some ten
  // times by doubling. Texts that repeat (most logs' names and addresses) come ever slower and
  // keep the doubling.
  constexpr std::size_t kFewestTexts = 8192;
  const std::size_t rows = rows_.size();
  const std::size_t texts = pool.Size();
  const Growth since{rows - last.rows, texts - last.texts};
  last = {rows, texts};
  const std::size_t expected = &pool == names_.get() ? expectedNameRows_ : expectedRows_;
  if (texts < kFewestTexts || expected <= rows || since.rows == 0 ||
      since.texts * 4 < since.rows * 3)
    return;
  const double share = static_cast<double>(since.texts) / static_cast<double>(since.rows);
  const std::size_t foreseen =
      texts + adding + static_cast<std::size_t>(share * static_cast<double>(expected - rows));
  pool.Reserve(foreseen);
  if (&pool == addresses_.get())
    lastName_.reserve(foreseen);
}

void LogTableBuilder::AddRows(const Cells* rows, std::size_t count) {
  constexpr std::size_t kBatch = 64;
  constexpr LastName kNoName{0, UINT32_MAX, 0};  // no name is this long
  // Names are interned by their bytes here; Finish() turns them into UTF-8 text. An address
  // mostly keeps its name from row to row: comparing with the name it had before saves a
  // lookup. Every id is still the pool's id of the row's text, so names keep their order.
  const auto guessed = [this](std::uint32_t address, std::string_view name, std::uint64_t head) {
    const LastName& last = lastName_[address];
    return last.length == name.size() && last.head == head &&
           (name.size() <= 8 || names_->Holds(last.id, name));
  };
  if (count == 1) {
    // A server log's rows come one at a time: nothing to fetch ahead.
    LogTable::Row kept = Keep(*rows, FileOf(*rows));
    const std::uint32_t address = addresses_->Intern(rows->address);
    if (lastName_.size() <= address)
      lastName_.resize(address + 1, kNoName);
    const std::uint64_t head = HeadOf(rows->name);
    const std::uint32_t name =
        guessed(address, rows->name, head) ? lastName_[address].id : names_->Intern(rows->name);
    lastName_[address] = {name, static_cast<std::uint32_t>(rows->name.size()), head};
    kept.address = address;
    kept.name = name;
    rows_.push_back(kept);
    return;
  }
  for (const Cells* batch = rows; batch != rows + count;) {
    const std::size_t n =
        std::min<std::size_t>(kBatch, static_cast<std::size_t>(rows + count - batch));
    std::string_view texts[kBatch];
    std::uint32_t addressIds[kBatch], nameIds[kBatch], missIds[kBatch], fileIds[kBatch] = {};
    std::uint64_t heads[kBatch];
    std::size_t missAt[kBatch], misses = 0;
    try {
      for (std::size_t i = 0; i < n; ++i)
        texts[i] = batch[i].address;
      Foresee(*addresses_, addressGrowth_, n);
      addresses_->InternBatch(texts, n, addressIds);
      if (lastName_.size() < addresses_->Size())
        lastName_.resize(addresses_->Size(), kNoName);
      for (std::size_t i = 0; i < n; ++i) {
        const std::string_view name = batch[i].name;
        heads[i] = HeadOf(name);
        if (guessed(addressIds[i], name, heads[i])) {
          nameIds[i] = lastName_[addressIds[i]].id;
        } else {
          missAt[misses] = i;
          texts[misses++] = name;
        }
      }
      Foresee(*names_, nameGrowth_, misses);
      names_->InternBatch(texts, misses, missIds);
      if (keep_.fileName) {
        for (std::size_t i = 0; i < n; ++i)
          texts[i] = batch[i].fileName;
        files_->InternBatch(texts, n, fileIds);
      }
    } catch (const std::length_error&) {
      // Row by row, so that the rows before the one that does not fit are added.
      for (std::size_t i = 0; i < n; ++i) {
        LogTable::Row kept = Keep(batch[i], FileOf(batch[i]));
        kept.address = addresses_->Intern(batch[i].address);
        kept.name = names_->Intern(batch[i].name);
        rows_.push_back(kept);
      }
      batch += n;
      continue;
    }
    for (std::size_t m = 0; m < misses; ++m)
      nameIds[missAt[m]] = missIds[m];
    for (std::size_t i = 0; i < n; ++i) {
      LogTable::Row kept = Keep(batch[i], fileIds[i]);
      lastName_[addressIds[i]] = {nameIds[i], static_cast<std::uint32_t>(batch[i].name.size()),
                                  heads[i]};
      kept.address = addressIds[i];
      kept.name = nameIds[i];
      rows_.push_back(kept);
    }
    batch += n;
  }
}

void LogTableBuilder::UseFileNames(std::shared_ptr<StringPool> files) {
  files_ = std::move(files);
  filesGiven_ = true;
}

void LogTableBuilder::AddKeyedRow(const Cells& row, std::uint32_t addressKey, std::uint32_t nameKey,
                                  std::uint32_t fileId) {
  LogTable::Row kept = Keep(row, filesGiven_ && keep_.fileName ? fileId : FileOf(row));
  const auto idOf = [](std::vector<std::uint32_t>& ofKey, std::uint32_t key, StringPool& pool,
                       std::string_view text) {
    if (key >= ofKey.size())
      ofKey.resize(std::max<std::size_t>(key + 1, ofKey.size() * 2), UINT32_MAX);
    if (ofKey[key] == UINT32_MAX)
      ofKey[key] = pool.Intern(text);
    return ofKey[key];
  };
  kept.address = idOf(addressOfKey_, addressKey, *addresses_, row.address);
  kept.name = idOf(nameOfKey_, nameKey, *names_, row.name);
  rows_.push_back(kept);
}

// Texts a piece brings that are worth a thread of their own to look up.
constexpr std::size_t kMappedApart = 65536;

void LogTableBuilder::Append(LogTableBuilder&& rest) {
  // Looked up once per text, not once per row; each pool of `rest` goes once looked up, so that
  // its texts are held twice only meanwhile.
  const auto mapped = [](auto& from, StringPool& into, bool indexed) {
    std::vector<std::uint32_t> ids = indexed ? into.InternAll(*from) : into.AppendAll(*from);
    from = std::make_unique<StringPool>();
    return ids;
  };
  // A long piece's addresses on a second core meanwhile: the other piece's thread is done.
  std::future<std::vector<std::uint32_t>> addressesMapped = std::async(
      rest.addresses_->Size() >= kMappedApart ? std::launch::async : std::launch::deferred,
      [&] { return mapped(rest.addresses_, *addresses_, false); });  // dropped once finished
  const std::vector<std::uint32_t> nameIds = mapped(rest.names_, *names_, true);
  const std::vector<std::uint32_t> accountIds = mapped(rest.accounts_, *accounts_, true);
  const std::vector<std::uint32_t> fileIds = mapped(rest.files_, *files_, true);
  const std::vector<std::uint32_t> addressIds = addressesMapped.get();
  // A length-led text of `rest`'s bytes, copied whole; returns where its copy ends.
  const auto copied = [](const ByteArena& from, std::uint32_t offset, std::size_t more,
                         ByteArena& into, std::uint32_t& at) {
    const char* const start = from.View(offset, 1).data();
    const char* end = start;
    end += TakeLength(end);
    const auto size = static_cast<std::size_t>(end - start);
    return std::copy(start, end + more, into.Extend(size + more, at)) - more;
  };
  // The rows' ids first, on two cores for a long piece: storing millions of rows into room not
  // touched yet is bound by the memory, which two cores reach faster than one.
  const std::size_t base = rows_.size();
  const std::size_t count = rest.rows_.size();
  rows_.resize(base + count);
  if (accounts_->Size() > LogTable::kMostAccounts)
    throw std::length_error("more than 2^28 accounts");
  const auto remap = [&](std::size_t first, std::size_t last) {
    const LogTable::Row* from = rest.rows_.data();
    LogTable::Row* to = rows_.data() + base;
    for (std::size_t r = first; r < last; ++r) {
      LogTable::Row row = from[r];
      row.address = addressIds[row.address];
      row.name = nameIds[row.name];
      row.account = accountIds[row.account] & (LogTable::kMostAccounts - 1);
      if (row.keeps == 0)
        row.kept = fileIds[row.kept];
      to[r] = row;
    }
  };
  InTwoHalves(count, remap);
  // Then what only some rows have, in order: cells kept beside the ids, Date/Time cells aside.
  if (!rest.kept_->Empty() || !rest.dateTextAt_.empty()) {
    for (std::size_t r = 0; r < count; ++r) {
      LogTable::Row& row = rows_[base + r];
      if (row.keeps != 0) {
        const std::uint32_t file = fileIds[LogTable::FileIdIn(*rest.kept_, rest.rows_[r])];
        char* const id = copied(*rest.kept_, row.kept, sizeof file, *kept_, row.kept);
        std::memcpy(id, &file, sizeof file);
      }
      if (r < rest.dateTextAt_.size() && rest.dateTextAt_[r] != 0) {
        const std::uint32_t aside = rest.dateTextAt_[r];
        dateTextAt_.resize(base + r + 1, 0);
        dateTextAt_.back() = aside == kWrittenFromDate
                                 ? kWrittenFromDate
                                 : SetDateTextAside(rest.DateTextAside(aside));
      }
    }
  }
  if (dates_ && rest.dates_)
    dates_->Append(std::move(*rest.dates_));
  decltype(rest.rows_)().swap(rest.rows_);
  rest.dateTextAt_ = {};
  rest.dateTexts_ = std::make_unique<ByteArena>(kKeptBlockShift);
}

LogTable LogTableBuilder::Finish(Encoding encoding) && {
  std::optional<std::vector<Timestamp>> read;
  DateOrder order = DateOrder::Detect;
  if (dates_) {
    order = dates_->Settled();
    read = std::move(*dates_).Finish([this](std::size_t row, std::string_view cell) {
      if (row < dateTextAt_.size() && dateTextAt_[row] == kWrittenFromDate)
        dateTextAt_[row] = SetDateTextAside(cell);  // no date to write it from
    });
  }
  return std::move(*this).FinishWith(encoding, std::move(read), order);
}

LogTable LogTableBuilder::Finish(Encoding encoding, std::vector<Timestamp> dates,
                                 DateOrder order) && {
  if (dates.size() != rows_.size())
    throw std::invalid_argument("one date per row");
  return std::move(*this).FinishWith(encoding, std::move(dates), order);
}

LogTable LogTableBuilder::FinishWith(Encoding encoding, std::optional<std::vector<Timestamp>> dates,
                                     DateOrder order) && {
  LogTable table;
  if (encoding != Encoding::Utf8) {
    // The decoding is one-to-one, so the decoded names keep their ids.
    auto decoded = std::make_unique<StringPool>();
    for (std::uint32_t id = 0; id < names_->Size(); ++id)
      decoded->Intern(DecodeToUtf8(names_->Text(id), encoding));
    names_ = std::move(decoded);
  }
  // Addresses are only ever asked for by id; File Names keep their index for rows to come, as
  // hashing half a million texts again would hold up the first rows a follow reads.
  addresses_->DropIndex();
  table.kept_ = std::move(kept_);
  table.addresses_ = std::move(addresses_);
  table.accounts_ = std::move(accounts_);
  table.names_ = std::move(names_);
  if (keep_.fileName)
    table.files_ = std::move(files_);
  table.encoding_ = encoding;
  table.rows_ = std::move(rows_);
  if (dates) {
    table.datesOrder_ = order;
    table.dates_ = RowDates(*dates);
    dates->clear();
    dates->shrink_to_fit();
  }
  // Each Date/Time cell set aside goes where no form writes it back from its date.
  const DateForm plain = PlainYearLastForm(order == DateOrder::DayFirst);
  char written[DateForm::kMaxLength];
  for (std::size_t r = 0; r < dateTextAt_.size(); ++r) {
    if (dateTextAt_[r] == 0)
      continue;
    const std::string_view text =
        dateTextAt_[r] == kWrittenFromDate
            ? std::string_view(written, plain.Write(table.dates_[r], written))
            : DateTextAside(dateTextAt_[r]);
    LogTable::Row& row = table.rows_[r];
    const std::uint32_t form =
        table.FormOf(text, table.dates_.empty() ? kUndated : table.dates_[r]);
    if (form != 0) {
      row.form = form & 0x7;
      continue;
    }
    row.form = 0;
    LogTable::PutCells(*table.kept_, text, row.kept, row);  // row.kept: its File Name id
  }
  dateTexts_.reset();
  dateTextAt_ = {};
  return table;
}

}  // namespace quorvane
