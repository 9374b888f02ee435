// Joins a chain of consecutive IDAT chunks of a PNG file into one byte stream.
#pragma once

#include <cstdint>

#include "compress/crc32_stream.h"

namespace sq {

// Created after the first IDAT chunk's length and type have been read through
// chunks (its CRC reset before the type).  Each chunk's CRC is checked when its
// data is used up ("CRC error").  The chain ends at the first chunk of another
// type: Read then returns 0, and NextLength / NextType hold that chunk's header,
// whose type has passed through the CRC like any chunk's.
class TIDATStream : public TFilterStream {
 public:
  TIDATStream(TCRC32Stream& chunks, uint32_t firstLength);

  size_t Read(void* buffer, size_t count) override;
  void Write(const void* buffer, size_t count) override;
  int64_t Available() override;

  // The chain has ended (a chunk of another type was reached).
  bool Ended() const { return ended_; }
  // Reads the rest of the chain and returns its last four bytes read big-endian
  // (the zlib stream's Adler-32), counting those already read.
  uint32_t SkipToEnd();
  // Data bytes handed out so far.
  uint64_t Delivered() const { return delivered_; }

  uint32_t NextLength = 0;
  char NextType[4] = {};

 private:
  void NextChunk();

  TCRC32Stream& chunks_;
  uint32_t left_;
  bool ended_ = false;
  uint64_t delivered_ = 0;
  uint32_t tail_ = 0;  // the last four bytes handed out, oldest in the top byte
};

// Largest chunk length the format allows (2^31 - 1).
constexpr uint32_t kMaxPNGChunkLength = 0x7FFFFFFFu;

uint32_t ReadBigEndian32(const uint8_t* p);
void WriteBigEndian32(uint8_t* p, uint32_t value);

}  // namespace sq
