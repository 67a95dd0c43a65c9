#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <algorithm>
#include <cstring>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "app/SysInfo.h"
#include "app/frmAbout.h"
#include "support/FakeInteraction.h"

using namespace sysinfo;

namespace {

constexpr Status kNotFound = 2;
constexpr Status kMoreData = 234;

struct Value {
  std::uint32_t type = kTypeText;
  std::string bytes;
};

// Any bytes under any type code.
Value Raw(std::uint32_t type, std::string bytes) {
  return {type, std::move(bytes)};
}

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

// A registry in memory that records what is asked of it.
class FakeKeyStore : public KeyStore {
 public:
  void Set(const std::string& key, const std::string& name, Value value) {
    keys_[key][name] = std::move(value);
  }

  Status OpenKey(std::uint32_t root, const std::string& keyName, std::uint32_t access,
                 KeyHandle& key) override {
    accesses.push_back(access);
    const auto found = keys_.find(keyName);
    if (root != kLocalMachine || found == keys_.end())
      return kNotFound;
    open_.push_back(keyName);
    key = open_.size();  // handles start at 1
    ++openCount;
    return 0;
  }
  Status QueryValue(KeyHandle key, const std::string& valueName, std::uint32_t& type,
                    unsigned char* data, std::uint32_t& size) override {
    const auto& values = keys_.at(open_.at(key - 1));
    const auto found = values.find(valueName);
    if (found == values.end())
      return kNotFound;
    const std::string& bytes = found->second.bytes;
    type = found->second.type;
    if (bytes.size() > size) {
      size = static_cast<std::uint32_t>(bytes.size());
      return kMoreData;
    }
    std::memcpy(data, bytes.data(), bytes.size());
    size = static_cast<std::uint32_t>(bytes.size());
    return 0;
  }
  Status CloseKey(KeyHandle key) override {
    closed.push_back(key);
    return 0;
  }

  int openCount = 0;
  std::vector<std::uint32_t> accesses;
  std::vector<KeyHandle> closed;

 private:
  std::map<std::string, std::map<std::string, Value>> keys_;
  std::vector<std::string> open_;
};

class FakeLauncher : public ProgramLauncher {
 public:
  bool FileExists(const std::string& path) override {
    checked.push_back(path);
    return std::find(files.begin(), files.end(), path) != files.end();
  }
  bool Start(const std::string& path) override {
    started.push_back(path);
    return startWorks && !path.empty();
  }

  std::vector<std::string> files;
  std::vector<std::string> checked;
  std::vector<std::string> started;
  bool startWorks = true;
};

const std::string kKey = kMsinfoKey;

TEST(GetKeyValue, ReadsTheValueAsText) {
  struct Case {
    const char* name;
    Value value;
    bool read;
    std::string expected;
  };
  const std::vector<Case> cases = {
      {"text with zero", Text(R"(C:\Tools\msinfo32.exe)"), true, R"(C:\Tools\msinfo32.exe)"},
      {"text without zero", Raw(kTypeText, "abc"), true, "abc"},
      {"only one zero dropped", Raw(kTypeText, std::string("ab\0\0", 4)), true,
       std::string("ab\0", 3)},
      {"empty text", Text(""), true, ""},
      {"exactly 1024 bytes without zero", Raw(kTypeText, std::string(1024, 'x')), true,
       std::string(1024, 'x')},
      {"1023 bytes and zero", Text(std::string(1023, 'y')), true, std::string(1023, 'y')},
      {"longer than the buffer", Raw(kTypeText, std::string(1025, 'z')), false, ""},
      {"small number, six digits", Number(261), true, "&h000105"},
      {"large number, eight digits", Number(305419896), true, "&h12345678"},
      {"largest six-digit number", Number(16777215), true, "&hFFFFFF"},
      {"smallest eight-digit number", Number(16777216), true, "&h01000000"},
      {"zero", Number(0), true, "&h000000"},
      {"other type leaves the text", Raw(3, "\x01\x02"), true, "left as passed"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    FakeKeyStore store;
    store.Set(kKey, "PATH", c.value);
    std::string keyVal = "left as passed";
    EXPECT_EQ(GetKeyValue(store, kLocalMachine, kKey, "PATH", keyVal), c.read);
    EXPECT_EQ(keyVal, c.expected);
    EXPECT_EQ(store.closed.size(), 1u) << "the opened key is closed again";
    EXPECT_EQ(store.accesses, std::vector<std::uint32_t>{0x2003F});
  }
}

TEST(GetKeyValue, MissingKeyFailsWithEmptyTextAndClosesNothing) {
  FakeKeyStore store;
  std::string keyVal = "stale";
  EXPECT_FALSE(GetKeyValue(store, kLocalMachine, kKey, "PATH", keyVal));
  EXPECT_EQ(keyVal, "");
  EXPECT_TRUE(store.closed.empty());
}

TEST(GetKeyValue, MissingValueFailsAndClosesTheKey) {
  FakeKeyStore store;
  store.Set(kKey, "OTHER", Text("x"));
  std::string keyVal = "stale";
  EXPECT_FALSE(GetKeyValue(store, kLocalMachine, kKey, "PATH", keyVal));
  EXPECT_EQ(keyVal, "");
  EXPECT_EQ(store.closed, std::vector<KeyHandle>{1});
}

TEST(GetKeyValue, ValueOfNoBytesIsAnErrorAndStillClosesTheKey) {
  FakeKeyStore store;
  store.Set(kKey, "PATH", Raw(kTypeText, ""));
  std::string keyVal;
  EXPECT_THROW(GetKeyValue(store, kLocalMachine, kKey, "PATH", keyVal), EmptyValueError);
  EXPECT_EQ(store.closed, std::vector<KeyHandle>{1});
}

// --- StartSysInfo ---

const std::string kFolder = R"(C:\Program Files\Common Files\Microsoft Shared\MSInfo)";
const std::string kFolderProgram = kFolder + R"(\MSINFO32.EXE)";

TEST(StartSysInfo, StartsThePathValueWithoutCheckingIt) {
  FakeKeyStore store;
  store.Set(kMsinfoKey, "PATH", Text(R"(D:\nowhere\info.exe)"));
  store.Set(kToolsLocationKey, "MSINFO", Text(kFolder));
  FakeLauncher launcher;
  launcher.files = {kFolderProgram};
  EXPECT_TRUE(StartSysInfo(store, launcher));
  EXPECT_EQ(launcher.started, std::vector<std::string>{R"(D:\nowhere\info.exe)"});
  EXPECT_TRUE(launcher.checked.empty());
}

TEST(StartSysInfo, FolderValueStartsTheProgramInIt) {
  FakeKeyStore store;
  store.Set(kToolsLocationKey, "MSINFO", Text(kFolder));
  FakeLauncher launcher;
  launcher.files = {kFolderProgram};
  EXPECT_TRUE(StartSysInfo(store, launcher));
  EXPECT_EQ(launcher.checked, std::vector<std::string>{kFolderProgram});
  EXPECT_EQ(launcher.started, std::vector<std::string>{kFolderProgram});
}

TEST(StartSysInfo, FolderWithoutTheProgramStartsNothing) {
  FakeKeyStore store;
  store.Set(kToolsLocationKey, "MSINFO", Text(kFolder));
  FakeLauncher launcher;
  EXPECT_FALSE(StartSysInfo(store, launcher));
  EXPECT_EQ(launcher.checked, std::vector<std::string>{kFolderProgram});
  EXPECT_TRUE(launcher.started.empty());
}

TEST(StartSysInfo, NeitherValueStartsNothing) {
  FakeKeyStore store;
  FakeLauncher launcher;
  EXPECT_FALSE(StartSysInfo(store, launcher));
  EXPECT_TRUE(launcher.started.empty());
  EXPECT_EQ(store.openCount, 0);
}

TEST(StartSysInfo, PathOfAnotherTypeStartsTheEmptyPathAndFails) {
  FakeKeyStore store;
  store.Set(kMsinfoKey, "PATH", Raw(7, std::string("a\0b\0\0", 5)));
  FakeLauncher launcher;
  EXPECT_FALSE(StartSysInfo(store, launcher));
  EXPECT_EQ(launcher.started, std::vector<std::string>{""});
}

TEST(StartSysInfo, ProgramThatCannotStartFails) {
  FakeKeyStore store;
  store.Set(kMsinfoKey, "PATH", Text("/usr/bin/hardinfo"));
  FakeLauncher launcher;
  launcher.startWorks = false;
  EXPECT_FALSE(StartSysInfo(store, launcher));
  EXPECT_EQ(launcher.started.size(), 1u);
}

TEST(StartSysInfo, PathOfNoBytesGoesStraightToTheMessage) {
  FakeKeyStore store;
  store.Set(kMsinfoKey, "PATH", Raw(kTypeText, ""));
  store.Set(kToolsLocationKey, "MSINFO", Text(kFolder));
  FakeLauncher launcher;
  launcher.files = {kFolderProgram};
  EXPECT_FALSE(StartSysInfo(store, launcher));
  EXPECT_TRUE(launcher.started.empty());
}

TEST(StartSysInfo, TooLongPathCountsAsMissing) {
  FakeKeyStore store;
  store.Set(kMsinfoKey, "PATH", Text(std::string(1024, 'p')));
  store.Set(kToolsLocationKey, "MSINFO", Text(kFolder));
  FakeLauncher launcher;
  launcher.files = {kFolderProgram};
  EXPECT_TRUE(StartSysInfo(store, launcher));
  EXPECT_EQ(launcher.started, std::vector<std::string>{kFolderProgram});
}

// --- the store of systems without a registry ---

class SearchPathStoreTest : public testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(dir_.isValid()); }

  std::string AddProgram(const QString& name, bool executable = true) {
    QFile file(QDir(dir_.path()).filePath(name));
    EXPECT_TRUE(file.open(QIODevice::WriteOnly));
    file.write("#!/bin/sh\n");
    file.close();
    QFile::Permissions permissions = QFile::ReadOwner | QFile::WriteOwner;
    if (executable)
      permissions |= QFile::ExeOwner;
    file.setPermissions(permissions);
    return file.fileName().toStdString();
  }
  SearchPathKeyStore Store() {
    return SearchPathKeyStore(SearchPathKeyStore::DefaultPrograms(), {dir_.path().toStdString()});
  }

  QTemporaryDir dir_;
};

TEST_F(SearchPathStoreTest, AnswersThePathOfTheFirstProgramOfTheList) {
  AddProgram("kinfocenter");
  const std::string hardinfo = AddProgram("hardinfo");
  AddProgram("hardinfo2", /*executable=*/false);
  SearchPathKeyStore store = Store();
  std::string keyVal;
  EXPECT_TRUE(GetKeyValue(store, kLocalMachine, kMsinfoKey, "PATH", keyVal));
  EXPECT_EQ(keyVal, hardinfo);
}

TEST_F(SearchPathStoreTest, KnowsNothingWithoutAProgram) {
  SearchPathKeyStore store = Store();
  std::string keyVal;
  EXPECT_FALSE(GetKeyValue(store, kLocalMachine, kMsinfoKey, "PATH", keyVal));
}

TEST_F(SearchPathStoreTest, KnowsNoOtherKeyValueOrRoot) {
  AddProgram("kinfocenter");
  SearchPathKeyStore store = Store();
  std::string keyVal;
  EXPECT_FALSE(GetKeyValue(store, kLocalMachine, kToolsLocationKey, "MSINFO", keyVal));
  EXPECT_FALSE(GetKeyValue(store, kLocalMachine, kMsinfoKey, "MSINFO", keyVal));
  EXPECT_FALSE(GetKeyValue(store, 0x80000001, kMsinfoKey, "PATH", keyVal));
}

TEST_F(SearchPathStoreTest, StartSysInfoStartsTheFoundProgram) {
  const std::string kinfocenter = AddProgram("kinfocenter");
  SearchPathKeyStore store = Store();
  FakeLauncher launcher;
  EXPECT_TRUE(StartSysInfo(store, launcher));
  EXPECT_EQ(launcher.started, std::vector<std::string>{kinfocenter});
}

// --- the real launcher, asked only about files and about programs that cannot start ---

TEST(SystemLauncher, OnlyOrdinaryVisibleFilesExist) {
  QTemporaryDir dir;
  ASSERT_TRUE(dir.isValid());
  const QString plain = QDir(dir.path()).filePath("MSINFO32.EXE");
  const QString hidden = QDir(dir.path()).filePath(".hidden");
  for (const QString& name : {plain, hidden}) {
    QFile file(name);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
  }
  ProgramLauncher& launcher = SystemLauncher();
  EXPECT_TRUE(launcher.FileExists(plain.toStdString()));
  EXPECT_FALSE(launcher.FileExists(hidden.toStdString()));
  EXPECT_FALSE(launcher.FileExists(dir.path().toStdString()));
  EXPECT_FALSE(launcher.FileExists(QDir(dir.path()).filePath("missing").toStdString()));
}

TEST(SystemLauncher, NothingToStartFails) {
  QTemporaryDir dir;
  ASSERT_TRUE(dir.isValid());
  ProgramLauncher& launcher = SystemLauncher();
  EXPECT_FALSE(launcher.Start(""));
  EXPECT_FALSE(launcher.Start(QDir(dir.path()).filePath("no-such-program").toStdString()));
}

// --- the About box's button ---

TEST(AboutSystemInfo, UnavailableProgramIsReportedAndTheAboutBoxStaysOpen) {
  FakeInteraction ui;
  FakeKeyStore store;
  FakeLauncher launcher;
  frmAbout about(ui);
  about.UseSysInfo(store, launcher);
  about.show();
  QTest::mouseClick(about.findChild<QPushButton*>("cmdSysInfo"), Qt::LeftButton);
  ASSERT_EQ(ui.notices.size(), 1u);
  EXPECT_EQ(ui.notices[0].title, "Quorvane");
  EXPECT_EQ(ui.notices[0].text, "System Information Is Unavailable At This Time");
  EXPECT_TRUE(launcher.started.empty());
  EXPECT_TRUE(about.isVisible());
}

TEST(AboutSystemInfo, FoundProgramIsStartedWithoutAMessage) {
  FakeInteraction ui;
  FakeKeyStore store;
  store.Set(kMsinfoKey, "PATH", Text("/usr/bin/kinfocenter"));
  FakeLauncher launcher;
  frmAbout about(ui);
  about.UseSysInfo(store, launcher);
  about.show();
  QTest::mouseClick(about.findChild<QPushButton*>("cmdSysInfo"), Qt::LeftButton);
  EXPECT_EQ(launcher.started, std::vector<std::string>{"/usr/bin/kinfocenter"});
  EXPECT_TRUE(ui.notices.empty());
  EXPECT_TRUE(about.isVisible()) << "the About box stays open";
}

}  // namespace
