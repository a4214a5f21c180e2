// replay_main.cpp: a fuzz target once over every input in the folders given,
// as libFuzzer's -runs=0 does, for the tests' own sanitized build; `make fuzz`
// links the targets with libFuzzer to search further.
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <set>
#include <string>

#include "support/temp_dir.hpp"  // read_file

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size);

int main(int argc, char** argv) {
  std::size_t inputs = 0;
  for (int i = 1; i < argc; ++i) {
    std::set<std::filesystem::path> files;  // in order
    for (const auto& entry : std::filesystem::directory_iterator(argv[i])) files.insert(entry.path());
    for (const auto& file : files) {
      const std::string bytes = read_file(file);
      std::fprintf(stderr, "%s\n", file.c_str());  // before a sanitizer's report on it
      LLVMFuzzerTestOneInput(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size());
      ++inputs;
    }
  }
  std::printf("%zu inputs pass\n", inputs);
  return inputs > 0 ? 0 : 1;  // an empty corpus proves nothing
}
