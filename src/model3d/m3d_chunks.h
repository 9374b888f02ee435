// Pieces of the native M3D model file: chunk framing and the compressed arrays
// inside chunk bodies.
#pragma once

#include <cstddef>
#include <cstdint>
#include <exception>
#include <memory>
#include <span>
#include <variant>
#include <vector>

#include "base/large_pages.h"
#include "io/memory_stream.h"
#include "model3d/base_3d_model.h"

namespace sq {

class TBaseStream;

// A chunk read whole: its type and body, and, once InflateAhead has run, the array
// its compressed part inflates to, or the error inflating it raised.  The chunk
// readers below take that array instead of inflating again, so a chunk reads the
// same whether or not it was inflated ahead.
class TChunkBodyStream : public TReadOnlyMemoryStream {
 public:
  TChunkBodyStream(uint16_t type, TLargeBlock<uint8_t> body, size_t size);
  uint16_t Type() const { return type_; }
  std::span<const uint8_t> Body() const { return {body_.get(), size_}; }

  // Inflates the array of a vertex, triangle, colour or texture coordinate chunk,
  // the last two for vertexCount vertices; any other chunk is left as it is.
  void InflateAhead(uint32_t vertexCount);

  // For the chunk readers: when the array was inflated ahead as `count` items of T
  // (any count for the counted chunks), moves it into items, or raises the error
  // inflating it raised.  False when there is nothing to take.
  template <class T>
  bool TakeInflated(size_t count, std::vector<T>& items) {
    auto* ready = std::get_if<std::vector<T>>(&inflated_);
    if (ready == nullptr || (inflatedCount_ != kAnyCount && inflatedCount_ != count)) return false;
    if (error_) std::rethrow_exception(error_);
    items = std::move(*ready);
    inflated_ = std::monostate();
    return true;
  }

 private:
  static constexpr size_t kAnyCount = ~size_t(0);

  uint16_t type_;
  TLargeBlock<uint8_t> body_;
  size_t size_;
  std::variant<std::monostate, std::vector<T3DPoint>, std::vector<T3DTriangle>, std::vector<uint32_t>,
               std::vector<TTexCoord>>
      inflated_;
  size_t inflatedCount_ = 0;
  std::exception_ptr error_;
};

// Reads the next chunk of a version-5 file, its header and its body whole into
// memory, or gives null at the end of the file.  The body is taken at once when the
// stream holds that many bytes; otherwise it grows only as bytes actually arrive, so
// a length field that promises more than the file holds ends in the read error, not
// in a huge allocation.
std::unique_ptr<TChunkBodyStream> ReadNextChunk(TBaseStream& stream);

// InflateAhead for several chunks side by side on the machine's cores, each chunk
// with its vertex count.
void InflateChunksAhead(std::span<TChunkBodyStream* const> chunks, std::span<const uint32_t> vertexCounts);

// Chunk 1: a 32-bit count, then the compressed vertices.
std::vector<T3DPoint> ReadVertexChunk(TBaseStream& body);
// Chunk 2: a 32-bit count, then the compressed triangles.
std::vector<T3DTriangle> ReadTriangleChunk(TBaseStream& body);
// Fills count items of the array from the compressed rest of the body; the body must
// hold them all.
void ReadCompressedBytes(TBaseStream& body, void* data, size_t bytes);
// Chunks 3 and 5: fills every item of the array from the compressed body.
void ReadCompressedArray(TBaseStream& body, std::vector<uint32_t>& items);
void ReadCompressedArray(TBaseStream& body, std::vector<TTexCoord>& items);

// Writes a chunk: its type now, the length and body when Finish is called.
class TChunkWriter {
 public:
  TChunkWriter(TBaseStream& file, uint16_t type);
  TBaseStream& Body() { return body_; }
  // Writes the raw bytes compressed (raw deflate, closed) into the body.
  void WriteCompressed(const void* data, size_t bytes);
  // Writes the 32-bit length and the body to the file.
  void Finish();

 private:
  TBaseStream& file_;
  TMemoryStream body_;
};

// A chunk holding one array: its type, the 32-bit item count when Counted, then the
// array's bytes compressed.
struct TArrayChunk {
  uint16_t Type;
  bool Counted;
  uint32_t Count;
  const void* Data;
  size_t Bytes;
};

// Writes the chunks in the order given.  Their bodies are compressed side by side
// on the machine's cores (DeflateBuffers): each is its own deflate stream, with the
// same bytes as when they are compressed one after another.
void WriteArrayChunks(TBaseStream& file, std::span<const TArrayChunk> chunks);

}  // namespace sq
