#include "logs/LogReader.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>

#include "logs/TextEncoding.h"

namespace quorvane {

namespace {

constexpr int kFieldsNeeded = 5;

const char* FindByte(const char* from, const char* end, char byte) {
  const void* hit = std::memchr(from, byte, static_cast<std::size_t>(end - from));
  return hit ? static_cast<const char*>(hit) : end;
}

ReadResult Failure(std::uint64_t line, std::string reason) {
  ReadResult result;
  result.error = {line, std::move(reason)};
  return result;
}

std::string SystemReason(int error) {
  return std::strerror(error);
}

}  // namespace

ReadResult ParseLog(std::string_view bytes) {
  return ParseLog(ByteBuffer(bytes));
}

ReadResult ParseLog(ByteBuffer bytes) {
  if (bytes.Size() > kMaxLogBytes)
    return Failure(0, "the file is larger than 4 GiB");
  const Encoding encoding = IsValidUtf8(bytes.View()) ? Encoding::Utf8 : Encoding::Windows1252;
  LogTableBuilder builder(std::move(bytes), encoding);
  const std::string_view data = builder.Bytes();
  const char* p = data.data();
  const char* const end = p + data.size();

  const char* firstCr = FindByte(p, end, '\r');
  const bool lfLines = FindByte(p, firstCr, '\n') != firstCr;
  // Counting the line ends first is cheap next to growing the row vector many times.
  builder.Reserve(
      static_cast<std::size_t>(std::count(data.begin(), data.end(), lfLines ? '\n' : '\r')));

  std::uint64_t lineNumber = 0;
  while (p < end) {
    ++lineNumber;
    const char* lineEnd;
    const char* next;
    if (lfLines) {
      const char* lf = FindByte(p, end, '\n');
      lineEnd = (lf != p && lf != end && lf[-1] == '\r') ? lf - 1 : lf;
      next = lf == end ? end : lf + 1;
    } else {
      const char* cr = FindByte(p, end, '\r');
      lineEnd = cr;
      next = cr == end ? end : (cr + 1 != end && cr[1] == '\n' ? cr + 2 : cr + 1);
    }
    if (lineEnd == p)
      break;  // an empty line ends the data

    std::string_view fields[kFieldsNeeded];
    const char* fieldStart = p;
    int found = 0;
    while (found < kFieldsNeeded - 1) {
      const char* tab = FindByte(fieldStart, lineEnd, '\t');
      if (tab == lineEnd)
        break;
      fields[found++] = std::string_view(fieldStart, static_cast<std::size_t>(tab - fieldStart));
      fieldStart = tab + 1;
    }
    if (found < kFieldsNeeded - 1) {
      return Failure(lineNumber, "the line has " + std::to_string(found + 1) +
                                     (found == 0 ? " field" : " fields") + "; at least " +
                                     std::to_string(kFieldsNeeded) + " are needed");
    }
    // The fifth field runs to the next tab or the line end; further fields are ignored.
    const char* fifthEnd = FindByte(fieldStart, lineEnd, '\t');
    fields[4] = std::string_view(fieldStart, static_cast<std::size_t>(fifthEnd - fieldStart));

    if (lineNumber > 1)
      builder.AddRow(fields[0], fields[1], fields[2], fields[3], fields[4]);
    p = next;
  }
  if (p == data.data()) {  // nothing read, or the first line was empty
    return Failure(1, "there is no header line (the file is empty or its first line is empty)");
  }
  ReadResult result;
  result.table = std::move(builder).Finish();
  return result;
}

ReadResult ReadLogFile(const std::filesystem::path& path) {
#ifdef _WIN32
  std::unique_ptr<std::FILE, int (*)(std::FILE*)> file(_wfopen(path.c_str(), L"rb"), &std::fclose);
#else
  std::unique_ptr<std::FILE, int (*)(std::FILE*)> file(std::fopen(path.c_str(), "rb"),
                                                       &std::fclose);
#endif
  if (!file)
    return Failure(0, "cannot open the file: " + SystemReason(errno));

  std::error_code sizeError;
  const std::uintmax_t sizeHint = std::filesystem::file_size(path, sizeError);
  if (!sizeError && sizeHint > kMaxLogBytes)
    return Failure(0, "the file is larger than 4 GiB");
  // One more byte than the file holds, so the first read ends at the end of the file.
  ByteBuffer bytes(!sizeError && sizeHint < kMaxLogBytes ? static_cast<std::size_t>(sizeHint) + 1
                                                         : std::size_t{1} << 16);
  // One pass to the end of the file, whatever its size was when we started: a log that grows
  // meanwhile is read as far as it had grown.
  for (;;) {
    if (bytes.Size() == bytes.Capacity()) {
      if (bytes.Size() > kMaxLogBytes)
        return Failure(0, "the file is larger than 4 GiB");
      bytes.Grow(bytes.Capacity() * 2);
    }
    const std::size_t room = bytes.Capacity() - bytes.Size();
    const std::size_t got = std::fread(bytes.Data() + bytes.Size(), 1, room, file.get());
    bytes.SetSize(bytes.Size() + got);
    if (got < room) {
      if (std::ferror(file.get()))
        return Failure(0, "cannot read the file: " + SystemReason(errno));
      break;
    }
  }
  file.reset();
  return ParseLog(std::move(bytes));
}

}  // namespace quorvane
