// Writes a generated log pair for measuring the command-line tools by hand:
//   quorvane_make_logs DIR [DOWNLOAD_ROWS [UPLOAD_ROWS]]
#include <cstdio>
#include <cstdlib>

#include "LogGenerator.h"

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: quorvane_make_logs DIR [DOWNLOAD_ROWS [UPLOAD_ROWS]]\n");
    return 2;
  }
  const std::size_t downloads = argc > 2 ? std::strtoull(argv[2], nullptr, 10) : 1000000;
  const std::size_t uploads = argc > 3 ? std::strtoull(argv[3], nullptr, 10) : 250000;
  const auto [d, u] = quorvane::bench::WriteLogPair(argv[1], downloads, uploads);
  std::printf("%s\n%s\n", d.string().c_str(), u.string().c_str());
  return 0;
}
