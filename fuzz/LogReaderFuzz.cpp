// Feeds arbitrary bytes to the log reader and compares what it makes of them with the plain
// reference reading: same success, same failing line, same rows and cells, same encoding, valid
// UTF-8 text. Each input is read with automatic encoding and with one forced encoding, from
// memory and (on Linux) from a file, which the fuzz build reads in pieces of a few bytes.
#include <cstddef>
#include <cstdint>
#include <map>
#include <string>
#include <string_view>

#if defined(__linux__)
#include <sys/mman.h>
#include <unistd.h>
#endif
#include <zlib.h>

#include "FuzzCheck.h"
#include "ReferenceReader.h"
#include "logs/DateTime.h"
#include "logs/LogReader.h"
#include "logs/TextEncoding.h"

namespace {

using namespace quorvane;

// Interned ids: equal texts must share an id and different texts must not.
class IdCheck {
 public:
  // Ids number the texts in the order they first come.
  void See(const std::string& text, std::uint32_t id) {
    const auto [at, added] = ids_.emplace(text, id);
    FUZZ_CHECK(at->second == id && (!added || id + 1 == ids_.size()));
    FUZZ_CHECK(texts_.emplace(id, text).first->second == text);
  }

 private:
  std::map<std::string, std::uint32_t> ids_;
  std::map<std::uint32_t, std::string> texts_;
};

void CheckEncoding(std::string_view bytes) {
  const bool valid = fuzz::ReferenceValidUtf8(bytes);
  FUZZ_CHECK(IsValidUtf8(bytes) == valid);
  for (Encoding encoding : {Encoding::Windows1252, Encoding::MacRoman})
    FUZZ_CHECK(DecodeToUtf8(bytes, encoding) == fuzz::ReferenceDecode(bytes, encoding));
  if (!valid)
    return;
  std::string again;
  for (char32_t cp : Utf8ToCodePoints(bytes))
    AppendUtf8(again, cp);
  FUZZ_CHECK(again == bytes);
}

// The read keeps the cells the options keep (the others read as empty) and dates them as the
// date reader dates the reference's cells.
void CheckRead(const ReadResult& result, const ReadOptions& options,
               const fuzz::ReferenceLog& expected) {
  FUZZ_CHECK(result.Ok() == expected.ok);
  if (!result.Ok()) {
    FUZZ_CHECK(result.error.line == expected.errorLine);
    FUZZ_CHECK(!result.error.reason.empty());
    return;
  }
  const LogTable& table = *result.table;
  FUZZ_CHECK(table.TextEncoding() == expected.encoding);
  FUZZ_CHECK(table.RowCount() == expected.rows.size());
  IdCheck addressIds;
  IdCheck nameIds;
  for (std::size_t row = 0; row < table.RowCount(); ++row) {
    for (int column = 0; column < kColumnCount; ++column) {
      const std::string& raw = expected.rows[row][static_cast<std::size_t>(column)];
      const std::string text = table.CellText(row, Column(column));
      const bool kept = (column != 0 || options.kept.dateTime) &&
                        (column != 2 || options.kept.account) &&
                        (column != 4 || options.kept.fileName);
      FUZZ_CHECK(text == (kept ? fuzz::ReferenceDecode(raw, expected.encoding) : ""));
      FUZZ_CHECK(fuzz::ReferenceValidUtf8(text));
    }
    const std::string& address = expected.rows[row][1];
    FUZZ_CHECK(table.Address(row) == address);
    addressIds.See(address, table.AddressId(row));
    const std::string name(table.Name(row));
    FUZZ_CHECK(name == table.CellText(row, Column::Name));
    FUZZ_CHECK(table.NameText(table.NameId(row)) == name);
    FUZZ_CHECK(table.FindName(name) == table.NameId(row));
    nameIds.See(name, table.NameId(row));
  }
  FUZZ_CHECK(table.HasDates() == (options.dates.has_value() || table.RowCount() == 0));
  if (options.dates) {
    const std::vector<Timestamp> dates = ParseDateColumn(
        expected.rows.size(), [&](std::size_t row) { return expected.rows[row][0]; },
        *options.dates);
    for (std::size_t row = 0; row < table.RowCount(); ++row)
      FUZZ_CHECK(table.Date(row) == dates[row]);
  }
}

#if defined(__linux__)
// Whether zlib unpacks the bytes whole as one gzip stream.
bool WholeGzip(std::string_view bytes) {
  z_stream stream{};
  if (inflateInit2(&stream, 15 + 16) != Z_OK)
    return false;
  stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(bytes.data()));
  stream.avail_in = static_cast<uInt>(bytes.size());
  Bytef out[1 << 14];
  int status;
  do {
    stream.next_out = out;
    stream.avail_out = sizeof out;
    status = inflate(&stream, Z_NO_FLUSH);
  } while (status == Z_OK);
  inflateEnd(&stream);
  return status == Z_STREAM_END && stream.avail_in == 0;
}

// The same bytes through ReadLogFile, from an in-memory file.
void CheckFileRead(std::string_view bytes, const ReadOptions& options,
                   const fuzz::ReferenceLog& expected) {
  const int fd = memfd_create("log", MFD_CLOEXEC);
  if (fd < 0)
    return;
  if (write(fd, bytes.data(), bytes.size()) == static_cast<ssize_t>(bytes.size())) {
    const ReadResult read = ReadLogFile("/proc/self/fd/" + std::to_string(fd), options);
    if (bytes.substr(0, 2) != "\x1f\x8b") {
      CheckRead(read, options, expected);
    } else if (!WholeGzip(bytes)) {
      // A file with gzip's signature is unpacked, whatever its text: a damaged or cut archive
      // fails on no line. (What a whole one holds is the server target's to check.)
      FUZZ_CHECK(!read.Ok() && read.error.line == 0 && !read.error.reason.empty());
    }
  }
  close(fd);
}
#endif

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view bytes(reinterpret_cast<const char*>(data), size);
  CheckEncoding(bytes);

  const EncodingChoice forced[] = {EncodingChoice::Utf8, EncodingChoice::Windows1252,
                                   EncodingChoice::MacRoman};
  for (EncodingChoice choice : {EncodingChoice::Auto, forced[size % 3]}) {
    ReadOptions options;
    options.encoding = choice;
    // The second read keeps fewer cells and reads the dates, as a report may.
    if (choice != EncodingChoice::Auto) {
      options.kept = {(size & 1) != 0, (size & 2) != 0, (size & 4) != 0};
      options.dates = static_cast<DateOrder>(size / 8 % 3);
    }
    const fuzz::ReferenceLog expected = fuzz::ReferenceRead(bytes, choice);
    CheckRead(ParseLog(bytes, options), options, expected);
#if defined(__linux__)
    CheckFileRead(bytes, options, expected);
#endif
  }
  return 0;
}
