#include "io/base_stream.h"

#include <cstring>

#include "base/byte_order.h"
#include "base/exception.h"

namespace sq {

void TBaseStream::ReadBuffer(void* buffer, size_t count) {
  auto* out = static_cast<uint8_t*>(buffer);
  while (count > 0) {
    const size_t got = Read(out, count);
    if (got == 0) throw EInOutError("Read less than expected");
    out += got;
    count -= got;
  }
}

void TBaseStream::CopyFrom(TBaseStream& source) {
  uint8_t block[4096];
  for (;;) {
    const size_t got = source.Read(block, sizeof block);
    if (got == 0) break;
    Write(block, got);
  }
}

uint8_t TBaseStream::ReadByte() {
  uint8_t value;
  ReadBuffer(&value, 1);
  return value;
}

uint16_t TBaseStream::ReadUInt16() {
  uint8_t b[2];
  ReadBuffer(b, 2);
  return GetUInt16LE(b);
}

uint32_t TBaseStream::ReadUInt32() {
  uint8_t b[4];
  ReadBuffer(b, 4);
  return GetUInt32LE(b);
}

float TBaseStream::ReadFloat() {
  const uint32_t bits = ReadUInt32();
  float value;
  std::memcpy(&value, &bits, 4);
  return value;
}

void TBaseStream::WriteUInt16(uint16_t value) {
  uint8_t b[2];
  PutUInt16LE(b, value);
  Write(b, 2);
}

void TBaseStream::WriteUInt32(uint32_t value) {
  uint8_t b[4];
  PutUInt32LE(b, value);
  Write(b, 4);
}

void TBaseStream::WriteFloat(float value) {
  uint32_t bits;
  std::memcpy(&bits, &value, 4);
  WriteUInt32(bits);
}

TFilterStream::TFilterStream(std::unique_ptr<TBaseStream> owned) : owned_(std::move(owned)), next_(owned_.get()) {
  readable_ = next_->Readable();
  writable_ = next_->Writable();
}

TFilterStream::TFilterStream(TBaseStream& borrowed) : next_(&borrowed) {
  readable_ = next_->Readable();
  writable_ = next_->Writable();
}

TFilterStream::~TFilterStream() = default;

int64_t CopyStream(TBaseStream& source, TBaseStream* target, int64_t maxCount) {
  uint8_t block[4096];
  int64_t copied = 0;
  while (copied < maxCount) {
    const size_t want = static_cast<size_t>(std::min<int64_t>(sizeof block, maxCount - copied));
    const size_t got = source.Read(block, want);
    if (got == 0) break;
    if (target) target->Write(block, got);
    copied += static_cast<int64_t>(got);
  }
  return copied;
}

}  // namespace sq
