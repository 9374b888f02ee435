// Deflate (RFC 1951) as a filter stream: bytes written are compressed into the
// wrapped stream, bytes read are inflated from it.  Raw deflate, no zlib wrapper;
// the PNG codec adds the wrapper and its Adler-32 itself (see png_loader.cpp).
//
//   TMemoryStream packed;
//   {
//     TDeflateStream deflate(packed, TDeflateStream::dirWrite);
//     deflate.Write(data, size);
//     deflate.Close();          // final block; errors surface here, not in the destructor
//   }
//   TDeflateStream inflate(packed, TDeflateStream::dirRead);  // after packed.SetPosition(0)
//   inflate.ReadBuffer(out, size);
#pragma once

#include <cstdint>
#include <memory>
#include <span>
#include <vector>

#include "compress/huffman_bit_stream.h"

namespace sq {

class TDeflateStream : public THuffmanBitStream {
 public:
  enum TDirection { dirAny = -1, dirRead = 0, dirWrite = 1 };
  // CompressionMethod values.
  enum { cmDynamic = 0, cmFixed = 1, cmStored = 2 };

  // dirAny reads when the wrapped stream can be read and writes otherwise.
  TDeflateStream(TBaseStream& next, int direction = dirAny);
  TDeflateStream(std::unique_ptr<TBaseStream> next, int direction = dirAny);
  // Closes a writing stream; a failure there is lost, so writers call Close.
  ~TDeflateStream() override;
  TDeflateStream(const TDeflateStream&) = delete;
  TDeflateStream& operator=(const TDeflateStream&) = delete;

  void Write(const void* buffer, size_t count) override;
  size_t Read(void* buffer, size_t count) override;
  int64_t Available() override;
  // Writing: emits what waits as a (non-final) block and passes the complete bytes
  // on.  The stream goes on afterwards.
  void Flush() override;
  // Writing: emits the final block and passes every byte on.  Later writes raise.
  void Close();

  // Writing: the exact matcher's symbols for the bytes that follow those written so
  // far, found beforehand by TExactParser over the whole input; the stream then holds
  // what Write of those bytes would have made of them.  Such a stream takes no Write
  // afterwards.  Dynamic and fixed blocks only.
  void WriteParsed(std::span<const uint32_t> symbols);

  bool IsWriting() const { return writing_; }
  // Bytes written into (or inflated out of) the stream so far.
  int64_t TotalBytes() const { return totalBytes_; }

  // Writing: 0 dynamic Huffman blocks, 1 fixed Huffman blocks, 2 stored blocks.
  // Read at the first write; later changes have no effect.
  int CompressionMethod = cmDynamic;
  // Writing: image rows after a PNG row filter.  Lets a second matcher choose the
  // symbols (lazy evaluation, no short matches), which packs such rows noticeably
  // smaller; any inflater reads the result alike.  Everything else keeps the exact
  // greedy matcher, whose output is fixed byte for byte.  Read at the first write.
  bool FilteredData = false;

 private:
  struct TMatchTable;

  void Init(int direction);
  // Writing.
  void Deflate(bool flush);
  void DeflateFiltered(bool flush);
  int FilteredMatch(int64_t position, int maxLength, int atLeast, uint32_t& distance) const;
  void InsertPositions(int64_t end);
  void EmitLiteral(uint8_t byte);
  void EmitMatch(int length, uint32_t distance);
  void EmitBlock(bool final);
  void EmitStored(bool final);
  void WriteSymbols(const THuffmanEncoder& lit, const THuffmanEncoder& dist);
  void SlideInput();
  void LatchMethod();
  // Reading.
  void FillWindow(size_t want);
  void DecodeBlockHeader();
  void DecodeDynamicTables();
  void DecodeHuffman(size_t target);

  bool writing_ = false;
  bool closed_ = false;
  int method_ = -1;        // CompressionMethod as latched by the first write
  bool filtered_ = false;  // FilteredData as latched by the first write
  bool parsed_ = false;    // written through WriteParsed
  // Filtered matcher: the match found at lookPos_ when a look one byte on had to
  // wait for more input (-1: none).
  int pendingLength_ = -1;
  uint32_t pendingDistance_ = 0;
  int64_t totalBytes_ = 0;

  // Writing: input window at absolute stream positions; window_[0] is base_.
  std::unique_ptr<uint8_t[]> window_;
  int64_t base_ = 0;       // stream position of window_[0]
  int64_t lookPos_ = 0;    // first byte not yet matched
  int64_t dataEnd_ = 0;    // end of the bytes written
  int64_t insertPos_ = 0;  // first position not yet in the match table
  std::unique_ptr<TMatchTable> matches_;
  // A literal, or match flag | distance code << 25 | distance << 9 | length.
  std::unique_ptr<uint32_t[]> symbols_;
  int symbolCount_ = 0;
  int entries_ = 0;  // symbol buffer use, counting extra-bit entries as their own
  uint32_t litFreq_[286] = {};
  uint32_t distFreq_[30] = {};

  // Reading: the last 32 KiB of output stay in front of outWrite_.
  enum TState { sHeader, sStored, sHuffman, sDone };
  std::unique_ptr<uint8_t[]> out_;
  size_t outRead_ = 0;
  size_t outWrite_ = 0;
  TState state_ = sHeader;
  bool finalBlock_ = false;
  uint32_t storedLeft_ = 0;
  THuffmanDecoder litDecoder_, distDecoder_;
  const THuffmanDecoder* lit_ = nullptr;
  const THuffmanDecoder* dist_ = nullptr;
};

// Raw deflate of a block (CompressionMethod as above).
std::vector<uint8_t> DeflateBytes(std::span<const uint8_t> data, int compressionMethod = TDeflateStream::cmDynamic);
// Inflates a raw deflate block; raises "Error in compressed data" when it is
// malformed or inflates to more than maxOutput bytes.
std::vector<uint8_t> InflateBytes(std::span<const uint8_t> data, size_t maxOutput);

}  // namespace sq
