// Runs a fuzz target's LLVMFuzzerTestOneInput once on each file given, or on
// each file of each directory given, without libFuzzer: the seeds as a test
// of the normal build, the corpora for the coverage report. A crash or an
// abort on an input ends the program as it would end the fuzzer; finding no
// input at all is a failure too (seeds that were never made test nothing).

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size);

namespace {

namespace fs = std::filesystem;

void Collect(const fs::path& path, std::vector<fs::path>& inputs) {
  std::error_code ec;
  if (fs::is_directory(path, ec)) {
    std::vector<fs::path> found;
    for (const fs::directory_entry& e : fs::directory_iterator(path, ec)) {
      if (e.is_regular_file(ec)) found.push_back(e.path());
    }
    std::sort(found.begin(), found.end());
    inputs.insert(inputs.end(), found.begin(), found.end());
  } else if (fs::is_regular_file(path, ec)) {
    inputs.push_back(path);
  }
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<fs::path> inputs;
  for (int i = 1; i < argc; ++i) Collect(argv[i], inputs);
  if (inputs.empty()) {
    std::fprintf(stderr, "%s: no inputs found\n", argc > 0 ? argv[0] : "replay");
    return 1;
  }
  for (const fs::path& p : inputs) {
    std::ifstream in(p, std::ios::binary);
    // Exactly the file's bytes, so that a read past them is a read past the allocation.
    const std::vector<char> bytes{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    if (!in.eof() && !in.good()) {
      std::fprintf(stderr, "%s: cannot read\n", p.c_str());
      return 1;
    }
    std::fprintf(stderr, "running %s (%zu bytes)\n", p.c_str(), bytes.size());
    std::vector<std::uint8_t> data(bytes.begin(), bytes.end());
    data.shrink_to_fit();
    LLVMFuzzerTestOneInput(data.data(), data.size());
  }
  std::fprintf(stderr, "%zu inputs ran\n", inputs.size());
  return 0;
}
