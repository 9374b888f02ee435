// Feeds arbitrary bytes to raw inflate; whatever inflates must deflate and inflate
// back to itself in every block mode.
#include <cstdint>

#include "base/exception.h"
#include "compress/deflate_stream.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace sq;
  std::vector<uint8_t> plain;
  try {
    plain = InflateBytes(std::span<const uint8_t>(data, size), 1 << 20);
  } catch (const Exception&) {
    return 0;
  }
  const int method = size > 0 ? data[0] % 3 : 0;
  if (InflateBytes(DeflateBytes(plain, method), plain.size()) != plain) __builtin_trap();
  return 0;
}
