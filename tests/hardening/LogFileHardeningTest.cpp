// Files that are not plain readable logs end in a clear error or a correct load: never a crash, a
// hang or half a table. (That the logs are only read is proven through the window.)
#include <fcntl.h>
#include <sys/fsuid.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstring>
#include <fstream>
#include <future>
#include <thread>

#include "logs/LogLoader.h"
#include "logs/LogReader.h"
#include "support/TempLogs.h"

namespace quorvane {
namespace {

namespace fs = std::filesystem;
using testing::TempDir;

// Row n of a generated log.
std::string Row(std::size_t n) {
  return std::string("12/06/2026 10:" + std::to_string(n % 60) + "\t10.0." + std::to_string(n % 7))
      .append(".1\tguest\tuser" + std::to_string(n % 13) + "\tfile number " + std::to_string(n))
      .append(".zip");
}
const std::string kHeader = "Date/Time\tAddress\tAccount\tName\tFile Name";

std::string LineOf(const LogTable& table, std::size_t row) {
  std::string line;
  for (int c = 0; c < kColumnCount; ++c) {
    if (c)
      line += '\t';
    line += table.CellText(row, Column(c));
  }
  return line;
}

// The first `count` rows are the generated ones (and there are no others when `all`).
void ExpectRowsAre(const LogTable& table, std::size_t count, bool all = true) {
  ASSERT_TRUE(!all || table.RowCount() == count) << table.RowCount();
  for (std::size_t i = 0; i < count; ++i)
    ASSERT_EQ(LineOf(table, i), Row(i)) << "row " << i;
}

// Root reads any file whatever its mode: for as long as it lives, this makes file permissions
// bind this thread as they bind an ordinary user (setfsuid: permission checks only).
class UnprivilegedFileAccess {
 public:
  UnprivilegedFileAccess() {
    if (geteuid() == 0) {
      previous_ = setfsuid(65534);
      dropped_ = setfsuid(65534) == 65534;  // the answer is the old value: asking again tells
    }
  }
  ~UnprivilegedFileAccess() {
    if (dropped_)
      setfsuid(static_cast<uid_t>(previous_));
  }
  // True when opening `file` now fails as its mode says.
  static bool Denied(const fs::path& file) {
    const int fd = open(file.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd >= 0)
      close(fd);
    return fd < 0;
  }

 private:
  int previous_ = 0;
  bool dropped_ = false;
};

TEST(HostileLogs, AnUnreadableLogOrADirectoryIsAClearErrorNamingTheLog) {
  TempDir dir;
  const fs::path good = dir.Write("Download Log.txt", kHeader + "\r\n" + Row(0) + "\r\n");
  const fs::path locked = dir.Write("Upload Log.txt", kHeader + "\r\n");
  const fs::path folder = dir.Path() / "Upload Log folder.txt";
  fs::create_directory(folder);
  fs::permissions(locked, fs::perms::none);
  const UnprivilegedFileAccess access;
  for (const auto& [upload, reason] : {std::pair{locked, EACCES}, {folder, EISDIR}}) {
    if (reason == EACCES && !UnprivilegedFileAccess::Denied(locked))
      continue;  // file permissions do not bind this process (CAP_DAC_OVERRIDE)
    const LoadResult loaded = LoadLogPair(good, upload);
    ASSERT_FALSE(loaded.Ok());
    EXPECT_EQ(loaded.failure.log, LogKind::Upload);
    EXPECT_EQ(loaded.failure.error.line, 0u);
    const std::string said = loaded.failure.Describe();
    EXPECT_EQ(said.rfind(upload.string() + ": ", 0), 0u) << said;
    EXPECT_NE(said.find(std::strerror(reason)), std::string::npos) << said;
  }
}

// A server writing its log through a pipe: pieces with pauses, lines cut in the middle, and the
// pipe held open after the data (and the empty line that ends it) until the reader is done.
TEST(HostileLogs, ALogArrivingThroughAPipeIsReadToTheEndOfItsDataWithoutWaitingForMore) {
  TempDir dir;
  const fs::path pipe = dir.Path() / "Download Log.txt";
  ASSERT_EQ(mkfifo(pipe.c_str(), 0600), 0) << std::strerror(errno);
  std::signal(SIGPIPE, SIG_IGN);  // a reader that stopped early fails a write, not the program
  std::string text = kHeader + "\r\n";
  for (std::size_t n = 0; n < 3000; ++n)
    text += Row(n) + "\r\n";
  text += "\r\nthe data ended on the line before";
  // Held open for reading so that the writer's open does not wait (a pipe without a writer
  // reads as empty, so the writer must be there before the read starts).
  const int holder = open(pipe.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  const int fd = open(pipe.c_str(), O_WRONLY | O_CLOEXEC);
  ASSERT_GE(fd, 0) << std::strerror(errno);
  std::atomic<bool> readerDone{false};
  std::thread writer([&] {
    for (std::size_t at = 0; at < text.size(); at += 777) {
      if (write(fd, text.data() + at, std::min<std::size_t>(text.size() - at, 777)) < 0)
        break;
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    for (int waited = 0; !readerDone && waited < 20000; ++waited)
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    close(fd);
  });
  const auto start = std::chrono::steady_clock::now();
  const ReadResult read = ReadLogFile(pipe);
  const auto took = std::chrono::steady_clock::now() - start;
  readerDone = true;
  writer.join();
  close(holder);
  EXPECT_LT(took, std::chrono::seconds(10)) << "the read waited for more after the data";
  ASSERT_TRUE(read.Ok()) << read.error.line << ": " << read.error.reason;
  ExpectRowsAre(*read.table, 3000);
}

TEST(HostileLogs, ANamedPipeWithoutWriterAndAnEndlessDeviceEndInAClearError) {
  TempDir dir;
  const fs::path pipe = dir.Path() / "Upload Log.txt";
  ASSERT_EQ(mkfifo(pipe.c_str(), 0600), 0) << std::strerror(errno);
  auto pending = std::async(std::launch::async, [&] { return ReadLogFile(pipe); });
  if (pending.wait_for(std::chrono::seconds(10)) != std::future_status::ready) {
    close(open(pipe.c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC));  // let the reader go
    FAIL() << "opening a named pipe without a writer waited for one";
  }
  const ReadResult fromPipe = pending.get();
  ASSERT_FALSE(fromPipe.Ok());
  EXPECT_NE(fromPipe.error.reason.find("no header"), std::string::npos) << fromPipe.error.reason;

  const ReadResult zeros = ReadLogFile("/dev/zero");
  ASSERT_FALSE(zeros.Ok());
  EXPECT_EQ(zeros.error.line, 1u);
  EXPECT_NE(zeros.error.reason.find("longer than 64 MiB"), std::string::npos) << zeros.error.reason;
}

// Read while a writer appends: what was there loads, with only the last row maybe cut inside its
// file name, or the read names a line the writer was appending.
TEST(HostileLogs, ALogThatGrowsWhileBeingReadLoadsWhatWasThereOrSaysWhichLineWasCut) {
  TempDir dir;
  constexpr std::size_t kFirstRows = 2000, kAllRows = 40000;
  std::string text = kHeader + "\r\n";
  for (std::size_t n = 0; n < kFirstRows; ++n)
    text += Row(n) + "\r\n";
  const fs::path log = dir.Write("Download Log.txt", text);
  std::atomic<bool> done{false};
  std::thread writer([&] {
    std::ofstream out(log, std::ios::binary | std::ios::app);
    for (std::size_t n = kFirstRows; n < kAllRows && out.flush(); ++n) {
      out << Row(n) << "\r\n";
      if (n % 1000 == 0)  // pauses keep the writer busy while the reader reads
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    done = true;
  });
  for (int reads = 1; !done || reads <= 3; ++reads) {
    const ReadResult read = ReadLogFile(log);
    if (!read.Ok()) {
      EXPECT_GT(read.error.line, kFirstRows + 1);
      EXPECT_NE(read.error.reason.find("field"), std::string::npos) << read.error.reason;
      continue;
    }
    ASSERT_GE(read.table->RowCount(), kFirstRows);
    const std::size_t last = read.table->RowCount() - 1;
    ExpectRowsAre(*read.table, last, false);
    EXPECT_EQ(Row(last).rfind(LineOf(*read.table, last), 0), 0u);
  }
  writer.join();
}

// A sparse file: the blocks past `head` take no disk space and read as zero bytes.
fs::path SparseLog(const TempDir& dir, const std::string& head, std::uintmax_t size) {
  const fs::path log = dir.Write("Download Log.txt", head);
  fs::resize_file(log, size);
  return log;
}

constexpr std::uintmax_t k2GiB = std::uintmax_t{2} << 30;

// What follows the data is never read, however big; a line just past the limit is refused.
TEST(HostileLogs, SparseLogsEndAsTheirFirstLinesSay) {
  const std::string twoRows = kHeader + "\r\n" + Row(0) + "\r\n" + Row(1) + "\r\n\r\n";
  for (const std::uintmax_t size : {k2GiB, 2 * k2GiB}) {
    TempDir dir;
    const ReadResult read = ReadLogFile(SparseLog(dir, twoRows, size));
    ASSERT_TRUE(read.Ok()) << read.error.line << ": " << read.error.reason;
    ExpectRowsAre(*read.table, 2);
  }
  // A line of zeros just past 64 MiB is refused as too long.
  TempDir dir;
  const ReadResult zeros =
      ReadLogFile(SparseLog(dir, kHeader + "\r\n", (std::uintmax_t{64} << 20) + 64));
  EXPECT_EQ(std::to_string(zeros.error.line) + ": " + zeros.error.reason,
            "2: the line is longer than 64 MiB");
}

// A line of 60 MiB needs more memory than a process limited to 60,000 KiB may have: the report
// tool ends cleanly, with one line on stderr.
TEST(HostileLogs, ALineBeyondTheMemoryEndsTheReportCleanly) {
#ifdef __SANITIZE_ADDRESS__
  GTEST_SKIP() << "AddressSanitizer reserves far more address space than the limit allows";
#endif
  TempDir dir;
  const fs::path log = SparseLog(dir, kHeader + "\r\n", std::uintmax_t{60} << 20);
  const testing::ShellRun run =
      testing::RunShell("ulimit -v 60000 && exec '" + std::string(QUORVANE_REPORT_BINARY) + "' '" +
                        log.string() + "' '" + dir.Write("Upload Log.txt", kHeader).string() + "'");
  EXPECT_EQ(run.status, 1);
  EXPECT_EQ(run.err, "quorvane-report: download log " + log.string() +
                         ": there is not enough memory to read the file\n");
}

}  // namespace
}  // namespace quorvane
