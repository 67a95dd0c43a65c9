// Writes a generated log pair for measuring the command-line tools by hand:
//   quorvane_make_logs DIR [DOWNLOAD_ROWS [UPLOAD_ROWS [distinct]]]
// With `distinct`, every row has a name and an address of its own.
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "LogGenerator.h"

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr,
                 "usage: quorvane_make_logs DIR [DOWNLOAD_ROWS [UPLOAD_ROWS [distinct]]]\n");
    return 2;
  }
  const std::size_t downloads = argc > 2 ? std::strtoull(argv[2], nullptr, 10) : 1000000;
  const std::size_t uploads = argc > 3 ? std::strtoull(argv[3], nullptr, 10) : 250000;
  const bool distinct = argc > 4 && std::strcmp(argv[4], "distinct") == 0;
  const auto [d, u] = quorvane::bench::WriteLogPair(
      argv[1], downloads, uploads,
      distinct ? quorvane::bench::Users::Distinct : quorvane::bench::Users::Typical);
  std::printf("%s\n%s\n", d.string().c_str(), u.string().c_str());
  return 0;
}
