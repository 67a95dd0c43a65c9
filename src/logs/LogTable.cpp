#include "logs/LogTable.h"

#include <utility>

namespace quorvane {

LogTable::LogTable() = default;
LogTable::LogTable(LogTable&&) noexcept = default;
LogTable& LogTable::operator=(LogTable&&) noexcept = default;
LogTable::~LogTable() = default;

std::string_view LogTable::Bytes(Span span) const {
  return buffer_.View().substr(span.offset, span.length);
}

std::string LogTable::CellText(std::size_t row, Column column) const {
  const Row& r = rows_[row];
  switch (column) {
    case Column::DateTime:
      return DecodeToUtf8(Bytes(r.dateTime), encoding_);
    case Column::Address:
      return DecodeToUtf8(addresses_.Text(r.address), encoding_);
    case Column::Account:
      return DecodeToUtf8(Bytes(r.account), encoding_);
    case Column::Name:
      return std::string(names_.Text(r.name));
    case Column::FileName:
      return DecodeToUtf8(Bytes(r.fileName), encoding_);
  }
  return {};
}

void LogTable::RemoveRow(std::size_t row) {
  if (row < rows_.size())
    rows_.erase(rows_.begin() + static_cast<std::ptrdiff_t>(row));
}

std::size_t LogTable::RenameUser(std::string_view from, std::string_view to) {
  const std::optional<std::uint32_t> fromId = names_.Find(from);
  if (!fromId)
    return 0;
  const std::uint32_t toId = names_.Intern(to);
  std::size_t count = 0;
  for (Row& r : rows_) {
    if (r.name == *fromId) {
      r.name = toId;
      ++count;
    }
  }
  return count;
}

LogTableBuilder::LogTableBuilder(ByteBuffer bytes, Encoding encoding) {
  table_.buffer_ = std::move(bytes);
  table_.encoding_ = encoding;
}

LogTable::Span LogTableBuilder::SpanOf(std::string_view field) const {
  return {static_cast<std::uint32_t>(field.data() - table_.buffer_.Data()),
          static_cast<std::uint32_t>(field.size())};
}

void LogTableBuilder::AddRow(std::string_view dateTime, std::string_view address,
                             std::string_view account, std::string_view name,
                             std::string_view fileName) {
  // Names are interned by their bytes here; Finish() turns them into UTF-8 text.
  table_.rows_.push_back({SpanOf(dateTime), SpanOf(account), SpanOf(fileName),
                          table_.addresses_.Intern(address), table_.names_.Intern(name)});
}

LogTable LogTableBuilder::Finish() && {
  if (table_.encoding_ != Encoding::Utf8) {
    // The decoding is one-to-one, so the decoded names keep their ids.
    StringPool decoded;
    for (std::uint32_t id = 0; id < table_.names_.Size(); ++id) {
      decoded.Intern(DecodeToUtf8(table_.names_.Text(id), table_.encoding_));
    }
    table_.names_ = std::move(decoded);
  }
  return std::move(table_);
}

}  // namespace quorvane
