#include "model3d/m3d_chunks.h"

#include <algorithm>
#include <bit>
#include <cstring>
#include <limits>

#include "base/exception.h"
#include "base/format.h"
#include "base/large_pages.h"
#include "compress/deflate_stream.h"
#include "compress/parallel_deflate.h"
#include "io/base_stream.h"

namespace sq {

std::vector<uint8_t> ReadChunkBody(TBaseStream& stream, uint32_t length) {
  constexpr size_t kBlock = size_t(1) << 20;
  std::vector<uint8_t> body;
  size_t done = 0;
  while (done < length) {
    const size_t step = std::min<size_t>(kBlock, length - done);
    GrowLarge(body, done + step, length);
    body.resize(done + step);
    stream.ReadBuffer(body.data() + done, step);
    done += step;
  }
  return body;
}

// The arrays are written as they lie in memory: singles and 32-bit integers,
// little-endian, without padding.
static_assert(std::endian::native == std::endian::little);
static_assert(sizeof(T3DPoint) == 12 && sizeof(T3DTriangle) == 12 && sizeof(TTexCoord) == 8);

namespace {

// Raw deflate expands at most about 1032 to 1; a count that needs more than the
// body could ever inflate to is refused before anything is allocated.
constexpr uint64_t kMaxDeflateRatio = 1032;
constexpr size_t kReadBlockItems = 65536;

uint64_t BodyRemaining(TBaseStream& body) {
  const int64_t available = body.Available();
  return available > 0 ? static_cast<uint64_t>(available) : 0;
}

template <class T>
std::vector<T> ReadCountedArray(TBaseStream& body, const char* what) {
  const uint32_t count = body.ReadUInt32();
  if (count > static_cast<uint32_t>(std::numeric_limits<int32_t>::max()) ||
      uint64_t(count) * sizeof(T) > BodyRemaining(body) * kMaxDeflateRatio + 64)
    throw EBadFormat(Format("Invalid %s count: %u", what, count));
  std::vector<T> items;
  if (count == 0) return items;
  TDeflateStream inflate(body, TDeflateStream::dirRead);
  // The array grows as data actually inflates, so a lying count costs no memory.
  size_t done = 0;
  while (done < count) {
    const size_t step = std::min<size_t>(kReadBlockItems, count - done);
    GrowLarge(items, done + step, count);
    items.resize(done + step);
    inflate.ReadBuffer(items.data() + done, step * sizeof(T));
    done += step;
  }
  return items;
}

}  // namespace

void ReadCompressedBytes(TBaseStream& body, void* data, size_t bytes) {
  if (bytes == 0) return;
  if (uint64_t(bytes) > BodyRemaining(body) * kMaxDeflateRatio + 64) throw EInOutError("Read less than expected");
  TDeflateStream inflate(body, TDeflateStream::dirRead);
  inflate.ReadBuffer(data, bytes);
}

std::vector<T3DPoint> ReadVertexChunk(TBaseStream& body) { return ReadCountedArray<T3DPoint>(body, "vertex"); }

std::vector<T3DTriangle> ReadTriangleChunk(TBaseStream& body) {
  return ReadCountedArray<T3DTriangle>(body, "triangle");
}

TChunkWriter::TChunkWriter(TBaseStream& file, uint16_t type) : file_(file) { file_.WriteUInt16(type); }

void TChunkWriter::WriteCompressed(const void* data, size_t bytes) {
  TDeflateStream deflate(body_, TDeflateStream::dirWrite);
  if (bytes > 0) deflate.Write(data, bytes);
  deflate.Close();
}

void TChunkWriter::Finish() {
  const auto& data = body_.Data();
  file_.WriteUInt32(static_cast<uint32_t>(data.size()));
  if (!data.empty()) file_.Write(data.data(), data.size());
}

void WriteArrayChunks(TBaseStream& file, std::span<const TArrayChunk> chunks) {
  std::vector<TMemoryStream> bodies(chunks.size());
  std::vector<std::span<const uint8_t>> inputs;
  std::vector<TBaseStream*> outputs;
  for (size_t i = 0; i < chunks.size(); ++i) {
    // Model arrays pack to about a third; room for half saves most regrowing.
    ReserveLarge(bodies[i].Data(), chunks[i].Bytes / 2 + 64);
    if (chunks[i].Counted) bodies[i].WriteUInt32(chunks[i].Count);
    inputs.emplace_back(static_cast<const uint8_t*>(chunks[i].Data), chunks[i].Bytes);
    outputs.push_back(&bodies[i]);
  }
  DeflateBuffers(inputs, outputs);
  for (size_t i = 0; i < chunks.size(); ++i) {
    const auto& data = bodies[i].Data();
    file.WriteUInt16(chunks[i].Type);
    file.WriteUInt32(static_cast<uint32_t>(data.size()));
    if (!data.empty()) file.Write(data.data(), data.size());
  }
}

}  // namespace sq
