#include "support/TempLogs.h"

#include <gtest/gtest.h>
#include <zlib.h>

#ifndef _WIN32
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

#include <atomic>
#include <cstdlib>
#include <fstream>
#include <random>

#include "logs/LogReader.h"

namespace quorvane::testing {

std::string LogText(const std::vector<std::vector<std::string>>& rows) {
  std::string text = "Date/Time\tAddress\tAccount\tName\tFile Name\r\n";
  for (const auto& row : rows) {
    for (std::size_t i = 0; i < row.size(); ++i) {
      if (i)
        text += '\t';
      text += row[i];
    }
    text += "\r\n";
  }
  return text;
}

std::string Gzip(std::string_view text, int level) {
  z_stream stream{};
  EXPECT_EQ(deflateInit2(&stream, level, Z_DEFLATED, 15 + 16, 8, Z_DEFAULT_STRATEGY), Z_OK);
  std::string out(deflateBound(&stream, static_cast<uLong>(text.size())), '\0');
  stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(text.data()));
  stream.avail_in = static_cast<uInt>(text.size());
  stream.next_out = reinterpret_cast<Bytef*>(out.data());
  stream.avail_out = static_cast<uInt>(out.size());
  EXPECT_EQ(deflate(&stream, Z_FINISH), Z_STREAM_END);
  out.resize(stream.total_out);
  deflateEnd(&stream);
  return out;
}

LogTable TableOf(const std::vector<std::vector<std::string>>& rows) {
  ReadResult result = ParseLog(LogText(rows));
  EXPECT_TRUE(result.Ok()) << "line " << result.error.line << ": " << result.error.reason;
  return result.Ok() ? std::move(*result.table) : LogTable();
}

LogPair SharingFileNames(const LogTable& downloads, const LogTable& uploads) {
  const auto all = [](const LogTable& table) {
    std::vector<std::size_t> rows(table.RowCount());
    for (std::size_t row = 0; row < rows.size(); ++row)
      rows[row] = row;
    return table.SelectRows(rows);
  };
  LogPair pair{all(downloads), all(uploads)};
  LogTable::ShareFileNames(pair.downloads, pair.uploads);
  return pair;
}

std::vector<std::vector<std::string>> Rows(
    const std::vector<std::pair<std::string, std::string>>& addressAndName) {
  std::vector<std::vector<std::string>> rows;
  int n = 0;
  for (const auto& [address, name] : addressAndName) {
    ++n;
    rows.push_back({"12/06/2026 10:00:" + std::to_string(n % 60), address, "guest", name,
                    "file" + std::to_string(n) + ".zip"});
  }
  return rows;
}

ShellRun RunShell(const std::string& command) {
  const TempDir dir;
  const std::string out = (dir.Path() / "out").string();
  const std::string err = (dir.Path() / "err").string();
#ifdef _WIN32
  const int status = std::system(("(" + command + ") > '" + out + "' 2> '" + err + "'").c_str());
#else
  // A child that hangs fails the test with its command, not at the test runner's time limit.
  std::string quoted;
  for (const char c : command)
    quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
  const int status = std::system(
      ("timeout -k 5 60 sh -c '" + quoted + "' > '" + out + "' 2> '" + err + "'").c_str());
  const bool stopped = WIFEXITED(status) && WEXITSTATUS(status) == 124;
  EXPECT_FALSE(stopped) << "still running after 60 s, stopped: " << command;
#endif
  const auto read = [](const std::string& file) {
    std::ifstream in(file, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  };
#ifdef _WIN32
  const int code = status;  // the command's own exit code on Windows
#else
  const int code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
#endif
  return {code, read(out), read(err)};
}

#ifndef _WIN32
int ExitStatusWithin(int child, int seconds) {
  int status = 0;
  for (int tries = 0; tries < seconds * 50; ++tries) {
    const pid_t ended = waitpid(child, &status, WNOHANG);
    if (ended != 0)
      return ended == child && WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    usleep(20000);
  }
  kill(child, SIGKILL);
  waitpid(child, nullptr, 0);
  return -2;
}
#endif

TempDir::TempDir() {
  static std::atomic<int> counter{0};
  std::random_device random;
  path_ = std::filesystem::temp_directory_path() /
          ("quorvane-test-" + std::to_string(random()) + "-" + std::to_string(counter++));
  std::filesystem::create_directories(path_);
}

TempDir::~TempDir() {
  std::error_code ignored;
  // Tests may take permissions away from a file; give them back so it can be removed.
  std::filesystem::permissions(path_, std::filesystem::perms::owner_all,
                               std::filesystem::perm_options::add, ignored);
  std::filesystem::remove_all(path_, ignored);
}

std::filesystem::path TempDir::Write(std::string_view name, std::string_view bytes) const {
  const std::filesystem::path file = path_ / std::filesystem::path(std::string(name));
  std::ofstream out(file, std::ios::binary);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  return file;
}

}  // namespace quorvane::testing
