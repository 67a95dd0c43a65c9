#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "logs/ByteBuffer.h"
#include "logs/StringPool.h"
#include "logs/TextEncoding.h"

namespace quorvane {

enum class Column { DateTime = 0, Address = 1, Account = 2, Name = 3, FileName = 4 };
inline constexpr int kColumnCount = 5;

// The transfers of one log, in file order. Cells keep the file's bytes; the table owns the file
// buffer and refers into it. Addresses and names are interned: each row holds their ids, so the
// analysis compares integers. Name texts are held as UTF-8 (decoded once per distinct name) so a
// rename can put in any name, whatever the file's encoding.
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

  // The Address cell's bytes and its id: rows with equal Address bytes share one id.
  std::string_view Address(std::size_t row) const { return addresses_.Text(rows_[row].address); }
  std::uint32_t AddressId(std::size_t row) const { return rows_[row].address; }
  std::size_t AddressIdCount() const { return addresses_.Size(); }
  std::string_view AddressText(std::uint32_t id) const { return addresses_.Text(id); }

  // The File Name cell's bytes, as in the file.
  std::string_view FileNameBytes(std::size_t row) const { return Bytes(rows_[row].fileName); }

  // The Name cell as UTF-8 text and its id: rows with equal names share one id.
  std::string_view Name(std::size_t row) const { return names_.Text(rows_[row].name); }
  std::uint32_t NameId(std::size_t row) const { return rows_[row].name; }
  std::size_t NameIdCount() const { return names_.Size(); }
  std::string_view NameText(std::uint32_t id) const { return names_.Text(id); }
  std::optional<std::uint32_t> FindName(std::string_view utf8) const { return names_.Find(utf8); }

  // Removes one row; the rows behind it move up by one.
  void RemoveRow(std::size_t row);

  // Rewrites every Name cell that equals `from` exactly to `to`; returns how many it rewrote.
  std::size_t RenameUser(std::string_view from, std::string_view to);

 private:
  friend class LogTableBuilder;

  struct Span {
    std::uint32_t offset = 0;
    std::uint32_t length = 0;
  };
  struct Row {
    Span dateTime;
    Span account;
    Span fileName;
    std::uint32_t address = 0;
    std::uint32_t name = 0;
  };

  std::string_view Bytes(Span span) const;

  ByteBuffer buffer_;  // the file's bytes
  Encoding encoding_ = Encoding::Utf8;
  std::vector<Row, LargeAllocator<Row>> rows_;
  StringPool addresses_;
  StringPool names_;
};

// Fills a LogTable from a buffer of file bytes; used by the reader and by tests.
class LogTableBuilder {
 public:
  LogTableBuilder(ByteBuffer bytes, Encoding encoding);

  std::string_view Bytes() const { return table_.buffer_.View(); }
  void Reserve(std::size_t rows) { table_.rows_.reserve(rows); }
  // Fields are views into Bytes().
  void AddRow(std::string_view dateTime, std::string_view address, std::string_view account,
              std::string_view name, std::string_view fileName);
  LogTable Finish() &&;

 private:
  LogTable::Span SpanOf(std::string_view field) const;

  LogTable table_;
};

}  // namespace quorvane
