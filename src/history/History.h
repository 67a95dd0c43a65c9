#pragma once

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "logs/LogSources.h"

namespace quorvane {

// A history file: every transfer of every log it was given, kept in a SQLite database after the
// logs themselves are rotated away or deleted. What it gives back equals reading every log it
// was ever given, as each stands now, together as several files (LoadSources: rows a file repeats
// from another count once).
//
// A file is known by its text, not its name: a log that grew, was renamed to a backup or packed
// is the same file as long as its text starts with the text already kept, and only the rows
// behind that are added. A last line without its line end may still be being written: it is
// reported but kept only once a line end follows it. Every addition is one transaction, so a
// run killed at any moment leaves the file as it was before or after it.
//
// Texts are kept as UTF-8, as the reports show them; the file offers the view `transfers`
// (direction, time, date_text, address, account, name, file) for any SQLite tool.
class History {
 public:
  enum class Access { Read, Write };

  // Opens the file, making it when it is missing (its folder must exist). Nothing (and `error`
  // set to one line naming the file) when it is a folder, not a SQLite database, another
  // program's database, a newer history than this program knows, cut short or damaged; such a
  // file is left exactly as it was. An older history is brought up to date in one transaction.
  // A file that may not be written opens for reading. `wait`: how long a writer waits for
  // another writer of the same file before giving up.
  static std::unique_ptr<History> Open(const std::filesystem::path& path, Access access,
                                       std::chrono::milliseconds wait, std::string& error);
  ~History();
  History(const History&) = delete;
  History& operator=(const History&) = delete;

  const std::filesystem::path& Path() const { return path_; }
  bool ReadOnly() const { return readOnly_; }
  // When the file was made: YYYY-MM-DD HH:MM:SS (UTC).
  std::string Since() const;

  struct Result {
    std::optional<LogPair> logs;
    // Every file the history holds (a file given in this run: as it stands now), each under the
    // name it was last read by, with the rows it gives each table after overlap.
    std::vector<SourceInfo> files;
    // The sources given, as read in this run (their unreadable lines), in the order given.
    std::vector<SourceInfo> read;
    std::size_t downloadsAdded = 0, uploadsAdded = 0;
    std::optional<SourceFailure> sourceFailure;  // a log that could not be read: nothing added
    std::optional<std::string> failure;          // the history file's: nothing added
  };

  // Reads the sources, adds what the file does not hold yet in one transaction, and gives back
  // everything it holds, with the rows of lines still open in this run's files. With no sources,
  // only reads. `options.kept` and `options.dates` say what the tables given back keep;
  // `options.encoding` and `options.dates` apply to the sources read.
  Result Update(const std::vector<LogSource>& sources, const SourcesOptions& options);

 private:
  struct Db;
  History(std::filesystem::path path, std::unique_ptr<Db> db, bool readOnly);

  std::filesystem::path path_;
  std::unique_ptr<Db> db_;
  bool readOnly_ = false;
};

}  // namespace quorvane
