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

// Writes the lines into a named pipe in small pieces with pauses, cutting lines in the middle,
// as a server writing its log would.
void FeedPipe(const fs::path& pipe, const std::string& text, std::atomic<bool>& fed) {
  int fd = -1;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
  // Opening without blocking fails until the reader has the pipe open.
  while ((fd = open(pipe.c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC)) < 0 && errno == ENXIO &&
         std::chrono::steady_clock::now() < deadline) {
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
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
  close(fd);
  fed = complete;
}

TEST(HostileLogs, ALogArrivingThroughAPipeIsReadToItsEnd) {
  TempDir dir;
  const fs::path pipe = dir.Path() / "Download Log.txt";
  ASSERT_EQ(mkfifo(pipe.c_str(), 0600), 0) << std::strerror(errno);
  std::string text = kHeader + "\r\n";
  for (std::size_t n = 0; n < 3000; ++n)
    text += Row(n) + "\r\n";

  std::atomic<bool> fed{false};
  std::thread writer(FeedPipe, pipe, text, std::ref(fed));
  const ReadResult read = ReadLogFile(pipe);
  writer.join();
  ASSERT_TRUE(fed) << "the reader stopped before the end of the data";
  ASSERT_TRUE(read.Ok()) << read.error.line << ": " << read.error.reason;
  ExpectRowsAre(*read.table, 3000);
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

TEST(HostileLogs, A2GiBLogWhoseDataEndsAtAnEmptyLineLoadsThoseRows) {
  TempDir dir;
  const fs::path log =
      SparseLog(dir, kHeader + "\r\n" + Row(0) + "\r\n" + Row(1) + "\r\n\r\n", k2GiB);
  const ReadResult read = ReadLogFile(log);
  ASSERT_TRUE(read.Ok()) << read.error.line << ": " << read.error.reason;
  ExpectRowsAre(*read.table, 2);
}

TEST(HostileLogs, A2GiBLogOfZeroBytesIsAClearErrorAboutItsFirstLine) {
  TempDir dir;
  const ReadResult read = ReadLogFile(SparseLog(dir, "", k2GiB));
  ASSERT_FALSE(read.Ok());
  EXPECT_EQ(read.error.line, 1u);
  EXPECT_NE(read.error.reason.find("field"), std::string::npos) << read.error.reason;
}

}  // namespace
}  // namespace quorvane
