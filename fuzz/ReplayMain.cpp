// Runs a fuzz target once on every file of the given directories (or files), without libFuzzer:
// the seed corpus and the kept crash inputs become an ordinary test of any build.
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <set>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size);

int main(int argc, char** argv) {
  std::set<std::filesystem::path> inputs;  // in order, so a failure is found again
  for (int i = 1; i < argc; ++i) {
    if (std::filesystem::is_regular_file(argv[i]))
      inputs.insert(argv[i]);
    else  // a path that is neither throws, and the replay fails
      for (const auto& entry : std::filesystem::directory_iterator(argv[i]))
        inputs.insert(entry.path());
  }
  for (const auto& input : inputs) {
    std::ifstream in(input, std::ios::binary);
    const std::string bytes{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    std::printf("%s (%zu bytes)\n", input.filename().string().c_str(), bytes.size());
    std::fflush(stdout);
    LLVMFuzzerTestOneInput(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size());
  }
  std::printf("replayed %zu inputs\n", inputs.size());
  return inputs.empty() ? 2 : 0;
}
