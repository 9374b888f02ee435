#include "compress/adler32.h"

namespace sq {

namespace {
constexpr uint32_t kBase = 65521;
// The most bytes that can be summed before b may overflow 32 bits; reducing only
// then gives the same value as reducing after every byte.
constexpr size_t kMaxRun = 5552;
}  // namespace

void TAdler32::AdlerAdd(const void* data, size_t size) {
  const auto* p = static_cast<const uint8_t*>(data);
  uint32_t a = a_, b = b_;
  while (size > 0) {
    size_t run = size < kMaxRun ? size : kMaxRun;
    size -= run;
    while (run >= 8) {
      a += p[0];
      b += a;
      a += p[1];
      b += a;
      a += p[2];
      b += a;
      a += p[3];
      b += a;
      a += p[4];
      b += a;
      a += p[5];
      b += a;
      a += p[6];
      b += a;
      a += p[7];
      b += a;
      p += 8;
      run -= 8;
    }
    while (run-- > 0) {
      a += *p++;
      b += a;
    }
    a %= kBase;
    b %= kBase;
  }
  a_ = a;
  b_ = b;
}

}  // namespace sq
