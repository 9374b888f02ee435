// Header sizes above a few megapixels only cost the fuzzer time (the 1 GiB limit and
// the size checks are covered by the unit tests), so the BMP and clipboard fuzzers
// skip inputs whose information header asks for more.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdlib>

inline bool DibHeaderTooLarge(const uint8_t* info, size_t size) {
  if (size < 12) return false;
  const auto get = [&](size_t at, int bytes) {
    int64_t v = 0;
    for (int i = bytes - 1; i >= 0; --i) v = (v << 8) | info[at + i];
    return v;
  };
  const bool core = get(0, 4) == 12;
  int64_t width = core ? get(4, 2) : get(4, 4), height = core ? get(6, 2) : get(8, 4);
  if (!core) width = static_cast<int32_t>(width), height = static_cast<int32_t>(height);
  return std::abs(width) * std::abs(height) > (int64_t(1) << 22);
}
