#include <gtest/gtest.h>

#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <fstream>

#include "support/TempLogs.h"

namespace quorvane {
namespace {

using Clock = std::chrono::steady_clock;
namespace fs = std::filesystem;

void Append(const fs::path& path, std::string_view bytes) {
  std::ofstream(path, std::ios::binary | std::ios::app) << bytes;
}
std::string Classic(int i) {
  return "\r3/" + std::to_string(i % 28 + 1) + "/2025 9:07:45 PM\t10.0.0." + std::to_string(i % 9) +
         "\tguest\tuser" + std::to_string(i % 4) + "\tc" + std::to_string(i);
}
std::string Mobius(int i) {
  return "time=2025-03-14T21:07:45Z level=INFO msg=\"" +
         std::string(i % 3 ? "Download file" : "File upload complete") + "\" remoteAddr=10.0.0." +
         std::to_string(i % 5) + ":5000 login=guest Name=user" + std::to_string(i % 4) +
         (i % 3 ? " filePath=/srv/c" : " dstFile=/srv/c") + std::to_string(i % 7) + "\n";
}
const std::string kHeader = "Date/time\tAddress\tAccount\tName\tFile Name";

// The report's figures (all but its list of files) on one line.
std::string Figures(const std::string& json) {
  std::string line;
  for (std::size_t i = 0; i < json.size(); ++i) {
    if (json[i] != '\n')
      line.push_back(json[i]);
    else
      while (i + 1 < json.size() && json[i + 1] == ' ')
        ++i;
  }
  const std::size_t totals = line.find("\"totals\"");
  return totals == std::string::npos ? line : line.substr(totals);
}

// quorvane-report --follow running on the logs while this test writes them; its report lines
// must come to equal a report on a copy of every life of every file (what a file held before it
// was cut short, rotated or deleted, and what it holds now), read at once.
class FollowCommand : public ::testing::Test {
 protected:
  void Start(const std::vector<std::string>& args) {
    int out[2], err[2];
    ASSERT_EQ(pipe(out), 0);
    ASSERT_EQ(pipe(err), 0);
    child_ = fork();
    if (child_ == 0) {
      dup2(out[1], 1);
      dup2(err[1], 2);
      for (int fd : {out[0], out[1], err[0], err[1]})
        close(fd);
      std::vector<char*> argv{const_cast<char*>(QUORVANE_REPORT_BINARY)};
      for (const std::string& arg : args)
        argv.push_back(const_cast<char*>(arg.c_str()));
      argv.push_back(nullptr);
      execv(argv[0], argv.data());
      _exit(127);
    }
    close(out[1]);
    close(err[1]);
    out_ = out[0];
    err_ = err[0];
  }
  void TearDown() override {
    if (child_ > 0 && waitpid(child_, nullptr, WNOHANG) == 0) {
      kill(child_, SIGKILL);
      waitpid(child_, nullptr, 0);
    }
  }
  // Report lines until one says what a fresh report on the lives says, within seconds; after a
  // step failed, the next ones are not waited for.
  void Expect(const std::vector<std::string>& lives) {
    ++steps_;
    if (HasFailure())
      return;
    std::string command;
    for (std::size_t i = 0; i < lives.size(); ++i) {
      if (lives[i].empty())
        continue;  // a file cut to nothing or not there
      const fs::path copy = dir_.Write("life" + std::to_string(copies_++), lives[i]);
      command +=
          (lives[i].rfind("time=", 0) == 0 ? " --log '" : " --download '") + copy.string() + "'";
    }
    const testing::ShellRun fresh = testing::RunShell(
        "timeout 20 " + std::string(QUORVANE_REPORT_BINARY) + " --format json --users" + command);
    ASSERT_EQ(fresh.status, 0) << fresh.err;
    const std::string want = Figures(fresh.out);
    std::string& last = current_;  // a step that adds no rows prints no report
    const auto until = Clock::now() + std::chrono::seconds(15);
    while (Clock::now() < until && Figures(last) != want) {
      const std::size_t end = buffer_.find('\n');
      if (end != std::string::npos) {
        last = buffer_.substr(0, end);
        buffer_.erase(0, end + 1);
        continue;
      }
      pollfd p{out_, POLLIN, 0};
      if (poll(&p, 1, 200) > 0) {
        char piece[65536];
        const ssize_t got = read(out_, piece, sizeof piece);
        ASSERT_GT(got, 0) << "the report ended";
        buffer_.append(piece, static_cast<std::size_t>(got));
      }
    }
    EXPECT_EQ(Figures(last), want) << "step " << steps_ << ": no report within 15 s says this";
  }
  int ExitStatus() {
    const int status = testing::ExitStatusWithin(child_, 10);
    child_ = -1;
    EXPECT_NE(status, -2) << "the report had not ended after 10 s";
    return status;
  }
  std::string Read(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
  }

  testing::TempDir dir_;
  pid_t child_ = -1;
  int out_ = -1, err_ = -1;
  std::string buffer_;
  std::string current_;  // the last report line read
  int copies_ = 0;
  int steps_ = 0;
};

TEST_F(FollowCommand, WriterAppendsRotatesTruncatesDeletesThenSignal) {
  const fs::path server = dir_.Write("mobius.log", Mobius(0));
  const fs::path classic = dir_.Write("Download Log.txt", kHeader + Classic(0));
  Start({"--follow", "--format", "json", "--users", "--log", server.string(), "--download",
         classic.string()});
  std::vector<std::string> ended;
  const auto now = [&] {
    std::vector<std::string> lives = ended;
    lives.push_back(Read(server));
    lives.push_back(Read(classic));
    return lives;
  };
  Expect(now());
  std::string burst;
  for (int i = 1; i < 40; ++i)
    burst += Mobius(i);
  Append(server, burst);
  for (char byte : Classic(1) + Classic(2))
    Append(classic, std::string(1, byte));
  Expect(now());
  // A record in two halves with a pause between: the half is taken when the file is quiet.
  const std::string record = Classic(3);
  Append(classic, record.substr(0, record.size() - 2));
  Expect(now());
  Append(classic, record.substr(record.size() - 2));
  Expect(now());
  // Rotation by rename and create, the old file's last record written through its name.
  fs::rename(server, dir_.Path() / "mobius-old.log");
  Append(dir_.Path() / "mobius-old.log", Mobius(40));
  ended.push_back(Read(dir_.Path() / "mobius-old.log"));
  Append(server, Mobius(41) + Mobius(42));
  Expect(now());
  // Cut short in place, then written anew with its header.
  ended.push_back(Read(classic));
  fs::resize_file(classic, 0);
  Expect(now());
  Append(classic, kHeader + Classic(4));
  Expect(now());
  // Deleted and made again.
  ended.push_back(Read(classic));
  fs::remove(classic);
  Expect(now());
  Append(classic, kHeader + Classic(5) + Classic(6));
  Expect(now());
  kill(child_, SIGTERM);
  EXPECT_EQ(ExitStatus(), 0);
}

// The live log right after a rotation is empty: its first report has no transfers (as a classic
// log of its header alone), and what the server then writes counts.
TEST_F(FollowCommand, AnEmptyServerLogIsFollowedFromItsStart) {
  const fs::path server = dir_.Write("mobius.log", "");
  Start({"--follow", "--format", "json", "--users", "--log", server.string()});
  Expect({kHeader});
  Append(server, Mobius(1) + Mobius(2) + Mobius(3));
  Expect({Read(server)});
  kill(child_, SIGTERM);
  EXPECT_EQ(ExitStatus(), 0);
}

// Standard input ends the follow after its last report; a reader that goes away ends it with
// status 1 and one line.
TEST_F(FollowCommand, EndOfInputAndAReaderGone) {
  const testing::ShellRun piped = testing::RunShell(
      "(printf '" + Mobius(1) + "'; sleep 1.2; printf '" + Mobius(2) + Mobius(4) +
      "') | timeout 20 " + QUORVANE_REPORT_BINARY + " --follow --format json --log -");
  EXPECT_EQ(piped.status, 0) << (piped.status == 124 ? "no end at the input's end" : piped.err);
  const std::size_t lastLine = piped.out.rfind('\n', piped.out.size() - 2) + 1;
  EXPECT_NE(piped.out.find("\"totals\": {\"downloads\": 3, \"uploads\": 0", lastLine),
            std::string::npos)
      << piped.out;

  const fs::path server = dir_.Write("mobius.log", Mobius(1));
  Start({"--follow", "--format", "json", "--users", "--log", server.string()});
  Expect({Read(server)});
  close(out_);
  Append(server, Mobius(2));
  EXPECT_EQ(ExitStatus(), 1);
  char message[4096];
  const ssize_t got = read(err_, message, sizeof message);
  const std::string text(message, got > 0 ? static_cast<std::size_t>(got) : 0);
  EXPECT_EQ(std::count(text.begin(), text.end(), '\n'), 1) << text;
}

}  // namespace
}  // namespace quorvane
