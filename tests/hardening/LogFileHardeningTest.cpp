// Logs are only ever read, and files that are not plain readable logs end in a clear error or a
// correct load: never a crash, a hang or half a table.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <functional>
#include <future>
#include <string>
#include <thread>
#include <vector>

#include "FileAccess.h"
#include "FileWatch.h"
#include "analysis/Averages.h"
#include "analysis/Totals.h"
#include "analysis/UserReport.h"
#include "logs/LogLoader.h"
#include "logs/LogReader.h"
#include "logs/UserList.h"
#include "support/TempLogs.h"

namespace quorvane {
namespace {

namespace fs = std::filesystem;
using testing::TempDir;
using testing::UnprivilegedFileAccess;
using testing::WatchedFile;

// Row n of a generated log.
std::string Row(std::size_t n) {
  std::string row = "12/06/2026 10:";
  row += std::to_string(n % 60);
  row += "\t10.0.";
  row += std::to_string(n % 7);
  row += ".1\tguest\tuser";
  row += std::to_string(n % 13);
  row += "\tfile number ";
  row += std::to_string(n);
  row += ".zip";
  return row;
}
const std::string kHeader = "Date/Time\tAddress\tAccount\tName\tFile Name";

// Copies of the sample logs in a folder of their own.
struct SampleFolder {
  TempDir dir;
  testing::SampleLogs logs{dir.Path()};
};

std::string LineOf(const LogTable& table, std::size_t row) {
  std::string line;
  for (int c = 0; c < kColumnCount; ++c) {
    if (c)
      line += '\t';
    line += table.CellText(row, Column(c));
  }
  return line;
}

void ExpectRowsAre(const LogTable& table, std::size_t count) {
  ASSERT_EQ(table.RowCount(), count);
  for (std::size_t i = 0; i < count; ++i)
    ASSERT_EQ(LineOf(table, i), Row(i)) << "row " << i;
}

TEST(LogsAreOnlyRead, LoadingAnalysingRenamingAndRemovingRowsLeaveBothFilesAsTheyWere) {
  SampleFolder sample;
  const testing::SampleLogs& logs = sample.logs;
  WatchedFile downloadLog(logs.downloads);
  WatchedFile uploadLog(logs.uploads);

  LoadResult loaded = LoadLogPair(logs.downloads, logs.uploads);
  ASSERT_TRUE(loaded.Ok()) << loaded.failure.Describe();
  LogTable& downloads = loaded.logs->downloads;
  LogTable& uploads = loaded.logs->uploads;
  const std::size_t downloadRows = downloads.RowCount();
  std::vector<std::string> names = CollectUserNames(downloads, uploads);
  ASSERT_GE(names.size(), 2u);
  ComputeTotals(downloads, uploads);
  ComputeAverages(downloads, uploads);
  BuildUserReport(downloads, uploads, names[0]);
  EXPECT_GT((downloads.RenameUser(names[0], names[1]) + uploads.RenameUser(names[0], names[1])),
            0u);
  downloads.RemoveRow(0);
  uploads.RemoveRow(uploads.RowCount() - 1);
  names = CollectUserNames(downloads, uploads);
  EXPECT_EQ(downloads.RowCount(), downloadRows - 1);

  downloadLog.ExpectOnlyRead(1);
  uploadLog.ExpectOnlyRead(1);
}

TEST(LogsAreOnlyRead, WriteProtectedLogsLoadWhenWritingThemIsRefused) {
  SampleFolder sample;
  const testing::SampleLogs& logs = sample.logs;
  for (const fs::path& log : {logs.downloads, logs.uploads}) {
    fs::permissions(log, fs::perms::owner_read | fs::perms::group_read | fs::perms::others_read);
  }
  UnprivilegedFileAccess access;
  if (const std::string why = access.WhyNotDenied(logs.downloads, O_WRONLY); !why.empty()) {
    GTEST_SKIP() << "cannot write-protect a file here: " << why;
  }
  const LoadResult loaded = LoadLogPair(logs.downloads, logs.uploads);
  EXPECT_TRUE(loaded.Ok()) << loaded.failure.Describe();
}

TEST(LogsAreOnlyRead, TheReportToolOpensTheLogsOnlyToRead) {
  SampleFolder sample;
  const testing::SampleLogs& logs = sample.logs;
  WatchedFile downloadLog(logs.downloads);
  WatchedFile uploadLog(logs.uploads);

  const std::string command = std::string("'") + QUORVANE_REPORT_BINARY +
                              "' --users --user Marla '" + logs.downloads.string() + "' '" +
                              logs.uploads.string() + "' > /dev/null";
  ASSERT_EQ(std::system(command.c_str()), 0) << command;

  downloadLog.ExpectOnlyRead(1);
  uploadLog.ExpectOnlyRead(1);
}

TEST(HostileLogs, AnUnreadableLogIsAClearErrorAndTheLogReadBeforeItIsClosedAgain) {
  SampleFolder sample;
  const testing::SampleLogs& logs = sample.logs;
  WatchedFile downloadLog(logs.downloads);
  fs::permissions(logs.uploads, fs::perms::none);
  UnprivilegedFileAccess access;
  if (const std::string why = access.WhyNotDenied(logs.uploads, O_RDONLY); !why.empty()) {
    GTEST_SKIP() << "cannot take read permission away here: " << why;
  }

  const LoadResult loaded = LoadLogPair(logs.downloads, logs.uploads);
  ASSERT_FALSE(loaded.Ok());
  EXPECT_EQ(loaded.failure.log, LogKind::Upload);
  EXPECT_EQ(loaded.failure.error.line, 0u);
  EXPECT_NE(loaded.failure.error.reason.find(std::strerror(EACCES)), std::string::npos)
      << loaded.failure.error.reason;
  EXPECT_NE(loaded.failure.Describe().find(logs.uploads.string()), std::string::npos);
  downloadLog.ExpectOnlyRead(1);  // read and closed again, though the load failed
}

TEST(HostileLogs, ADirectoryGivenAsALogIsAClearError) {
  SampleFolder sample;
  const testing::SampleLogs& logs = sample.logs;
  const fs::path folder = sample.dir.Path() / "Upload Log folder.txt";
  fs::create_directory(folder);

  const ReadResult read = ReadLogFile(folder);
  ASSERT_FALSE(read.Ok());
  EXPECT_NE(read.error.reason.find(std::strerror(EISDIR)), std::string::npos) << read.error.reason;

  const LoadResult loaded = LoadLogPair(logs.downloads, folder);
  ASSERT_FALSE(loaded.Ok());
  EXPECT_EQ(loaded.failure.log, LogKind::Upload);
}

// Writes the text into a named pipe in small pieces with pauses, cutting lines in the middle, as
// a server writing its log would; then keeps the pipe open until `readerDone` (or 20 s).
void FeedPipe(const fs::path& pipe, const std::string& text, std::atomic<bool>& opened,
              std::atomic<bool>& fed, const std::atomic<bool>& readerDone) {
  int fd = -1;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
  // Opening without blocking fails until the reader has the pipe open.
  while ((fd = open(pipe.c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC)) < 0 && errno == ENXIO &&
         std::chrono::steady_clock::now() < deadline) {
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
  opened = true;
  if (fd < 0)
    return;
  fcntl(fd, F_SETFL, 0);
  bool complete = true;
  for (std::size_t at = 0; at < text.size() && complete;) {
    const std::size_t piece = std::min<std::size_t>(text.size() - at, 777);
    complete = write(fd, text.data() + at, piece) == static_cast<ssize_t>(piece);
    at += piece;
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  fed = complete;
  while (!readerDone && std::chrono::steady_clock::now() < deadline)
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  close(fd);
}

TEST(HostileLogs, ALogArrivingThroughAPipeIsReadToTheEndOfItsDataWithoutWaitingForMore) {
  TempDir dir;
  const fs::path pipe = dir.Path() / "Download Log.txt";
  ASSERT_EQ(mkfifo(pipe.c_str(), 0600), 0) << std::strerror(errno);
  std::string text = kHeader + "\r\n";
  for (std::size_t n = 0; n < 3000; ++n)
    text += Row(n) + "\r\n";
  text += "\r\nthe data ended on the line before";

  // The pipe is held open for reading so that the writer is there before the read starts (a
  // pipe without a writer reads as empty).
  const int holder = open(pipe.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  std::atomic<bool> opened{false};
  std::atomic<bool> fed{false};
  std::atomic<bool> readerDone{false};
  std::thread writer(FeedPipe, pipe, text, std::ref(opened), std::ref(fed), std::cref(readerDone));
  while (!opened)
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  const auto start = std::chrono::steady_clock::now();
  const ReadResult read = ReadLogFile(pipe);
  const auto took = std::chrono::steady_clock::now() - start;
  readerDone = true;
  writer.join();
  close(holder);
  ASSERT_TRUE(fed) << "the writer could not write the whole text";
  // The writer held the pipe open for 20 s: the read ended at the empty line, not at the end.
  EXPECT_LT(took, std::chrono::seconds(10));
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

TEST(HostileLogs, ALogThatGrowsWhileBeingReadLoadsWhatWasThereOrSaysWhichLineWasCut) {
  TempDir dir;
  constexpr std::size_t kFirstRows = 2000;
  constexpr std::size_t kAllRows = 40000;
  std::string text = kHeader + "\r\n";
  for (std::size_t n = 0; n < kFirstRows; ++n)
    text += Row(n) + "\r\n";
  const fs::path log = dir.Write("Download Log.txt", text);

  std::atomic<bool> done{false};
  std::thread writer([&] {
    const int fd = open(log.c_str(), O_WRONLY | O_APPEND | O_CLOEXEC);
    for (std::size_t n = kFirstRows; n < kAllRows && fd >= 0; ++n) {
      const std::string line = Row(n) + "\r\n";
      if (write(fd, line.data(), line.size()) != static_cast<ssize_t>(line.size()))
        break;
      // Pauses now and then keep the writer busy while the reader reads.
      if (n % 1000 == 0)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    close(fd);
    done = true;
  });
  int reads = 0;
  while (!done || reads < 3) {
    ++reads;
    const ReadResult read = ReadLogFile(log);
    if (!read.Ok()) {
      // The read ended inside a line with fewer than five fields so far: only a line the
      // writer was appending can be cut.
      EXPECT_GT(read.error.line, kFirstRows + 1);
      EXPECT_NE(read.error.reason.find("field"), std::string::npos) << read.error.reason;
      continue;
    }
    const LogTable& table = *read.table;
    ASSERT_GE(table.RowCount(), kFirstRows);
    ASSERT_LE(table.RowCount(), kAllRows);
    const std::size_t whole = table.RowCount() - 1;
    for (std::size_t i = 0; i < whole; ++i)
      ASSERT_EQ(LineOf(table, i), Row(i)) << "row " << i;
    // The last row may have been cut inside its file name.
    const std::string last = Row(whole);
    const std::string lastFile = table.CellText(whole, Column::FileName);
    EXPECT_EQ(last.substr(last.rfind('\t') + 1, lastFile.size()), lastFile);
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

struct SparseCase {
  const char* label;
  std::string head;
  std::uintmax_t size;
  std::uint64_t errorLine;  // 0: the read succeeds with the two rows of the head
  const char* reasonPart;
  friend void PrintTo(const SparseCase& c, std::ostream* os) { *os << c.label; }
};

class SparseLogs : public ::testing::TestWithParam<SparseCase> {};

// What follows the data is never read, however big; a line of zeros is refused once it is too
// long, not after reading all of it.
TEST_P(SparseLogs, EndAsTheirFirstLinesSay) {
  TempDir dir;
  const ReadResult read = ReadLogFile(SparseLog(dir, GetParam().head, GetParam().size));
  if (GetParam().errorLine == 0) {
    ASSERT_TRUE(read.Ok()) << read.error.line << ": " << read.error.reason;
    ExpectRowsAre(*read.table, 2);
    return;
  }
  ASSERT_FALSE(read.Ok());
  EXPECT_EQ(read.error.line, GetParam().errorLine);
  EXPECT_NE(read.error.reason.find(GetParam().reasonPart), std::string::npos) << read.error.reason;
}

const std::string kTwoRows = kHeader + "\r\n" + Row(0) + "\r\n" + Row(1) + "\r\n\r\n";

INSTANTIATE_TEST_SUITE_P(
    HostileLogs, SparseLogs,
    ::testing::Values(SparseCase{"TwoGiBWithDataUpToAnEmptyLine", kTwoRows, k2GiB, 0, ""},
                      SparseCase{"FourGiBWithDataUpToAnEmptyLine", kTwoRows, 2 * k2GiB, 0, ""},
                      SparseCase{"TwoGiBOfZeroBytes", "", k2GiB, 1, "longer than 64 MiB"}),
    [](const auto& testCase) { return std::string(testCase.param.label); });

// The report tool in a process whose address space is limited (KiB, as `ulimit -v` takes it).
struct LimitedCase {
  const char* label;
  std::size_t limitKiB;
  std::function<fs::path(const TempDir&)> makeLog;
  int status;
  const char*
      expected;  // the start of stdout when the status is 0, else all of stderr after the path
  friend void PrintTo(const LimitedCase& c, std::ostream* os) { *os << c.label; }
};

class LimitedMemory : public ::testing::TestWithParam<LimitedCase> {};

TEST_P(LimitedMemory, TheReportEndsCleanly) {
#ifdef __SANITIZE_ADDRESS__
  GTEST_SKIP() << "AddressSanitizer reserves far more address space than the limit allows";
#endif
  TempDir dir;
  const fs::path log = GetParam().makeLog(dir);
  const testing::ShellRun run =
      testing::RunShell("ulimit -v " + std::to_string(GetParam().limitKiB) + " && exec '" +
                        QUORVANE_REPORT_BINARY + "' '" + log.string() + "' '" + log.string() + "'");
  EXPECT_EQ(run.status, GetParam().status) << run.err;
  if (GetParam().status == 0)
    EXPECT_EQ(run.out.rfind(GetParam().expected, 0), 0u) << run.out;
  else
    EXPECT_EQ(run.err, "quorvane-report: download log " + log.string() + GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(HostileLogs, LimitedMemory,
                         ::testing::Values(
                             // A valid log without rows: a header, then 200,000,000 empty lines.
                             LimitedCase{"HeaderAndManyCarriageReturns", 4000000,
                                         [](const TempDir& dir) {
                                           const fs::path log =
                                               dir.Write("Download Log.txt", kHeader);
                                           std::ofstream out(log, std::ios::binary | std::ios::app);
                                           const std::string crs(std::size_t{1} << 20, '\r');
                                           for (int i = 0; i < 200000000 / (1 << 20); ++i)
                                             out << crs;
                                           out << std::string(200000000 % (1 << 20), '\r');
                                           return log;
                                         },
                                         0, "Total Downloads: 0\nTotal Uploads: 0\n"},
                             // A line of 60 MiB needs more memory than the process may have.
                             LimitedCase{"ALongLineBeyondTheMemory", 60000,
                                         [](const TempDir& dir) {
                                           return SparseLog(dir, kHeader + "\r\n",
                                                            std::uintmax_t{60} << 20);
                                         },
                                         1, ": there is not enough memory to read the file\n"}),
                         [](const auto& testCase) { return std::string(testCase.param.label); });

}  // namespace
}  // namespace quorvane
