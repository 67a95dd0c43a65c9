#include <gtest/gtest.h>

#include <fstream>
#include <functional>

#include "logs/LogFollower.h"
#include "support/TempLogs.h"

namespace quorvane {
namespace {

using Clock = std::chrono::steady_clock;

std::string Dump(const LogTable& table) {
  std::string text;
  for (std::size_t row = 0; row < table.RowCount(); ++row) {
    for (int c = 0; c < kColumnCount; ++c)
      text += table.CellText(row, static_cast<Column>(c)) + '|';
    text += '\n';
  }
  return text;
}

void Append(const std::filesystem::path& path, std::string_view bytes) {
  std::ofstream(path, std::ios::binary | std::ios::app) << bytes;
}

std::string Classic(int i) {
  return "\r3/" + std::to_string(i % 28 + 1) + "/2025 9:07:45 PM\t10.0.0." + std::to_string(i % 7) +
         "\tguest\tuser" + std::to_string(i % 5) + "\tfile " + std::to_string(i) + ".sit";
}
std::string Mobius(int i) {
  return "time=2025-03-14T21:07:45Z level=INFO msg=\"Download file\" remoteAddr=10.0.0." +
         std::to_string(i % 7) + ":5000 login=guest Name=user" + std::to_string(i % 5) +
         " filePath=/srv/f" + std::to_string(i) + "\n";
}

// A follow of one log while a writer works on it: after each step the tables must hold exactly
// the rows a fresh load of each life of the file holds (what it held before it was cut short,
// rotated or deleted, then what it holds now), once the follower has seen the step.
class FollowTest : public ::testing::Test {
 protected:
  // `meanwhile` runs between the load and the follow.
  void Start(std::string_view text, bool server, const std::function<void()>& meanwhile = {}) {
    path_ = dir_.Write(server ? "mobius.log" : "Download Log.txt", text);
    server_ = server;
    sources_ = {{{path_, false}, server ? SourceRole::ServerLog : SourceRole::Download}};
    SourcesResult loaded = LoadSources(sources_);
    ASSERT_TRUE(loaded.Ok());
    tables_ = std::move(*loaded.logs);
    if (meanwhile)
      meanwhile();
    follower_ = std::make_unique<LogFollower>(
        sources_, loaded.sources, tables_.downloads.RowCount(), tables_.uploads.RowCount(),
        FollowOptions{{}, {}, {}, std::chrono::milliseconds(300)});
  }
  std::string Current() const {
    std::ifstream in(path_, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
  }
  // The rows of the lives that ended, and of the file as it is now.
  std::string Expected() const {
    std::string text = ended_;
    AnyReadResult read = ParseAnyLog(Current(), server_ ? Expect::ServerLog : Expect::Classic);
    return text + Dump(server_ ? read.downloads : read.table);
  }
  void EndLife() { ended_ = Expected(); }
  // Polls until `done`, for ten seconds at most; not at all once the test failed.
  bool PollUntil(const std::function<bool()>& done) {
    const auto until = Clock::now() + std::chrono::seconds(HasFailure() ? 0 : 10);
    while (Clock::now() < until) {
      FollowUpdate update = follower_->Poll();
      EXPECT_FALSE(update.failure) << *update.failure;
      ApplyFollowUpdate(update, tables_);
      for (const FollowEvent& event : update.events)
        events_.push_back(event.kind);
      if (done())
        return true;
      follower_->Wait(std::chrono::milliseconds(50));
    }
    return false;
  }
  void Settle() {
    EXPECT_TRUE(PollUntil([&] { return Dump(tables_.downloads) == Expected(); }))
        << Dump(tables_.downloads) << "---\n"
        << Expected();
  }

  testing::TempDir dir_;
  std::filesystem::path path_;
  bool server_ = false;
  std::vector<LogSource> sources_;
  LogPair tables_;
  std::unique_ptr<LogFollower> follower_;
  std::string ended_;
  std::vector<FollowEventKind> events_;
};

TEST_F(FollowTest, ClassicLogInBurstsBytesAndHalves) {
  Start("Date/Time\tAddress\tAccount\tName\tFile Name" + Classic(0) + Classic(1), false);
  std::string burst;
  for (int i = 2; i < 60; ++i)
    burst += Classic(i);
  Append(path_, burst);
  Settle();
  for (char byte : Classic(60))  // a byte at a time
    Append(path_, std::string(1, byte));
  Settle();
  // Half a record, taken once quiet, then its rest: the row is read again, not added.
  const std::string record = Classic(61);
  Append(path_, record.substr(0, record.size() - 6));
  Settle();
  Append(path_, record.substr(record.size() - 6) + Classic(62));
  Settle();
  EXPECT_EQ(tables_.downloads.RowCount(), 63u);
}

TEST_F(FollowTest, ClassicLogTruncatedDeletedAndBack) {
  const std::string header = "Date/time\tAddress\tAccount\tName\tFile Name";
  Start(header + Classic(0), false);
  Append(path_, Classic(1));
  Settle();
  EndLife();
  std::filesystem::resize_file(path_, 0);
  ASSERT_TRUE(PollUntil([&] {
    return std::find(events_.begin(), events_.end(), FollowEventKind::Truncated) != events_.end();
  })) << "no Truncated event";
  Append(path_, header + Classic(2) + Classic(3));
  Settle();
  EndLife();
  std::filesystem::remove(path_);
  ASSERT_TRUE(PollUntil([&] { return follower_->Missing(0); })) << "not told missing";
  Append(path_, header + Classic(4));
  Settle();
  EXPECT_NE(std::find(events_.begin(), events_.end(), FollowEventKind::Back), events_.end());
}

// Cut short and written past its old size before the follower looked again.
TEST_F(FollowTest, ClassicLogTruncatedAndRegrownBetweenLooks) {
  const std::string header = "Date/Time\tAddress\tAccount\tName\tFile Name";
  Start(header + Classic(0) + Classic(1) + "\r", false);
  EndLife();
  std::ofstream(path_, std::ios::binary | std::ios::trunc)
      << header + Classic(2) + Classic(3) + Classic(4) + Classic(5) + "\r";
  Settle();
  EXPECT_NE(std::find(events_.begin(), events_.end(), FollowEventKind::Truncated), events_.end());
}

TEST_F(FollowTest, ServerLogRotatedByRenameAndCreate) {
  Start(Mobius(0) + Mobius(1), true);
  Append(path_, Mobius(2) + Mobius(3).substr(0, 30));
  const std::filesystem::path old = path_.string() + ".1";
  std::filesystem::rename(path_, old);
  Append(old, Mobius(3).substr(30) + Mobius(4));  // the old file's rest, through its handle
  {
    std::ifstream in(old, std::ios::binary);
    ended_ =
        Dump(ParseAnyLog(std::string(std::istreambuf_iterator<char>(in), {}), Expect::ServerLog)
                 .downloads);
  }
  Append(path_, Mobius(5) + "panic: not a record\n" + Mobius(6));
  Settle();
  EXPECT_EQ(tables_.downloads.RowCount(), 7u);
}

// Rotated after the load, before the follow began, into a file already longer than the one
// loaded: the new file is read from its start, not from where the old one's read stopped.
TEST_F(FollowTest, RotatedBetweenTheLoadAndTheFollow) {
  Start(Mobius(0) + Mobius(1), true, [&] {
    ended_ = Expected();
    std::filesystem::rename(path_, path_.string() + ".1");
    Append(path_, Mobius(2) + Mobius(3) + Mobius(4) + Mobius(5));
  });
  Settle();
  EXPECT_EQ(tables_.downloads.RowCount(), 6u);
  EXPECT_NE(std::find(events_.begin(), events_.end(), FollowEventKind::Rotated), events_.end());
}

}  // namespace
}  // namespace quorvane
