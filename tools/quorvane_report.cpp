#include <iostream>
#include <string>
#include <vector>

#include "ReportCommand.h"

#ifdef _WIN32
#include <windows.h>
// windows.h first
#include <shellapi.h>
#endif

namespace {

#ifdef _WIN32
// Windows hands main() its arguments in the ANSI code page, which cannot hold every user name or
// file name; take them from the wide command line as UTF-8, as they come on other systems.
std::vector<std::string> Arguments(int, char**) {
  int count = 0;
  wchar_t** wide = CommandLineToArgvW(GetCommandLineW(), &count);
  std::vector<std::string> args;
  for (int i = 1; wide != nullptr && i < count; ++i) {
    const int length = lstrlenW(wide[i]);
    const int size = WideCharToMultiByte(CP_UTF8, 0, wide[i], length, nullptr, 0, nullptr, nullptr);
    std::string arg(static_cast<std::size_t>(size), '\0');
    WideCharToMultiByte(CP_UTF8, 0, wide[i], length, arg.data(), size, nullptr, nullptr);
    args.push_back(std::move(arg));
  }
  LocalFree(wide);
  return args;
}
#else
std::vector<std::string> Arguments(int argc, char** argv) {
  return {argv + 1, argv + argc};
}
#endif

}  // namespace

int main(int argc, char** argv) {
  std::ios::sync_with_stdio(false);
  return quorvane::RunReportCommand(Arguments(argc, argv), std::cout, std::cerr);
}
