// The report for machines: CSV for spreadsheets, JSON for scripts. Both UTF-8 with LF line ends,
// the figures' texts exactly as the text report writes them.
#include <string>
#include <string_view>

#include "analysis/Report.h"
#include "analysis/TableCells.h"
#include "logs/TextEncoding.h"

namespace quorvane {

namespace {

// Text as valid UTF-8: bytes that are not (a name typed on the command line) become U+FFFD, as
// the text report and JSON write them.
std::string ValidUtf8(std::string_view text) {
  std::string valid;
  for (char32_t c : Utf8ToCodePoints(text))
    AppendUtf8(valid, c);
  return valid;
}

// RFC 4180: a field holding a comma, a double quote, CR or LF is quoted, its quotes doubled.
void AppendCsvField(std::string& out, std::string_view field) {
  if (!IsValidUtf8(field)) {
    AppendCsvField(out, ValidUtf8(field));
    return;
  }
  if (field.find_first_of(",\"\r\n") == std::string_view::npos) {
    out.append(field);
    return;
  }
  out.push_back('"');
  for (char c : field) {
    if (c == '"')
      out.push_back('"');
    out.push_back(c);
  }
  out.push_back('"');
}

// RFC 8259: quotes, backslashes and control characters escaped; bytes that are not UTF-8 (a name
// typed on the command line) become U+FFFD so the document stays valid.
void AppendJsonString(std::string& out, std::string_view text) {
  static constexpr char kHex[] = "0123456789abcdef";
  out.push_back('"');
  for (char32_t c : Utf8ToCodePoints(text)) {
    switch (c) {
      case '"':
        out += "\\\"";
        break;
      case '\\':
        out += "\\\\";
        break;
      case '\n':
        out += "\\n";
        break;
      case '\r':
        out += "\\r";
        break;
      case '\t':
        out += "\\t";
        break;
      default:
        if (c < 0x20) {
          out += "\\u00";
          out.push_back(kHex[c >> 4]);
          out.push_back(kHex[c & 0xF]);
        } else {
          AppendUtf8(out, c);
        }
    }
  }
  out.push_back('"');
}

// Writes one JSON object of named members on one line: {"key": value, ...}.
class JsonObject {
 public:
  explicit JsonObject(std::string& out) : out_(out) { out_.push_back('{'); }
  ~JsonObject() { out_.push_back('}'); }
  JsonObject(const JsonObject&) = delete;
  JsonObject& operator=(const JsonObject&) = delete;

  JsonObject& Text(std::string_view key, std::string_view value) {
    AppendJsonString(Key(key), value);
    return *this;
  }
  // A time as text, or null when there is none.
  JsonObject& Time(std::string_view key, Timestamp value) {
    if (value == kUndated)
      Key(key) += "null";
    else
      Text(key, FormatTimestamp(value));
    return *this;
  }
  JsonObject& Bool(std::string_view key, bool value) {
    Key(key) += value ? "true" : "false";
    return *this;
  }
  JsonObject& Number(std::string_view key, std::size_t value) {
    Key(key) += std::to_string(value);
    return *this;
  }
  std::string& Key(std::string_view key) {
    if (!first_)
      out_ += ", ";
    first_ = false;
    AppendJsonString(out_, key);
    out_ += ": ";
    return out_;
  }

 private:
  std::string& out_;
  bool first_ = true;
};

// A member whose value is a list written one element a line.
template <typename Items, typename Write>
void AppendJsonList(std::string& out, std::string_view key, const Items& items, Write write) {
  out += ",\n  ";
  AppendJsonString(out, key);
  out += ": [";
  for (std::size_t i = 0; i < items.size(); ++i) {
    out += i == 0 ? "\n    " : ",\n    ";
    write(items[i]);
  }
  out += items.empty() ? "]" : "\n  ]";
}

}  // namespace

namespace {

// A CSV header of the columns, then a line of each item's cells.
template <typename Items, std::size_t N>
std::string FormatCsv(const detail::TableColumn (&columns)[N], const Items& items) {
  std::string out;
  for (const detail::TableColumn& column : columns)
    out.append(column.name).push_back(',');
  out.back() = '\n';
  for (const auto& item : items) {
    detail::CellsOf(item, [&](std::string_view cell) {
      AppendCsvField(out, cell);
      out.push_back(',');
    });
    out.back() = '\n';
  }
  return out;
}

}  // namespace

std::string FormatCsvUsers(const std::vector<UserFigures>& users) {
  return FormatCsv(detail::kUserColumns, users);
}

std::string FormatCsvFiles(const FilesTable& files) {
  return FormatCsv(detail::kFileColumns, files.files);
}

std::string FormatJsonReport(const Report& report) {
  std::string out = "{\n  ";
  if (report.period) {
    {
      JsonObject period(out.append("\"period\": "));
      for (const auto& [key, day] :
           {std::pair{"from", report.period->firstDay}, std::pair{"to", report.period->lastDay}}) {
        if (day)
          period.Text(key, FormatDay(*day));
        else
          period.Key(key) += "null";
      }
      period.Number("undated_left_out", report.undatedLeftOut);
    }
    out += ",\n  ";
  }
  if (report.sources) {
    // After the period (when there is one), before the figures: where they come from.
    out += "\"sources\": [";
    for (std::size_t i = 0; i < report.sources->size(); ++i) {
      const SourceInfo& source = (*report.sources)[i];
      out += i == 0 ? "\n    " : ",\n    ";
      JsonObject object(out);
      object.Text("file", source.input.Text())
          .Text("format", source.FormatName())
          .Bool("compressed", source.compressed)
          .Number("downloads", source.downloads)
          .Number("uploads", source.uploads)
          .Number("overlap_left_out", source.overlapLeftOut);
      std::string& lines = object.Key("unreadable_lines");
      lines.push_back('[');
      for (std::size_t j = 0; j < source.unreadableLines.size(); ++j)
        lines.append(j == 0 ? "" : ", ").append(std::to_string(source.unreadableLines[j]));
      lines.push_back(']');
    }
    out += report.sources->empty() ? "],\n  " : "\n  ],\n  ";
  }
  JsonObject(out.append("\"totals\": "))
      .Number("downloads", report.totals.downloads)
      .Number("uploads", report.totals.uploads)
      .Text("ratio", report.totals.ratio);
  out += ",\n  ";
  JsonObject(out.append("\"averages\": "))
      .Text("downloads", report.averages.downloadsText)
      .Text("uploads", report.averages.uploadsText)
      .Text("ratio", report.averages.ratio);
  if (report.figures) {
    AppendJsonList(out, "users", *report.figures, [&](const UserFigures& user) {
      JsonObject(out)
          .Text("user", user.name)
          .Number("downloads", user.downloads)
          .Number("uploads", user.uploads)
          .Text("ratio", user.Ratio())
          .Number("credit", user.credit)
          .Number("addresses", user.addresses)
          .Time("first_seen", user.firstSeen)
          .Time("last_seen", user.lastSeen);
    });
  }
  if (report.files) {
    AppendJsonList(out, "files", report.files->files, [&](const FileFigures& file) {
      JsonObject(out)
          .Text("file", file.File())
          .Number("downloads", file.downloads)
          .Number("downloaders", file.downloaders)
          .Number("uploads", file.uploads)
          .Text("first_uploader", file.firstUploader)
          .Time("first_download", file.firstDownload)
          .Time("last_download", file.lastDownload);
    });
  }
  if (!report.userReports.empty()) {
    AppendJsonList(out, "reports", report.userReports, [&](const NamedUserReport& user) {
      JsonObject object(out);
      object.Text("user", user.name)
          .Number("downloads", user.report.downloads)
          .Number("uploads", user.report.uploads)
          .Text("ratio", user.report.ratio);
      std::string& files = object.Key("uploaded_files");
      files.push_back('[');
      for (std::size_t i = 0; i < user.uploadedFiles.size(); ++i) {
        if (i != 0)
          files += ", ";
        AppendJsonString(files, user.uploadedFiles[i]);
      }
      files.push_back(']');
    });
  }
  out += "\n}\n";
  return out;
}

}  // namespace quorvane
