#pragma once

#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

#include "logs/LogLoader.h"
#include "logs/LogTable.h"

namespace quorvane::testing {

// A log's text from a header and rows of five fields each, lines ending in CR LF.
std::string LogText(const std::vector<std::vector<std::string>>& rows);

// The text as one gzip member.
std::string Gzip(std::string_view text, int level = 6);

// A log table parsed from such text; fails the test when the text does not parse.
LogTable TableOf(const std::vector<std::vector<std::string>>& rows);

// The rows of both tables, as tables that share their File Names (when of one encoding).
LogPair SharingFileNames(const LogTable& downloads, const LogTable& uploads);

// Rows of the given Address and Name columns, the other cells made up.
std::vector<std::vector<std::string>> Rows(
    const std::vector<std::pair<std::string, std::string>>& addressAndName);

// What a shell command wrote and its exit status (-1 when it did not exit normally).
struct ShellRun {
  int status = -1;
  std::string out;
  std::string err;
};
ShellRun RunShell(const std::string& command);

#ifndef _WIN32
// Waits up to `seconds` for the child process to end: its exit status, -1 when a signal ended it,
// or -2 when it had not ended (it is killed then, so that nothing waits on it).
int ExitStatusWithin(int child, int seconds);
#endif

// A directory that lives as long as the object; files are written into it.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  const std::filesystem::path& Path() const { return path_; }
  std::filesystem::path Write(std::string_view name, std::string_view bytes) const;

 private:
  std::filesystem::path path_;
};

}  // namespace quorvane::testing
