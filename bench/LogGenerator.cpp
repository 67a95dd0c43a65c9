#include "LogGenerator.h"

#include <array>
#include <cstdint>
#include <cstdio>
#include <fstream>

namespace quorvane::bench {

namespace {

class Random {
 public:
  explicit Random(unsigned seed) : state_(seed * 2654435761u + 1) {}
  std::uint32_t Next(std::uint32_t bound) {
    state_ ^= state_ << 13;
    state_ ^= state_ >> 7;
    state_ ^= state_ << 17;
    return static_cast<std::uint32_t>(state_ % bound);
  }

 private:
  std::uint64_t state_;
};

constexpr std::array<const char*, 8> kFolders = {"Games", "Utilities", "Sounds",  "Docs",
                                                 "Icons", "Fonts",     "Uploads", "Movies"};
constexpr std::array<const char*, 6> kKinds = {"sit", "zip", "txt", "mp3", "sea", "png"};

constexpr std::uint32_t kCatalogue = 4000;
constexpr std::uint32_t kUploadedFiles = 2000;

// A catalogue file's number for a row. A number picked below a bound that is itself picked
// uniformly: the first files are fetched far more often than the last, as on a real server.
std::uint32_t CatalogueFile(Random& random, bool uploads) {
  if (uploads && random.Next(5) == 0)
    return kCatalogue + random.Next(kUploadedFiles);  // a file the uploads add
  const std::uint32_t all = uploads ? kCatalogue : kCatalogue + kUploadedFiles;
  return random.Next(random.Next(all) + 1);
}

}  // namespace

std::string MakeLogText(std::size_t rows, unsigned seed, bool uploads, Users users, Files files) {
  Random random(seed);
  std::string text = "Date/Time\tAddress\tAccount\tName\tFile Name\r\n";
  text.reserve(rows * 78);
  char line[256];
  for (std::size_t i = 0; i < rows; ++i) {
    // A few heavy users and a long tail, as on a real server.
    std::uint32_t user = random.Next(8) == 0 ? random.Next(20) : random.Next(6000);
    const std::uint32_t address = user * 3 + random.Next(3);
    std::array<std::uint32_t, 4> octets = {10 + address % 200, (address / 200) % 250, address % 7,
                                           1 + user % 250};
    if (users == Users::Distinct) {
      // Upload rows are numbered on from the download rows, so no name is in both logs.
      user = static_cast<std::uint32_t>(i) + (uploads ? 100000000u : 0u);
      octets = {user >> 24, (user >> 16) & 255, (user >> 8) & 255, user & 255};
    }
    int length;
    if (files == Files::Catalogue) {
      // A catalogue file's name follows from its number alone.
      const std::uint32_t day = 1 + random.Next(28), month = 1 + random.Next(12);
      const std::uint32_t hour = random.Next(24), minute = random.Next(60),
                          second = random.Next(60);
      const std::uint32_t number = CatalogueFile(random, uploads);
      const std::uint32_t folder = number >= kCatalogue ? 6 : number % kFolders.size();
      length =
          std::snprintf(line, sizeof line,
                        "%02u/%02u/2026 %02u:%02u:%02u\t%u.%u.%u.%u\t%s\tuser%u\t%s/File %u.%s\r\n",
                        day, month, hour, minute, second, octets[0], octets[1], octets[2],
                        octets[3], user % 5 == 0 ? "guest" : "member", user, kFolders[folder],
                        number, kKinds[number / kFolders.size() % kKinds.size()]);
    } else {
      length = std::snprintf(
          line, sizeof line,
          "%02u/%02u/2026 %02u:%02u:%02u\t%u.%u.%u.%u\t%s\tuser%u\t%s/File %u.%s\r\n",
          1 + random.Next(28), 1 + random.Next(12), random.Next(24), random.Next(60),
          random.Next(60), octets[0], octets[1], octets[2], octets[3],
          user % 5 == 0 ? "guest" : "member", user, kFolders[random.Next(kFolders.size())],
          random.Next(uploads ? 5000 : 20000), kKinds[random.Next(kKinds.size())]);
    }
    text.append(line, static_cast<std::size_t>(length));
  }
  return text;
}

std::string MakeServerLogText(std::size_t lines, std::size_t firstRecord,
                              std::size_t transferEvery) {
  // Each name's text before and after the user's number.
  static constexpr std::array<std::pair<const char*, const char*>, 5> kNames = {
      {{"Alice", ""},
       {"\"Bob the Builder ", "\""},
       {"\"\\x85d\\x9an", "\""},
       {"C:\\Mac\\Joe", ""},
       {"\"say \\\"hi\\\" ", "\""}}};
  static constexpr std::array<const char*, 4> kMessages = {
      "\"Download file\"", "\"Start folder download\"", "\"File upload complete\"",
      "\"Folder upload started\""};
  static constexpr std::array<const char*, 4> kPathKeys = {"filePath", "path", "dstFile",
                                                           "dstPath"};
  std::string text;
  text.reserve(lines * 190);
  char line[512];
  for (std::size_t i = 0; i < lines; ++i) {
    const std::size_t record = firstRecord + i;
    // Each record's own numbers, so a record reads the same in every file that holds it.
    Random random(static_cast<unsigned>(record) + 7);
    const std::uint32_t user = random.Next(8) == 0 ? random.Next(20) : random.Next(3000);
    const std::int64_t second = 1741986000 + static_cast<std::int64_t>(record);
    const int hms = static_cast<int>(second % 86400);
    const int day = 1 + static_cast<int>(second / 86400 % 28);
    const auto [name, nameEnd] = kNames[user % kNames.size()];
    int length;
    if (record % transferEvery == 0) {
      const std::uint32_t kind = random.Next(4);
      length = std::snprintf(
          line, sizeof line,
          "time=2025-03-%02dT%02d:%02d:%02d-07:00 level=INFO msg=%s remoteAddr=10.%u.%u.%u:%u "
          "login=%s Name=%s%u%s %s=\"/srv/mobius/Files/%s/File %u.%s\"\n",
          day, hms / 3600, hms / 60 % 60, hms % 60, kMessages[kind], user / 250 % 250, user % 250,
          1 + user % 7, 50000 + random.Next(10000), user % 5 == 0 ? "guest" : "member", name, user,
          nameEnd, kPathKeys[kind], kFolders[random.Next(kFolders.size())], random.Next(20000),
          kKinds[random.Next(kKinds.size())]);
    } else {
      length = std::snprintf(line, sizeof line,
                             "time=2025-03-%02dT%02d:%02d:%02d-07:00 level=INFO msg=\"Received "
                             "Transaction\" remoteAddr=10.%u.%u.%u:%u login=%s Name=%s%u%s "
                             "type=GetFileNameList path=/%s\n",
                             day, hms / 3600, hms / 60 % 60, hms % 60, user / 250 % 250, user % 250,
                             1 + user % 7, 50000 + random.Next(10000),
                             user % 5 == 0 ? "guest" : "member", name, user, nameEnd,
                             kFolders[random.Next(kFolders.size())]);
    }
    text.append(line, static_cast<std::size_t>(length));
  }
  return text;
}

std::filesystem::path WriteOnce(const std::filesystem::path& path, const std::string& text) {
  std::error_code error;
  if (std::filesystem::file_size(path, error) != text.size() || error) {
    std::filesystem::create_directories(path.parent_path());
    std::ofstream(path, std::ios::binary)
        .write(text.data(), static_cast<std::streamsize>(text.size()));
  }
  return path;
}

std::pair<std::filesystem::path, std::filesystem::path> WriteLogPair(
    const std::filesystem::path& dir, std::size_t downloadRows, std::size_t uploadRows, Users users,
    Files files) {
  std::filesystem::create_directories(dir);
  const auto write = [&](const char* name, std::size_t rows, unsigned seed, bool uploads) {
    const std::filesystem::path path = dir / name;
    const std::string text = MakeLogText(rows, seed, uploads, users, files);
    std::error_code error;
    if (std::filesystem::file_size(path, error) != text.size() || error) {
      std::ofstream(path, std::ios::binary)
          .write(text.data(), static_cast<std::streamsize>(text.size()));
    }
    return path;
  };
  return {write("Download Log.txt", downloadRows, 1, false),
          write("Upload Log.txt", uploadRows, 2, true)};
}

}  // namespace quorvane::bench
