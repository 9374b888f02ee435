// Adler-32, the checksum of the zlib wrapper around PNG image data.
#pragma once

#include <cstddef>
#include <cstdint>

namespace sq {

class TAdler32 {
 public:
  void AdlerReset() {
    a_ = 1;
    b_ = 0;
  }
  void AdlerAdd(const void* data, size_t size);
  // (b shl 16) or a; stored big-endian in the stream.
  uint32_t AdlerValue() const { return (b_ << 16) | a_; }

 private:
  uint32_t a_ = 1;
  uint32_t b_ = 0;
};

}  // namespace sq
