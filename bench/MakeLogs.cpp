// Writes a generated log pair for measuring the command-line tools by hand:
//   quorvane_make_logs DIR [DOWNLOAD_ROWS [UPLOAD_ROWS [distinct|catalogue]]]
// With `distinct`, every row has a name and an address of its own; with `catalogue`, the rows
// fetch and send the files of a server's catalogue of a few thousand.
//   quorvane_make_logs DIR mobius [LINES]
// writes DIR/mobius.log, a Mobius log of LINES lines (2,000,000), a quarter of them transfers;
//   quorvane_make_logs DIR history [RECORDS]
// writes DIR/history-1.log to -4.log, transfer records only, the first RECORDS (940,000) long and
// each a copy of the one before with 20,000 records more.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>

#include "LogGenerator.h"

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr,
                 "usage: quorvane_make_logs DIR [DOWNLOAD_ROWS [UPLOAD_ROWS "
                 "[distinct|catalogue]]]\n");
    return 2;
  }
  namespace bench = quorvane::bench;
  const std::filesystem::path dir = argv[1];
  if (argc > 2 && std::strcmp(argv[2], "mobius") == 0) {
    const std::size_t lines = argc > 3 ? std::strtoull(argv[3], nullptr, 10) : 2000000;
    std::printf(
        "%s\n",
        bench::WriteOnce(dir / "mobius.log", bench::MakeServerLogText(lines)).string().c_str());
    return 0;
  }
  if (argc > 2 && std::strcmp(argv[2], "history") == 0) {
    const std::size_t records = argc > 3 ? std::strtoull(argv[3], nullptr, 10) : 940000;
    for (std::size_t k = 0; k < 4; ++k) {
      const std::string name = "history-" + std::to_string(k + 1) + ".log";
      std::printf("%s\n",
                  bench::WriteOnce(dir / name, bench::MakeServerLogText(records + k * 20000, 0, 1))
                      .string()
                      .c_str());
    }
    return 0;
  }
  const std::size_t downloads = argc > 2 ? std::strtoull(argv[2], nullptr, 10) : 1000000;
  const std::size_t uploads = argc > 3 ? std::strtoull(argv[3], nullptr, 10) : 250000;
  const bool distinct = argc > 4 && std::strcmp(argv[4], "distinct") == 0;
  const bool catalogue = argc > 4 && std::strcmp(argv[4], "catalogue") == 0;
  const auto [d, u] = quorvane::bench::WriteLogPair(
      argv[1], downloads, uploads,
      distinct ? quorvane::bench::Users::Distinct : quorvane::bench::Users::Typical,
      catalogue ? quorvane::bench::Files::Catalogue : quorvane::bench::Files::Scattered);
  std::printf("%s\n%s\n", d.string().c_str(), u.string().c_str());
  return 0;
}
