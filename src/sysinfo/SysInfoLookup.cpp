#include "sysinfo/SysInfoLookup.h"

#include <algorithm>
#include <array>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <utility>

#ifdef _WIN32
#include <windows.h>
#else
#include <unistd.h>
#endif

namespace quorvane::sysinfo {

namespace {

constexpr Status kNotFound = 2;    // ERROR_FILE_NOT_FOUND
constexpr Status kBadHandle = 6;   // ERROR_INVALID_HANDLE
constexpr Status kMoreData = 234;  // ERROR_MORE_DATA

// Registry key and value names are not case-sensitive.
bool SameName(const std::string& a, const std::string& b) {
  return std::equal(a.begin(), a.end(), b.begin(), b.end(), [](char x, char y) {
    const auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c + 32) : c; };
    return lower(x) == lower(y);
  });
}

// Closes an opened key on every way out of GetKeyValue, the thrown error included.
class OpenedKey {
 public:
  OpenedKey(KeyStore& store, KeyHandle key) : store_(store), key_(key) {}
  OpenedKey(const OpenedKey&) = delete;
  OpenedKey& operator=(const OpenedKey&) = delete;
  ~OpenedKey() { store_.CloseKey(key_); }

 private:
  KeyStore& store_;
  KeyHandle key_;
};

void AppendHexByte(std::string& out, unsigned char byte) {
  static constexpr char kDigits[] = "0123456789ABCDEF";
  out += kDigits[byte >> 4];
  out += kDigits[byte & 0x0F];
}

// The folders of the search path, in order.
std::vector<std::string> SearchPath() {
#ifdef _WIN32
  constexpr char kSeparator = ';';
#else
  constexpr char kSeparator = ':';
#endif
  std::vector<std::string> dirs;
  const char* path = std::getenv("PATH");
  std::string rest = path != nullptr ? path : "";
  for (std::size_t at; (at = rest.find(kSeparator)) != std::string::npos; rest.erase(0, at + 1)) {
    if (at > 0)
      dirs.push_back(rest.substr(0, at));
  }
  if (!rest.empty())
    dirs.push_back(rest);
  return dirs;
}

// The program's full path in the first folder that holds it as a program, or nothing.
std::string FindProgram(const std::string& program, const std::vector<std::string>& dirs) {
  for (const std::string& dir : dirs) {
    std::filesystem::path candidate = std::filesystem::path(dir) / program;
#ifdef _WIN32
    candidate += ".exe";
    if (IsOrdinaryFile(candidate.string()))
      return candidate.string();
#else
    std::error_code error;
    if (std::filesystem::is_regular_file(candidate, error) && access(candidate.c_str(), X_OK) == 0)
      return candidate.string();
#endif
  }
  return {};
}

#ifdef _WIN32

// Root keys are sign-extended 32-bit handles (HKEY_LOCAL_MACHINE is (HKEY)(LONG)0x80000002).
HKEY RootHandle(std::uint32_t root) {
  return reinterpret_cast<HKEY>(static_cast<ULONG_PTR>(static_cast<LONG>(root)));
}

static_assert(kKeyAccess == KEY_READ);

class RegistryKeyStore : public KeyStore {
 public:
  Status OpenKey(std::uint32_t root, const std::string& keyName, std::uint32_t access,
                 KeyHandle& key) override {
    HKEY opened = nullptr;
    const LONG status = RegOpenKeyExA(RootHandle(root), keyName.c_str(), 0, access, &opened);
    key = reinterpret_cast<KeyHandle>(opened);
    return status;
  }
  Status QueryValue(KeyHandle key, const std::string& valueName, std::uint32_t& type,
                    unsigned char* data, std::uint32_t& size) override {
    DWORD valueType = 0;
    DWORD bytes = size;
    const LONG status = RegQueryValueExA(reinterpret_cast<HKEY>(key), valueName.c_str(), nullptr,
                                         &valueType, data, &bytes);
    type = valueType;
    size = bytes;
    return status;
  }
  Status CloseKey(KeyHandle key) override { return RegCloseKey(reinterpret_cast<HKEY>(key)); }
};

#endif

}  // namespace

bool IsOrdinaryFile(const std::string& path) {
#ifdef _WIN32
  const DWORD attributes = GetFileAttributesA(path.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES)
    return false;
  return (attributes &
          (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM)) == 0;
#else
  // Hidden, on these systems, is a name that starts with a dot.
  std::error_code error;
  const std::filesystem::path file(path);
  return std::filesystem::is_regular_file(file, error) &&
         !file.filename().string().starts_with('.');
#endif
}

bool GetKeyValue(KeyStore& store, std::uint32_t keyRoot, const std::string& keyName,
                 const std::string& subKeyRef, std::string& keyVal) {
  KeyHandle key = 0;
  if (store.OpenKey(keyRoot, keyName, kKeyAccess, key) != 0) {
    keyVal.clear();
    return false;
  }
  const OpenedKey closer(store, key);

  std::array<unsigned char, kValueBufferSize> buffer{};
  std::uint32_t size = kValueBufferSize;
  std::uint32_t type = 0;
  // A store that claims more bytes than the buffer holds is not believed.
  if (store.QueryValue(key, subKeyRef, type, buffer.data(), size) != 0 || size > kValueBufferSize) {
    keyVal.clear();
    return false;
  }
  if (size == 0)
    throw EmptyValueError();

  // Text values usually carry their terminating zero; one zero at the end is dropped.
  const std::size_t length = buffer[size - 1] == 0 ? size - 1 : size;
  switch (type) {
    case kTypeText:
      keyVal.assign(reinterpret_cast<const char*>(buffer.data()), length);
      break;
    case kTypeNumber: {
      // Little-endian bytes, written most significant first.
      std::string text = "&h";
      for (std::size_t i = length; i > 0; --i)
        AppendHexByte(text, buffer[i - 1]);
      keyVal = std::move(text);
      break;
    }
    default:
      break;
  }
  return true;
}

bool StartSysInfo(KeyStore& store, ProgramLauncher& launcher) {
  try {
    std::string path;
    std::string value;
    if (GetKeyValue(store, kLocalMachine, kMsinfoKey, kMsinfoValue, value)) {
      path = std::move(value);
    } else if (GetKeyValue(store, kLocalMachine, kToolsLocationKey, kToolsLocationValue, value)) {
      const std::string candidate = value + kMsinfoProgram;
      if (!launcher.FileExists(candidate))
        return false;
      path = candidate;
    } else {
      return false;
    }
    // The path is not checked first: a start that fails says the same as a missing program.
    return launcher.Start(path);
  } catch (const std::exception&) {
    return false;
  }
}

SearchPathKeyStore::SearchPathKeyStore(std::vector<std::string> programs,
                                       std::vector<std::string> searchDirs)
    : programs_(std::move(programs)), searchDirs_(std::move(searchDirs)) {}

std::vector<std::string> SearchPathKeyStore::DefaultPrograms() {
  return {"hardinfo2", "hardinfo", "kinfocenter"};
}

Status SearchPathKeyStore::OpenKey(std::uint32_t root, const std::string& keyName,
                                   std::uint32_t /*access*/, KeyHandle& key) {
  key = 0;
  if (root != kLocalMachine || !SameName(keyName, kMsinfoKey))
    return kNotFound;
  const std::vector<std::string> dirs = searchDirs_.empty() ? SearchPath() : searchDirs_;
  for (const std::string& program : programs_) {
    found_ = FindProgram(program, dirs);
    if (!found_.empty()) {
      key = 1;
      return 0;
    }
  }
  return kNotFound;
}

Status SearchPathKeyStore::QueryValue(KeyHandle key, const std::string& valueName,
                                      std::uint32_t& type, unsigned char* data,
                                      std::uint32_t& size) {
  if (key != 1)
    return kBadHandle;
  if (!SameName(valueName, kMsinfoValue))
    return kNotFound;
  const std::size_t needed = found_.size() + 1;  // with the terminating zero, as text values are
  if (needed > size) {
    size = static_cast<std::uint32_t>(needed);
    return kMoreData;
  }
  std::memcpy(data, found_.c_str(), needed);
  type = kTypeText;
  size = static_cast<std::uint32_t>(needed);
  return 0;
}

Status SearchPathKeyStore::CloseKey(KeyHandle key) {
  return key == 1 ? 0 : kBadHandle;
}

KeyStore& SystemKeyStore() {
#ifdef _WIN32
  static RegistryKeyStore store;
#else
  static SearchPathKeyStore store;
#endif
  return store;
}

}  // namespace quorvane::sysinfo
