// Replays kept fuzz inputs without libFuzzer: every regular file under the
// given files or folders is passed once to LLVMFuzzerTestOneInput. A crash or
// sanitizer report fails the run; the exit status is 0 otherwise.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size);

namespace {

int run_file(const std::filesystem::path& p) {
  std::ifstream in(p, std::ios::binary);
  std::vector<char> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  LLVMFuzzerTestOneInput(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size());
  return 1;
}

}  // namespace

int main(int argc, char** argv) {
  int ran = 0;
  for (int i = 1; i < argc; ++i) {
    std::filesystem::path arg(argv[i]);
    if (std::filesystem::is_directory(arg)) {
      for (const auto& e : std::filesystem::recursive_directory_iterator(arg))
        if (e.is_regular_file()) ran += run_file(e.path());
    } else if (std::filesystem::is_regular_file(arg)) {
      ran += run_file(arg);
    } else {
      std::fprintf(stderr, "no such input: %s\n", argv[i]);
      return 2;
    }
  }
  std::printf("replayed %d inputs\n", ran);
  return ran > 0 ? 0 : 2;
}
