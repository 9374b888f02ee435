#include "imaging/codecs/idat_stream.h"

#include <algorithm>
#include <cstring>

#include "base/exception.h"

namespace sq {

uint32_t ReadBigEndian32(const uint8_t* p) {
  return (uint32_t(p[0]) << 24) | (uint32_t(p[1]) << 16) | (uint32_t(p[2]) << 8) | p[3];
}

void WriteBigEndian32(uint8_t* p, uint32_t value) {
  p[0] = static_cast<uint8_t>(value >> 24);
  p[1] = static_cast<uint8_t>(value >> 16);
  p[2] = static_cast<uint8_t>(value >> 8);
  p[3] = static_cast<uint8_t>(value);
}

TIDATStream::TIDATStream(TCRC32Stream& chunks, uint32_t firstLength)
    : TFilterStream(static_cast<TBaseStream&>(chunks)), chunks_(chunks), left_(firstLength) {
  readable_ = true;
  writable_ = false;
}

void TIDATStream::Write(const void*, size_t) { throw EInOutError("Stream not open for write"); }

int64_t TIDATStream::Available() {
  while (left_ == 0 && !ended_) NextChunk();
  return ended_ ? 0 : left_;
}

void TIDATStream::NextChunk() {
  uint8_t field[4];
  const uint32_t computed = chunks_.CRC();
  chunks_.Next().ReadBuffer(field, 4);
  if (ReadBigEndian32(field) != computed) throw EBadFormat("CRC error");
  chunks_.Next().ReadBuffer(field, 4);
  const uint32_t length = ReadBigEndian32(field);
  if (length > kMaxPNGChunkLength) throw EBadFormat("Invalid PNG data");
  chunks_.ResetCRC();
  char type[4];
  chunks_.ReadBuffer(type, 4);
  if (std::memcmp(type, "IDAT", 4) == 0) {
    left_ = length;
  } else {
    ended_ = true;
    NextLength = length;
    std::memcpy(NextType, type, 4);
  }
}

size_t TIDATStream::Read(void* buffer, size_t count) {
  if (count == 0) return 0;
  while (left_ == 0 && !ended_) NextChunk();
  if (ended_) return 0;
  const size_t got = chunks_.Read(buffer, std::min<size_t>(count, left_));
  if (got == 0) throw EInOutError("Read less than expected");
  left_ -= static_cast<uint32_t>(got);
  delivered_ += got;
  const auto* p = static_cast<const uint8_t*>(buffer);
  for (size_t i = got > 4 ? got - 4 : 0; i < got; ++i) tail_ = (tail_ << 8) | p[i];
  return got;
}

uint32_t TIDATStream::SkipToEnd() {
  uint8_t block[4096];
  while (Read(block, sizeof block) > 0) {
  }
  return tail_;
}

}  // namespace sq
