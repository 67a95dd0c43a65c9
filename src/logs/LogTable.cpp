#include "logs/LogTable.h"

#include <algorithm>
#include <cstring>
#include <span>
#include <stdexcept>
#include <utility>

namespace quorvane {

namespace {

// Kept bytes live in blocks of 8 MiB (huge pages where the system has them).
constexpr unsigned kKeptBlockShift = 23;

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
const std::shared_ptr<StringPool>& NoNames() {
  static const auto empty = std::make_shared<StringPool>();
  return empty;
}

// The first eight bytes of a text, zero-padded.
std::uint64_t HeadOf(std::string_view text) {
  return TextHead(text.data(), text.size());
}

}  // namespace

LogTable::LogTable() : kept_(NoBytes()), addresses_(NoAddresses()), names_(NoNames()) {}

LogTable::LogTable(LogTable&& other) noexcept : LogTable() {
  *this = std::move(other);
}

LogTable& LogTable::operator=(LogTable&& other) noexcept {
  if (this != &other) {
    kept_ = std::exchange(other.kept_, NoBytes());
    addresses_ = std::exchange(other.addresses_, NoAddresses());
    names_ = std::exchange(other.names_, NoNames());
    encoding_ = other.encoding_;
    rows_ = std::move(other.rows_);
    other.rows_.clear();
    dates_ = std::move(other.dates_);
    other.dates_.clear();
    datesOrder_ = other.datesOrder_;
  }
  return *this;
}

LogTable::~LogTable() = default;

namespace {

// The kept cells are stored as the lengths of Date/Time and Account (seven bits a byte, the last
// byte below 0x80), then the three cells' bytes: a server log's cells may hold any byte, tabs too.
void PutLength(char*& at, std::size_t length) {
  for (; length >= 0x80; length >>= 7)
    *at++ = static_cast<char>(0x80 | (length & 0x7F));
  *at++ = static_cast<char>(length);
}

std::size_t LengthSize(std::size_t length) {
  std::size_t size = 1;
  for (; length >= 0x80; length >>= 7)
    ++size;
  return size;
}

std::size_t TakeLength(std::string_view& text) {
  std::size_t length = 0;
  for (unsigned shift = 0; !text.empty(); shift += 7) {
    const auto byte = static_cast<unsigned char>(text.front());
    text.remove_prefix(1);
    length |= static_cast<std::size_t>(byte & 0x7F) << shift;
    if (byte < 0x80)
      break;
  }
  return length;
}

}  // namespace

std::string_view LogTable::Field(const Row& row, int index) const {
  std::string_view text = kept_->View(row.kept, row.keptLength);
  const std::size_t dateLength = TakeLength(text);
  const std::size_t accountLength = TakeLength(text);
  if (index == 0)
    return text.substr(0, dateLength);
  if (index == 1)
    return text.substr(dateLength, accountLength);
  return text.substr(dateLength + accountLength);
}

std::string LogTable::CellText(std::size_t row, Column column) const {
  const Row& r = rows_[row];
  switch (column) {
    case Column::DateTime:
      return DecodeToUtf8(Field(r, 0), encoding_);
    case Column::Address:
      return DecodeToUtf8(addresses_->Text(r.address), encoding_);
    case Column::Account:
      return DecodeToUtf8(Field(r, 1), encoding_);
    case Column::Name:
      return std::string(names_->Text(r.name));
    case Column::FileName:
      return DecodeToUtf8(Field(r, 2), encoding_);
  }
  return {};
}

std::string_view LogTable::CellBytes(std::size_t row, Column column) const {
  const Row& r = rows_[row];
  switch (column) {
    case Column::DateTime:
      return Field(r, 0);
    case Column::Address:
      return addresses_->Text(r.address);
    case Column::Account:
      return Field(r, 1);
    case Column::Name:
      return names_->Text(r.name);
    case Column::FileName:
      return Field(r, 2);
  }
  return {};
}

void LogTable::SetDates(std::vector<Timestamp> dates, DateOrder order) {
  if (dates.size() != rows_.size())
    throw std::invalid_argument("one date per row");
  dates_ = std::move(dates);
  datesOrder_ = order;
}

void LogTable::ReadDates(DateOrder order) {
  dates_ = ParseDateColumn(
      rows_.size(), [this](std::size_t row) { return Field(rows_[row], 0); }, order);
}

std::size_t LogTable::DatesOnlyInOtherOrder(DateOrder order) const {
  if (order == DateOrder::Detect)
    return 0;
  const auto cell = [this](std::size_t row) { return Field(rows_[row], 0); };
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
  rows_.erase(rows_.begin() + static_cast<std::ptrdiff_t>(row));
  if (!dates_.empty())
    dates_.erase(dates_.begin() + static_cast<std::ptrdiff_t>(row));
}

StringPool& LogTable::OwnAddresses() {
  if (addresses_.use_count() > 1)  // shared with a selection or the empty tables
    addresses_ = std::make_shared<StringPool>(*addresses_);
  return *addresses_;
}

StringPool& LogTable::OwnNames() {
  if (names_.use_count() > 1)
    names_ = std::make_shared<StringPool>(*names_);
  return *names_;
}

void LogTable::AppendRows(const LogTable& from, std::size_t first, std::size_t last) {
  last = std::min(last, from.rows_.size());
  if (first >= last)
    return;
  if (rows_.empty() && dates_.empty()) {
    // Nothing kept yet: the table takes the encoding of what it is given.
    encoding_ = from.encoding_;
    if (!from.dates_.empty())
      dates_.reserve(last - first);
  }
  const bool wantDates = !dates_.empty() || (rows_.empty() && !from.dates_.empty());
  if (from.encoding_ != encoding_ && encoding_ != Encoding::Utf8) {
    bool ascii = true;
    for (std::size_t i = first; i < last && ascii; ++i) {
      const Row& r = from.rows_[i];
      for (const std::string_view text :
           {from.kept_->View(r.kept, r.keptLength), from.addresses_->Text(r.address)})
        ascii = ascii && std::all_of(text.begin(), text.end(),
                                     [](char c) { return static_cast<unsigned char>(c) < 0x80; });
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
  StringPool& names = OwnNames();
  std::optional<DateColumnParser> dates;
  if (wantDates && from.dates_.empty())
    dates.emplace(DateOrder::Detect, last - first);
  std::string cells[3];
  for (std::size_t i = first; i < last; ++i) {
    const Row& source = from.rows_[i];
    Row row;
    const std::string_view address = from.addresses_->Text(source.address);
    row.address = addresses.Intern(decode ? DecodeToUtf8(address, from.encoding_) : address);
    row.name = names.Intern(from.names_->Text(source.name));
    std::size_t length = 0;
    for (int c = 0; c < 3; ++c) {
      const std::string_view field = from.Field(source, c);
      cells[c] = decode ? DecodeToUtf8(field, from.encoding_) : std::string(field);
      length += cells[c].size() + (c < 2 ? LengthSize(cells[c].size()) : 0);
    }
    if (length > 2) {
      char* at = kept_->Extend(length, row.kept);
      PutLength(at, cells[0].size());
      PutLength(at, cells[1].size());
      for (const std::string& cell : cells)
        at = std::copy(cell.begin(), cell.end(), at);
      row.keptLength = static_cast<std::uint32_t>(length);
    }
    rows_.push_back(row);
    if (dates)
      dates->Add(from.Field(source, 0));
    else if (wantDates)
      dates_.push_back(from.dates_[i]);
  }
  if (dates) {
    const std::vector<Timestamp> read = std::move(*dates).Finish();
    dates_.insert(dates_.end(), read.begin(), read.end());
  }
}

void LogTable::ReplaceRow(std::size_t row, const LogTable& from, std::size_t fromRow) {
  if (row >= rows_.size() || fromRow >= from.rows_.size())
    throw std::out_of_range("ReplaceRow: no such row");
  AppendRows(from, fromRow, fromRow + 1);
  rows_[row] = rows_.back();
  rows_.pop_back();
  if (!dates_.empty()) {
    dates_[row] = dates_.back();
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

LogTable LogTable::NamesOnly() const {
  LogTable names;
  names.names_ = names_;
  names.encoding_ = encoding_;
  return names;
}

LogTable LogTable::SelectRows(const std::vector<std::size_t>& rows) const {
  LogTable selection;
  selection.kept_ = kept_;
  selection.addresses_ = addresses_;
  selection.names_ = names_;
  selection.encoding_ = encoding_;
  selection.rows_.reserve(rows.size());
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
  auto keptBytes = std::make_shared<ByteArena>(kKeptBlockShift);
  auto addresses = std::make_shared<StringPool>();
  auto names = std::make_shared<StringPool>();
  joined.rows_.reserve(rowCount);
  if (dates)
    joined.dates_.reserve(rowCount);
  const bool keepAny = kept.dateTime || kept.account || kept.fileName;
  constexpr std::uint32_t kNone = UINT32_MAX;
  std::string cells[3];
  for (const Part& part : parts) {
    const LogTable& table = *part.table;
    const bool decode = mixed && table.encoding_ != Encoding::Utf8;
    // Each part's ids are looked up once, not once per row.
    std::vector<std::uint32_t> addressIds(table.addresses_->Size(), kNone);
    std::vector<std::uint32_t> nameIds(table.names_->Size(), kNone);
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
      if (keepAny) {
        const bool keep[3] = {kept.dateTime, kept.account, kept.fileName};
        std::size_t length = 0;
        for (int c = 0; c < 3; ++c) {
          const std::string_view field = keep[c] ? table.Field(from, c) : std::string_view();
          cells[c] = decode ? DecodeToUtf8(field, table.encoding_) : std::string(field);
          length += cells[c].size() + (c < 2 ? LengthSize(cells[c].size()) : 0);
        }
        char* at = keptBytes->Extend(length, row.kept);
        PutLength(at, cells[0].size());
        PutLength(at, cells[1].size());
        for (const std::string& cell : cells)
          at = std::copy(cell.begin(), cell.end(), at);
        row.keptLength = static_cast<std::uint32_t>(length);
      }
      joined.rows_.push_back(row);
      if (dates)
        joined.dates_.push_back(table.Date(i));
    }
  }
  addresses->DropIndex();
  joined.kept_ = std::move(keptBytes);
  joined.addresses_ = std::move(addresses);
  joined.names_ = std::move(names);
  joined.encoding_ = mixed ? Encoding::Utf8 : parts.front().table->encoding_;
  joined.datesOrder_ = parts.back().table->datesOrder_;
  return joined;
}

bool LogTable::SameRow(const LogTable& a, std::size_t i, const LogTable& b, std::size_t j) {
  const Row& x = a.rows_[i];
  const Row& y = b.rows_[j];
  if (&a == &b)
    return x.address == y.address && x.name == y.name &&
           a.kept_->View(x.kept, x.keptLength) == b.kept_->View(y.kept, y.keptLength);
  if (a.names_->Text(x.name) != b.names_->Text(y.name))
    return false;
  if (a.encoding_ == b.encoding_)
    return a.addresses_->Text(x.address) == b.addresses_->Text(y.address) &&
           a.kept_->View(x.kept, x.keptLength) == b.kept_->View(y.kept, y.keptLength);
  for (Column column : {Column::DateTime, Column::Address, Column::Account, Column::FileName}) {
    if (a.CellText(i, column) != b.CellText(j, column))
      return false;
  }
  return true;
}

LogTableBuilder::LogTableBuilder(KeptCells kept, std::optional<DateOrder> dates, bool firstDateOnly)
    : keep_(kept),
      kept_(std::make_unique<ByteArena>(kKeptBlockShift)),
      addresses_(std::make_unique<StringPool>()),
      names_(std::make_unique<StringPool>()) {
  if (dates)
    dates_.emplace(*dates, 0, firstDateOnly);
}
LogTableBuilder::LogTableBuilder(LogTableBuilder&&) noexcept = default;
LogTableBuilder& LogTableBuilder::operator=(LogTableBuilder&&) noexcept = default;
LogTableBuilder::~LogTableBuilder() = default;

std::pair<std::uint32_t, std::uint32_t> LogTableBuilder::Keep(const Cells& row) {
  if (dates_)
    dates_->Add(row.dateTime);
  // The kept cells as one text.
  std::uint32_t kept = 0;
  std::size_t length = 0;
  if (keep_.dateTime || keep_.account || keep_.fileName) {
    const std::string_view dateTime = keep_.dateTime ? row.dateTime : std::string_view();
    const std::string_view account = keep_.account ? row.account : std::string_view();
    const std::string_view fileName = keep_.fileName ? row.fileName : std::string_view();
    length = LengthSize(dateTime.size()) + LengthSize(account.size()) + dateTime.size() +
             account.size() + fileName.size();
    char* at = kept_->Extend(length, kept);
    PutLength(at, dateTime.size());
    PutLength(at, account.size());
    // std::copy, not memcpy: a cell not kept is an empty view whose data() is null.
    at = std::copy(dateTime.begin(), dateTime.end(), at);
    at = std::copy(account.begin(), account.end(), at);
    std::copy(fileName.begin(), fileName.end(), at);
  }
  return {kept, static_cast<std::uint32_t>(length)};
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
    const auto [kept, length] = Keep(*rows);
    const std::uint32_t address = addresses_->Intern(rows->address);
    if (lastName_.size() <= address)
      lastName_.resize(address + 1, kNoName);
    const std::uint64_t head = HeadOf(rows->name);
    const std::uint32_t name =
        guessed(address, rows->name, head) ? lastName_[address].id : names_->Intern(rows->name);
    lastName_[address] = {name, static_cast<std::uint32_t>(rows->name.size()), head};
    rows_.push_back({kept, length, address, name});
    return;
  }
  for (const Cells* batch = rows; batch != rows + count;) {
    const std::size_t n =
        std::min<std::size_t>(kBatch, static_cast<std::size_t>(rows + count - batch));
    std::string_view texts[kBatch];
    std::uint32_t addressIds[kBatch], nameIds[kBatch], missIds[kBatch];
    std::uint64_t heads[kBatch];
    std::size_t missAt[kBatch], misses = 0;
    try {
      for (std::size_t i = 0; i < n; ++i)
        texts[i] = batch[i].address;
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
      names_->InternBatch(texts, misses, missIds);
    } catch (const std::length_error&) {
      // Row by row, so that the rows before the one that does not fit are added.
      for (std::size_t i = 0; i < n; ++i) {
        const auto [kept, length] = Keep(batch[i]);
        const std::uint32_t address = addresses_->Intern(batch[i].address);
        rows_.push_back({kept, length, address, names_->Intern(batch[i].name)});
      }
      batch += n;
      continue;
    }
    for (std::size_t m = 0; m < misses; ++m)
      nameIds[missAt[m]] = missIds[m];
    for (std::size_t i = 0; i < n; ++i) {
      const auto [kept, length] = Keep(batch[i]);
      lastName_[addressIds[i]] = {nameIds[i], static_cast<std::uint32_t>(batch[i].name.size()),
                                  heads[i]};
      rows_.push_back({kept, length, addressIds[i], nameIds[i]});
    }
    batch += n;
  }
}

void LogTableBuilder::AddKeyedRow(const Cells& row, std::uint32_t addressKey,
                                  std::uint32_t nameKey) {
  const auto [kept, length] = Keep(row);
  const auto idOf = [](std::vector<std::uint32_t>& ofKey, std::uint32_t key, StringPool& pool,
                       std::string_view text) {
    if (key >= ofKey.size())
      ofKey.resize(std::max<std::size_t>(key + 1, ofKey.size() * 2), UINT32_MAX);
    if (ofKey[key] == UINT32_MAX)
      ofKey[key] = pool.Intern(text);
    return ofKey[key];
  };
  const std::uint32_t address = idOf(addressOfKey_, addressKey, *addresses_, row.address);
  const std::uint32_t name = idOf(nameOfKey_, nameKey, *names_, row.name);
  rows_.push_back({kept, length, address, name});
}

void LogTableBuilder::Append(LogTableBuilder&& rest) {
  // Looked up once per text, not once per row; each pool of `rest` goes once looked up, so that
  // its texts are held twice only meanwhile.
  std::vector<std::uint32_t> addressIds(rest.addresses_->Size());
  for (std::uint32_t id = 0; id < addressIds.size(); ++id)
    addressIds[id] = addresses_->Intern(rest.addresses_->Text(id));
  rest.addresses_ = std::make_unique<StringPool>();
  std::vector<std::uint32_t> nameIds(rest.names_->Size());
  for (std::uint32_t id = 0; id < nameIds.size(); ++id)
    nameIds[id] = names_->Intern(rest.names_->Text(id));
  rest.names_ = std::make_unique<StringPool>();
  rows_.reserve(rows_.size() + rest.rows_.size());
  for (LogTable::Row row : rest.rows_) {
    row.address = addressIds[row.address];
    row.name = nameIds[row.name];
    if (row.keptLength != 0) {
      const std::string_view kept = rest.kept_->View(row.kept, row.keptLength);
      std::copy(kept.begin(), kept.end(), kept_->Extend(kept.size(), row.kept));
    }
    rows_.push_back(row);
  }
  if (dates_ && rest.dates_)
    dates_->Append(std::move(*rest.dates_));
  decltype(rest.rows_)().swap(rest.rows_);
}

LogTable LogTableBuilder::Finish(Encoding encoding) && {
  LogTable table;
  if (encoding != Encoding::Utf8) {
    // The decoding is one-to-one, so the decoded names keep their ids.
    auto decoded = std::make_unique<StringPool>();
    for (std::uint32_t id = 0; id < names_->Size(); ++id)
      decoded->Intern(DecodeToUtf8(names_->Text(id), encoding));
    names_ = std::move(decoded);
  }
  addresses_->DropIndex();  // addresses are only ever asked for by id
  table.kept_ = std::move(kept_);
  table.addresses_ = std::move(addresses_);
  table.names_ = std::move(names_);
  table.encoding_ = encoding;
  table.rows_ = std::move(rows_);
  if (dates_) {
    table.datesOrder_ = dates_->Settled();
    table.dates_ = std::move(*dates_).Finish();
  }
  return table;
}

}  // namespace quorvane
