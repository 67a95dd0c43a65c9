// Follows a log while a writer the input steers works on it: records written in pieces of any
// size, polls between them, rotation by rename-and-create, truncation. The records are made here,
// so the oracle is what was written, not a reader: once the writer is done and the follower has
// looked again, the table holds every record of every life of the file, once, in order, each
// cell as written.
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "FuzzCheck.h"
#include "logs/LogFollower.h"
#include "logs/LogSources.h"

namespace {

using namespace quorvane;

struct Record {
  std::string cells[5];
};

class Input {
 public:
  Input(const std::uint8_t* data, std::size_t size) : data_(data), size_(size) {}
  bool Empty() const { return at_ >= size_; }
  std::uint8_t Next() { return at_ < size_ ? data_[at_++] : 0; }

 private:
  const std::uint8_t* data_;
  std::size_t size_;
  std::size_t at_ = 0;
};

// One log as its server writes it: whole records go into `text`, of which `written` bytes are
// in the file so far.
class Writer {
 public:
  Writer(std::filesystem::path path, bool server, bool crBefore)
      : path_(std::move(path)), server_(server), crBefore_(crBefore) {
    if (!server_)
      text_ = crBefore_ ? "Date/Time\tAddress\tAccount\tName\tFile Name"
                        : "Date/Time\tAddress\tAccount\tName\tFile Name\r\n";
  }

  void Add(std::uint8_t seed, std::vector<Record>& expected) {
    const int n = static_cast<int>(expected.size());
    Record r;
    r.cells[1] = "10.0.0." + std::to_string(seed % 9);
    r.cells[2] = "guest";
    r.cells[3] =
        (seed & 0x40) && server_ ? "u " + std::to_string(seed % 5) : "u" + std::to_string(seed % 5);
    if (server_) {
      r.cells[0] = "2025-03-14T21:07:" + std::to_string(10 + n % 50) + "Z";
      r.cells[4] = "/srv/f" + std::to_string(n);
      const std::string name =
          r.cells[3].find(' ') != std::string::npos ? '"' + r.cells[3] + '"' : r.cells[3];
      text_ += "time=" + r.cells[0] + " level=INFO msg=\"Download file\" remoteAddr=" + r.cells[1] +
               ":5000 login=guest Name=" + name + " filePath=" + r.cells[4] + "\n";
    } else {
      r.cells[0] = "3/14/2025 9:07:" + std::to_string(10 + n % 50) + " PM";
      r.cells[4] = "f" + std::to_string(n) + ".zip";
      const std::string line =
          r.cells[0] + '\t' + r.cells[1] + "\tguest\t" + r.cells[3] + '\t' + r.cells[4];
      text_ += crBefore_ ? "\r" + line : line + "\r\n";
    }
    expected.push_back(r);
  }
  // Writes up to `count` more bytes of what was added.
  void Write(std::size_t count) {
    count = std::min(count, text_.size() - written_);
    std::ofstream(path_, std::ios::binary | std::ios::app)
        .write(text_.data() + written_, static_cast<std::streamsize>(count));
    written_ += count;
  }
  void WriteAll() { Write(text_.size()); }
  bool Idle() const { return written_ == text_.size(); }

 private:
  std::filesystem::path path_;
  bool server_, crBefore_;
  std::string text_;
  std::size_t written_ = 0;
};

std::filesystem::path Folder() {
  static const std::filesystem::path folder = [] {
    auto dir = std::filesystem::temp_directory_path() /
               ("quorvane-fuzz-follow-" +
                std::to_string(std::chrono::steady_clock::now().time_since_epoch().count()));
    std::filesystem::create_directories(dir);
    return dir;
  }();
  return folder;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  Input in(data, size);
  const std::uint8_t mode = in.Next();
  const bool server = mode & 1;
  const bool crBefore = !server && (mode & 2);
  const std::filesystem::path path = Folder() / (server ? "mobius.log" : "Download Log.txt");
  std::filesystem::remove(path);
  std::filesystem::remove(path.string() + ".1");
  std::vector<Record> expected;
  auto writer = std::make_unique<Writer>(path, server, crBefore);
  for (int i = 0, first = 1 + in.Next() % 4; i < first; ++i)
    writer->Add(in.Next(), expected);
  writer->WriteAll();

  const std::vector<LogSource> sources{
      {{path, false}, server ? SourceRole::ServerLog : SourceRole::Download}};
  SourcesResult loaded = LoadSources(sources);
  FUZZ_CHECK(loaded.Ok());
  LogPair tables = std::move(*loaded.logs);
  LogFollower follower(sources, loaded.sources, tables.downloads.RowCount(),
                       tables.uploads.RowCount(),
                       FollowOptions{{}, {}, {}, std::chrono::milliseconds(0)});
  const auto poll = [&]() -> FollowUpdate {
    FollowUpdate update = follower.Poll();
    FUZZ_CHECK(!update.failure);
    ApplyFollowUpdate(update, tables);
    return update;
  };
  // Until the follower tells the event (a life of the file ended) or a few looks passed.
  const auto pollFor = [&](FollowEventKind kind) {
    for (int look = 0; look < 4; ++look) {
      for (const FollowEvent& event : poll().events) {
        if (event.kind == kind)
          return;
      }
    }
  };
  while (!in.Empty()) {
    const std::uint8_t op = in.Next();
    switch (op % 8) {
      case 0:
      case 1:
      case 2:
        if (writer->Idle())
          writer->Add(in.Next(), expected);
        writer->Write(1 + in.Next() % 40);
        break;
      case 3:
      case 4:
        poll();
        break;
      case 5:  // rename-and-create: the old file ends whole
      case 6:  // cut short in place
        writer->WriteAll();
        poll();
        if (op % 8 == 5) {
          std::filesystem::rename(path, path.string() + ".1");
          std::ofstream(path, std::ios::binary);
        } else {
          std::filesystem::resize_file(path, 0);
        }
        pollFor(op % 8 == 5 ? FollowEventKind::Rotated : FollowEventKind::Truncated);
        writer = std::make_unique<Writer>(path, server, crBefore);
        break;
      default:
        writer->Add(in.Next(), expected);
        break;
    }
  }
  writer->WriteAll();
  for (int look = 0; look < 3; ++look)
    poll();

  FUZZ_CHECK(tables.downloads.RowCount() == expected.size());
  FUZZ_CHECK(tables.uploads.RowCount() == 0);
  for (std::size_t row = 0; row < expected.size(); ++row) {
    for (int c = 0; c < 5; ++c)
      FUZZ_CHECK(tables.downloads.CellText(row, static_cast<Column>(c)) == expected[row].cells[c]);
  }
  return 0;
}
