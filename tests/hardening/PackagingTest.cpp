// The package's metadata agrees with the program it describes.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

namespace {

std::string Slurp(const std::filesystem::path& file) {
  std::ifstream in(file, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

const std::filesystem::path kPackaging = QUORVANE_PACKAGING_DIR;

// The one AppStream metainfo file we ship.
std::string Metainfo() {
  std::string text;
  int files = 0;
  for (const auto& entry : std::filesystem::directory_iterator(kPackaging / "metainfo")) {
    if (entry.path().string().ends_with(".metainfo.xml")) {
      text = Slurp(entry.path());
      ++files;
    }
  }
  EXPECT_EQ(files, 1);
  return text;
}

TEST(Packaging, TheMetainfoHasAReleaseForThisVersion) {
  const std::string metainfo = Metainfo();
  ASSERT_FALSE(metainfo.empty());
  EXPECT_NE(metainfo.find(std::string("<release version=\"") + QUORVANE_VERSION + "\""),
            std::string::npos)
      << "add a <release> for " << QUORVANE_VERSION << " to the metainfo";
}

TEST(Packaging, TheMetainfoLaunchesTheDesktopEntryWeInstall) {
  const std::string metainfo = Metainfo();
  const std::string open = "<launchable type=\"desktop-id\">";
  const std::size_t at = metainfo.find(open);
  ASSERT_NE(at, std::string::npos);
  const std::size_t from = at + open.size();
  const std::string desktopId = metainfo.substr(from, metainfo.find('<', from) - from);
  EXPECT_TRUE(std::filesystem::is_regular_file(kPackaging / desktopId))
      << desktopId << " is not in packaging/";
}

}  // namespace
