// Replays every file of a fuzz target's corpus folder through the target, so that
// inputs which once crashed a reader keep being checked by the ordinary test run.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: %s CORPUS_DIR\n", argv[0]);
    return 2;
  }
  namespace fs = std::filesystem;
  const fs::path dir = argv[1];
  int count = 0;
  if (fs::is_directory(dir)) {
    std::vector<fs::path> files;
    for (const auto& entry : fs::directory_iterator(dir))
      if (entry.is_regular_file()) files.push_back(entry.path());
    std::sort(files.begin(), files.end());
    for (const auto& file : files) {
      std::ifstream in(file, std::ios::binary);
      std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
      LLVMFuzzerTestOneInput(bytes.data(), bytes.size());
      ++count;
    }
  }
  // Always feed the empty input too: a corpus may not exist yet in a fresh checkout.
  LLVMFuzzerTestOneInput(nullptr, 0);
  std::printf("replayed %d inputs from %s\n", count, dir.string().c_str());
  return 0;
}
