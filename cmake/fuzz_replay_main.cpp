// Replays every file of a fuzz target's corpus folder through the target, so that
// inputs which once crashed a reader keep being checked by the ordinary test run.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <vector>

#include <sys/resource.h>

// The memory a reader may take for any input (libFuzzer's -rss_limit_mb in the fuzz
// build).  Sanitizers keep freed blocks in quarantine, so there the fuzz build's
// own limit is the check.
constexpr long kMaxResidentMb = 512;

namespace {
long PeakResidentMb() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  return usage.ru_maxrss / 1024;
}
#if defined(__SANITIZE_ADDRESS__)
constexpr bool kCheckMemory = false;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
constexpr bool kCheckMemory = false;
#else
constexpr bool kCheckMemory = true;
#endif
#else
constexpr bool kCheckMemory = true;
#endif
}  // namespace

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
      if (kCheckMemory && PeakResidentMb() > kMaxResidentMb) {
        std::fprintf(stderr, "%s: more than %ld MB of memory\n", file.string().c_str(), kMaxResidentMb);
        return 1;
      }
    }
  }
  // Always feed the empty input too: a corpus may not exist yet in a fresh checkout.
  LLVMFuzzerTestOneInput(nullptr, 0);
  std::printf("replayed %d inputs from %s\n", count, dir.string().c_str());
  return 0;
}
