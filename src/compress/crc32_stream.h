// CRC-32 of the PNG chunk format (ISO 3309 polynomial, reflected, 0xEDB88320).
// TCRC32Stream sits between a codec and its stream and checksums every byte that
// passes through it, in either direction.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

#include "io/base_stream.h"

namespace sq {

// Advances a CRC register (pre-conditioned, not complemented) over size bytes.
uint32_t UpdateCRC32(uint32_t crc, const void* data, size_t size);

// The complete CRC-32 of a block (register reset, result complemented).
inline uint32_t CRC32(std::span<const uint8_t> data) { return ~UpdateCRC32(0xFFFFFFFFu, data.data(), data.size()); }

class TCRC32Stream : public TFilterStream {
 public:
  using TFilterStream::TFilterStream;

  void ResetCRC() { crc_ = 0xFFFFFFFFu; }
  // The CRC of everything since the last reset.
  uint32_t CRC() const { return ~crc_; }
  // Adds bytes that reach the target by another way.
  void UpdateCRC(const void* data, size_t size) { crc_ = UpdateCRC32(crc_, data, size); }

  void Write(const void* buffer, size_t count) override;
  size_t Read(void* buffer, size_t count) override;

 private:
  uint32_t crc_ = 0xFFFFFFFFu;
};

}  // namespace sq
