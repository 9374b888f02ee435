#include "compress/crc32_stream.h"

#include <array>
#include <cstring>

namespace sq {

namespace {

// Eight tables let the loop take eight bytes per step ("slicing by eight"); table 0
// alone is the classic byte-at-a-time table.
using TCRCTables = std::array<std::array<uint32_t, 256>, 8>;

TCRCTables MakeTables() {
  TCRCTables t{};
  for (uint32_t n = 0; n < 256; ++n) {
    uint32_t c = n;
    for (int k = 0; k < 8; ++k) c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
    t[0][n] = c;
  }
  for (uint32_t n = 0; n < 256; ++n)
    for (int k = 1; k < 8; ++k) t[k][n] = (t[k - 1][n] >> 8) ^ t[0][t[k - 1][n] & 0xFF];
  return t;
}

const TCRCTables& Tables() {
  static const TCRCTables tables = MakeTables();
  return tables;
}

}  // namespace

uint32_t UpdateCRC32(uint32_t crc, const void* data, size_t size) {
  const TCRCTables& t = Tables();
  const auto* p = static_cast<const uint8_t*>(data);
  while (size >= 8) {
    uint32_t lo, hi;
    std::memcpy(&lo, p, 4);
    std::memcpy(&hi, p + 4, 4);
    lo ^= crc;  // the byte order of this step assumes a little-endian host
    crc = t[7][lo & 0xFF] ^ t[6][(lo >> 8) & 0xFF] ^ t[5][(lo >> 16) & 0xFF] ^ t[4][lo >> 24] ^ t[3][hi & 0xFF] ^
          t[2][(hi >> 8) & 0xFF] ^ t[1][(hi >> 16) & 0xFF] ^ t[0][hi >> 24];
    p += 8;
    size -= 8;
  }
  while (size-- > 0) crc = t[0][(crc ^ *p++) & 0xFF] ^ (crc >> 8);
  return crc;
}

void TCRC32Stream::Write(const void* buffer, size_t count) {
  crc_ = UpdateCRC32(crc_, buffer, count);
  TFilterStream::Write(buffer, count);
}

size_t TCRC32Stream::Read(void* buffer, size_t count) {
  const size_t got = TFilterStream::Read(buffer, count);
  crc_ = UpdateCRC32(crc_, buffer, got);
  return got;
}

}  // namespace sq
