// Built and run on Linux and, under wine, as a Windows program.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <optional>

#include "support/TempLogs.h"
#include "sysinfo/SysInfoLookup.h"

#ifdef _WIN32
#include <windows.h>
#endif

using namespace quorvane::sysinfo;

namespace quorvane {
namespace {

// A value's type code and bytes.
using Value = std::pair<std::uint32_t, std::string>;

// Text as the registry stores it, with its terminating zero.
Value Text(const std::string& text) {
  return {kTypeText, text + '\0'};
}

// A 32-bit number as its four little-endian bytes.
Value Number(std::uint32_t number) {
  std::string bytes(4, '\0');
  for (int i = 0; i < 4; ++i)
    bytes[i] = static_cast<char>((number >> (8 * i)) & 0xFF);
  return {kTypeNumber, bytes};
}

// A registry in memory that records the access asked for and the keys closed again. A key's
// handle is the address of its values.
class FakeKeyStore : public KeyStore {
 public:
  using Values = std::map<std::string, Value>;

  Status OpenKey(std::uint32_t root, const std::string& keyName, std::uint32_t access,
                 KeyHandle& key) override {
    accesses.push_back(access);
    const auto found = keys.find(keyName);
    if (root != kLocalMachine || found == keys.end())
      return 2;  // not found
    key = reinterpret_cast<KeyHandle>(&found->second);
    return 0;
  }
  Status QueryValue(KeyHandle key, const std::string& valueName, std::uint32_t& type,
                    unsigned char* data, std::uint32_t& size) override {
    const Values& values = *reinterpret_cast<const Values*>(key);
    const auto found = values.find(valueName);
    if (found == values.end())
      return 2;
    const auto& [valueType, bytes] = found->second;
    if (bytes.size() > size)
      return 234;  // more data
    type = valueType;
    size = static_cast<std::uint32_t>(bytes.size());
    std::memcpy(data, bytes.data(), bytes.size());
    return 0;
  }
  Status CloseKey(KeyHandle key) override {
    closed.push_back(key);
    return 0;
  }

  std::map<std::string, Values> keys;
  std::vector<std::uint32_t> accesses;
  std::vector<KeyHandle> closed;
};

struct FakeLauncher : ProgramLauncher {
  bool FileExists(const std::string& path) override {
    checked.push_back(path);
    return std::count(files.begin(), files.end(), path) != 0;
  }
  bool Start(const std::string& path) override {
    started.push_back(path);
    return startWorks && !path.empty();
  }
  std::vector<std::string> files, checked, started;
  bool startWorks = true;
};

TEST(GetKeyValue, ReadsTheValueAsText) {
  enum Outcome { kRead, kFails, kThrows };
  const std::string x1024(1024, 'x'), z1025(1025, 'z');
  // The name a value is stored under (none: no key at all), the value, then what reading PATH
  // gives and leaves in keyVal.
  const std::tuple<const char*, const char*, Value, Outcome, std::string> cases[] = {
      {"text", "PATH", Text(R"(C:\Tools\msinfo32.exe)"), kRead, R"(C:\Tools\msinfo32.exe)"},
      {"text without a zero", "PATH", Value(kTypeText, "abc"), kRead, "abc"},
      {"one zero dropped", "PATH", Value(kTypeText, {"ab\0\0", 4}), kRead, {"ab\0", 3}},
      {"empty text", "PATH", Text(""), kRead, ""},
      {"1024 bytes used whole", "PATH", Value(kTypeText, x1024), kRead, x1024},
      {"1025 bytes fail", "PATH", Value(kTypeText, z1025), kFails, ""},
      {"261 as six digits", "PATH", Number(261), kRead, "&h000105"},
      {"305419896 as eight digits", "PATH", Number(305419896), kRead, "&h12345678"},
      {"another type leaves keyVal", "PATH", Value(3, "\x01\x02"), kRead, "left as passed"},
      {"no bytes are an error", "PATH", Value(kTypeText, ""), kThrows, ""},
      {"missing value", "OTHER", Text("x"), kFails, ""},
      {"missing key", nullptr, Value(kTypeText, ""), kFails, ""}};
  for (const auto& [label, valueName, value, outcome, expected] : cases) {
    SCOPED_TRACE(label);
    FakeKeyStore store;
    if (valueName != nullptr)
      store.keys[kMsinfoKey][valueName] = value;
    std::string keyVal = "left as passed";
    if (outcome == kThrows) {
      EXPECT_THROW(GetKeyValue(store, kLocalMachine, kMsinfoKey, "PATH", keyVal), EmptyValueError);
    } else {
      EXPECT_EQ(GetKeyValue(store, kLocalMachine, kMsinfoKey, "PATH", keyVal), outcome == kRead);
      EXPECT_EQ(keyVal, expected);
    }
    EXPECT_EQ(store.accesses, std::vector<std::uint32_t>{0x20019}) << "KEY_READ, nothing more";
    EXPECT_EQ(store.closed.size(), valueName != nullptr ? 1u : 0u) << "an opened key is closed";
  }
}

// What is checked and started, and whether the caller must say that nothing runs.
TEST(StartSysInfo, StartsWhatTheRegistryNames) {
  const std::string folder = R"(C:\Program Files\Common Files\Microsoft Shared\MSInfo)";
  const std::string program = folder + R"(\MSINFO32.EXE)";
  const std::string p1024(1024, 'p');
  using Paths = std::vector<std::string>;
  enum Folder { kNone, kEmpty, kHoldsProgram };
  // PATH of the MSINFO key, MSINFO of the Shared Tools Location key, whether programs start; then
  // the paths checked and started, and whether the unavailable message shows.
  const std::tuple<const char*, std::optional<Value>, Folder, bool, Paths, Paths, bool> cases[] = {
      {"PATH started unchecked", Text("D:\\x.exe"), kHoldsProgram, true, {}, {"D:\\x.exe"}, false},
      {"MSINFO folder holding MSINFO32.EXE", {}, kHoldsProgram, true, {program}, {program}, false},
      {"MSINFO folder without it", {}, kEmpty, true, {program}, {}, true},
      {"neither value", {}, kNone, true, {}, {}, true},
      {"start fails", Text("/usr/bin/hardinfo"), kNone, false, {}, {"/usr/bin/hardinfo"}, true},
      {"PATH of another type", Value(7, {"a\0b\0\0", 5}), kHoldsProgram, true, {}, {""}, true},
      {"PATH of no bytes", Value(kTypeText, ""), kHoldsProgram, true, {}, {}, true},
      {"PATH too long", Text(p1024), kHoldsProgram, true, {program}, {program}, false}};
  for (const auto& [label, path, msinfo, startWorks, checked, started, message] : cases) {
    SCOPED_TRACE(label);
    FakeKeyStore store;
    if (path)
      store.keys[kMsinfoKey]["PATH"] = *path;
    if (msinfo != kNone)
      store.keys[kToolsLocationKey]["MSINFO"] = Text(folder);
    FakeLauncher launcher;
    if (msinfo == kHoldsProgram)
      launcher.files = {program};
    launcher.startWorks = startWorks;
    EXPECT_EQ(StartSysInfo(store, launcher), !message);
    EXPECT_EQ(launcher.checked, checked);
    EXPECT_EQ(launcher.started, started);
  }
}

#ifndef _WIN32
TEST(SearchPathKeyStore, AnswersThePathOfTheFirstProgramFoundAndNothingElse) {
  const quorvane::testing::TempDir dir;
  const auto addProgram = [&](const char* name, bool executable) {
    const std::filesystem::path file = dir.Write(name, "");
    std::filesystem::permissions(
        file, executable ? std::filesystem::perms::owner_all : std::filesystem::perms::owner_read);
    return file.string();
  };
  SearchPathKeyStore store(SearchPathKeyStore::DefaultPrograms(), {dir.Path().string()});
  std::string keyVal;
  EXPECT_FALSE(GetKeyValue(store, kLocalMachine, kMsinfoKey, "PATH", keyVal)) << "none there";
  addProgram("kinfocenter", true);
  const std::string hardinfo = addProgram("hardinfo", true);
  addProgram("hardinfo2", false);  // first in the list, but cannot run
  std::filesystem::create_directory(dir.Path() / "kinfocenter2");
  EXPECT_TRUE(GetKeyValue(store, kLocalMachine, kMsinfoKey, "PATH", keyVal));
  EXPECT_EQ(keyVal, hardinfo);
  EXPECT_FALSE(GetKeyValue(store, kLocalMachine, kToolsLocationKey, "MSINFO", keyVal));
  EXPECT_FALSE(GetKeyValue(store, kLocalMachine, kMsinfoKey, "MSINFO", keyVal));
  EXPECT_FALSE(GetKeyValue(store, 0x80000001, kMsinfoKey, "PATH", keyVal));
  FakeLauncher launcher;
  EXPECT_TRUE(StartSysInfo(store, launcher));
  EXPECT_EQ(launcher.started, std::vector<std::string>{hardinfo});
}
#else
// The real registry, as wine or Windows has it: text and numbers read through KEY_READ.
TEST(SystemKeyStore, ReadsTheRegistry) {
  const char key[] = R"(SOFTWARE\Microsoft\Windows NT\CurrentVersion)";
  std::string text, number;
  EXPECT_TRUE(GetKeyValue(SystemKeyStore(), kLocalMachine, key, "SystemRoot", text));
  EXPECT_NE(text.find(':'), std::string::npos) << text;
  EXPECT_TRUE(GetKeyValue(SystemKeyStore(), kLocalMachine, key, "InstallDate", number));
  EXPECT_TRUE(number.starts_with("&h") && number.size() >= 8) << number;
  EXPECT_FALSE(
      GetKeyValue(SystemKeyStore(), kLocalMachine, kMsinfoKey + std::string("X"), "PATH", text));
}
#endif

TEST(IsOrdinaryFile, KnowsOnlyOrdinaryVisibleFiles) {
  const quorvane::testing::TempDir dir;
  const std::string program = dir.Write("MSINFO32.EXE", "").string();
  const std::string hidden = dir.Write(".hidden", "").string();
#ifdef _WIN32
  SetFileAttributesA(hidden.c_str(), FILE_ATTRIBUTE_HIDDEN);
#endif
  EXPECT_TRUE(IsOrdinaryFile(program));
  for (const std::string& path : {hidden, dir.Path().string(), (dir.Path() / "missing").string()})
    EXPECT_FALSE(IsOrdinaryFile(path)) << path;
}

}  // namespace
}  // namespace quorvane
