#include <iostream>
#include <string>
#include <vector>

#include "ReportCommand.h"

int main(int argc, char** argv) {
  std::ios::sync_with_stdio(false);
  std::vector<std::string> args(argv + 1, argv + argc);
  return quorvane::RunReportCommand(args, std::cout, std::cerr);
}
