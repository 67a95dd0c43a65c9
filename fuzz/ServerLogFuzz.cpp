// Feeds arbitrary bytes to the server log reader and compares what it makes of them with the
// plain reference reading: whether they are a server log and of which layout, the rows of both
// tables cell by cell, and the unreadable lines. Read from memory, and (on Linux) from a file and
// from a gzip file of the same text, which the fuzz build reads in pieces of a few bytes.
#include <zlib.h>

#include <cstdint>
#include <string>
#include <string_view>

#if defined(__linux__)
#include <sys/mman.h>
#include <unistd.h>
#endif

#include "FuzzCheck.h"
#include "ReferenceReader.h"
#include "ServerReference.h"
#include "logs/LogReader.h"

namespace {

using namespace quorvane;

void CheckTable(const LogTable& table, const std::vector<std::array<std::string, 5>>& rows) {
  FUZZ_CHECK(table.RowCount() == rows.size());
  for (std::size_t row = 0; row < rows.size(); ++row) {
    for (int column = 0; column < kColumnCount; ++column) {
      const std::string text = table.CellText(row, Column(column));
      FUZZ_CHECK(text == rows[row][static_cast<std::size_t>(column)]);
      FUZZ_CHECK(fuzz::ReferenceValidUtf8(text));
    }
  }
}

void Check(const AnyReadResult& read, const fuzz::ReferenceServerLog& expected) {
  if (expected.layout == 0) {
    FUZZ_CHECK(read.format == LogFormat::Classic);
    return;
  }
  FUZZ_CHECK(read.Ok());
  FUZZ_CHECK(read.format == (expected.layout == 1 ? LogFormat::Mobius : LogFormat::MobiusLegacy));
  CheckTable(read.downloads, expected.downloads);
  CheckTable(read.uploads, expected.uploads);
  FUZZ_CHECK(read.unreadableLines == expected.unreadable);
}

#if defined(__linux__)
void CheckFile(std::string_view bytes, bool compressed, const fuzz::ReferenceServerLog& expected) {
  const int fd = memfd_create("log", MFD_CLOEXEC);
  if (fd < 0)
    return;
  const auto size = static_cast<unsigned>(bytes.size());
  if (compressed) {
    gzFile gz = gzdopen(dup(fd), "wb1");  // gzclose closes the copy
    FUZZ_CHECK(gz != nullptr && (size == 0 || gzwrite(gz, bytes.data(), size) == int(size)));
    FUZZ_CHECK(gzclose(gz) == Z_OK);
  } else {
    FUZZ_CHECK(write(fd, bytes.data(), size) == static_cast<ssize_t>(size));
  }
  const AnyReadResult read =
      ReadAnyLog(InputName{"/proc/self/fd/" + std::to_string(fd), false}, Expect::Either);
  FUZZ_CHECK(read.compressed == compressed || !read.Ok());
  Check(read, expected);
  close(fd);
}
#endif

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view bytes(reinterpret_cast<const char*>(data), size);
  const fuzz::ReferenceServerLog expected = fuzz::ReferenceServerRead(bytes);
  Check(ParseAnyLog(bytes, Expect::Either), expected);
#if defined(__linux__)
  // A text starting with gzip's signature is itself unpacked: only the plain file stands for it.
  if (size < 2 || data[0] != 0x1F || data[1] != 0x8B)
    CheckFile(bytes, false, expected);
  CheckFile(bytes, true, expected);
#endif
  return 0;
}
