// Byte comparisons that both deflate matchers (the exact one and the filtered one)
// make at every candidate.
#pragma once

#include <cstdint>
#include <cstring>

namespace sq {

inline uint32_t Load32(const uint8_t* p) {
  uint32_t v;
  std::memcpy(&v, p, 4);
  return v;
}

// The two bytes at p as one number: the exact matcher's key, which every candidate
// of a group shares.
inline uint32_t PrefixKey(const uint8_t* p) { return p[0] | (uint32_t(p[1]) << 8); }

// Bytes a and b have in common, at most max; never reads at or past a + max or b + max.
inline int CommonLength(const uint8_t* a, const uint8_t* b, int max) {
  int n = 0;
  for (; n + 8 <= max; n += 8) {
    uint64_t x, y;
    std::memcpy(&x, a + n, 8);
    std::memcpy(&y, b + n, 8);
    if (const uint64_t diff = x ^ y) return n + (__builtin_ctzll(diff) >> 3);
  }
  while (n < max && a[n] == b[n]) ++n;
  return n;
}

}  // namespace sq
