#pragma once

// Finding the operating system's System Information program. The lookup reads two values of the
// Windows registry; on other systems a small store answers the same question from the programs on
// the search path. Both the store and the starting of programs are interfaces so that tests can
// script them without touching the registry or starting anything. Standard library (and the
// Windows API) only: the Windows build compiles and tests it without Qt.

#include <cstdint>
#include <stdexcept>
#include <string>
#include <vector>

namespace quorvane::sysinfo {

using KeyHandle = std::uintptr_t;
using Status = long;  // 0 = success, as the registry functions report it

inline constexpr std::uint32_t kLocalMachine = 0x80000002;  // HKEY_LOCAL_MACHINE
// KEY_READ: query value, enumerate subkeys, notify, read control. Nothing is written, and a
// standard user may not open HKEY_LOCAL_MACHINE keys for more.
inline constexpr std::uint32_t kKeyAccess = 0x20019;
inline constexpr std::uint32_t kTypeText = 1;    // REG_SZ
inline constexpr std::uint32_t kTypeNumber = 4;  // REG_DWORD
inline constexpr std::uint32_t kValueBufferSize = 1024;

inline constexpr char kMsinfoKey[] = R"(SOFTWARE\Microsoft\Shared Tools\MSINFO)";
inline constexpr char kMsinfoValue[] = "PATH";
inline constexpr char kToolsLocationKey[] = R"(SOFTWARE\Microsoft\Shared Tools Location)";
inline constexpr char kToolsLocationValue[] = "MSINFO";
inline constexpr char kMsinfoProgram[] = R"(\MSINFO32.EXE)";

inline constexpr char kUnavailableMessage[] = "System Information Is Unavailable At This Time";

// A store of named values, shaped like the three registry calls the lookup needs.
class KeyStore {
 public:
  virtual ~KeyStore() = default;
  virtual Status OpenKey(std::uint32_t root, const std::string& keyName, std::uint32_t access,
                         KeyHandle& key) = 0;
  // Reads at most `size` bytes into `data`; on return `size` holds the bytes written. A value
  // longer than `size` is an error, not a partial read.
  virtual Status QueryValue(KeyHandle key, const std::string& valueName, std::uint32_t& type,
                            unsigned char* data, std::uint32_t& size) = 0;
  virtual Status CloseKey(KeyHandle key) = 0;
};

class ProgramLauncher {
 public:
  virtual ~ProgramLauncher() = default;
  // True only for an ordinary file: not a folder, not hidden (nor a system file on Windows).
  virtual bool FileExists(const std::string& path) = 0;
  // Starts the program in a normal window without waiting for it; false when it cannot start.
  virtual bool Start(const std::string& path) = 0;
};

// True only for an ordinary file: not a folder, not hidden (nor a system file on Windows).
bool IsOrdinaryFile(const std::string& path);

// A value that reads as no bytes at all: the lookup cannot make sense of it.
class EmptyValueError : public std::runtime_error {
 public:
  EmptyValueError() : std::runtime_error("the value holds no bytes") {}
};

// Reads value `subKeyRef` of key `keyName` below `keyRoot` as text into `keyVal`. Text values
// are taken as they are, 32-bit numbers as "&h" and upper-case hex digits (most significant
// byte first); a value of another type leaves `keyVal` as it was. A failed open or read returns
// false with `keyVal` empty; a value of no bytes throws EmptyValueError. The key is always
// closed again.
bool GetKeyValue(KeyStore& store, std::uint32_t keyRoot, const std::string& keyName,
                 const std::string& subKeyRef, std::string& keyVal);

// Looks the System Information program up and starts it. Returns false, having started
// nothing or failed to start it, when the caller should say that it is unavailable.
bool StartSysInfo(KeyStore& store, ProgramLauncher& launcher);

// Answers the System Information location from the first of `programs` found in `searchDirs`
// (the search path when empty), so that the lookup works on desktops without a registry. It
// knows no other key.
class SearchPathKeyStore : public KeyStore {
 public:
  explicit SearchPathKeyStore(std::vector<std::string> programs = DefaultPrograms(),
                              std::vector<std::string> searchDirs = {});
  static std::vector<std::string> DefaultPrograms();

  Status OpenKey(std::uint32_t root, const std::string& keyName, std::uint32_t access,
                 KeyHandle& key) override;
  Status QueryValue(KeyHandle key, const std::string& valueName, std::uint32_t& type,
                    unsigned char* data, std::uint32_t& size) override;
  Status CloseKey(KeyHandle key) override;

 private:
  std::vector<std::string> programs_;
  std::vector<std::string> searchDirs_;
  std::string found_;  // the program found by the last successful OpenKey
};

// The store of the running system: the registry on Windows, the search path elsewhere.
KeyStore& SystemKeyStore();

}  // namespace quorvane::sysinfo
