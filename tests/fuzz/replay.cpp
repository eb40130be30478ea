// Runs every file in the given folders (or the given files) through a fuzz target once, so that the
// kept corpus is a regression test that needs neither clang nor libFuzzer.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size);

int main(int argc, char** argv) {
  namespace fs = std::filesystem;
  std::vector<fs::path> files;
  for (int a = 1; a < argc; ++a) {
    if (!fs::is_directory(argv[a])) {
      files.emplace_back(argv[a]);  // one input, as libFuzzer leaves it after a crash
      continue;
    }
    for (const auto& entry : fs::directory_iterator(argv[a])) {
      if (entry.is_regular_file()) files.push_back(entry.path());
    }
  }
  // An empty or mistyped folder would pass without testing anything.
  if (files.empty()) {
    std::fprintf(stderr, "no inputs found\n");
    return 1;
  }
  std::sort(files.begin(), files.end());
  for (const fs::path& file : files) {
    // Named before it runs, so that a crash shows which input it was.
    std::printf("%s\n", file.filename().c_str());
    std::fflush(stdout);
    std::ifstream stream(file, std::ios::binary);
    const std::vector<char> bytes((std::istreambuf_iterator<char>(stream)),
                                  std::istreambuf_iterator<char>());
    LLVMFuzzerTestOneInput(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size());
  }
  std::printf("%zu inputs replayed\n", files.size());
  return 0;
}
