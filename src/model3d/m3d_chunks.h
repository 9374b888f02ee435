// Pieces of the native M3D model file: chunk framing and the compressed arrays
// inside chunk bodies.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "io/memory_stream.h"
#include "model3d/base_3d_model.h"

namespace sq {

class TBaseStream;

// Reads a chunk body of `length` bytes whole into memory.  The buffer grows only as
// bytes actually arrive, so a length field that promises more than the file holds
// ends in the read error, not in a huge allocation.
std::vector<uint8_t> ReadChunkBody(TBaseStream& stream, uint32_t length);

// Chunk 1: a 32-bit count, then the compressed vertices.
std::vector<T3DPoint> ReadVertexChunk(TBaseStream& body);
// Chunk 2: a 32-bit count, then the compressed triangles.
std::vector<T3DTriangle> ReadTriangleChunk(TBaseStream& body);
// Fills count items of the array from the compressed rest of the body; the body must
// hold them all.
void ReadCompressedBytes(TBaseStream& body, void* data, size_t bytes);
template <class T>
void ReadCompressedArray(TBaseStream& body, T* data, size_t count) {
  ReadCompressedBytes(body, data, count * sizeof(T));
}

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
