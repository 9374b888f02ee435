#include "model3d/m3d_chunks.h"

#include <algorithm>
#include <bit>
#include <cstring>
#include <limits>

#include "base/exception.h"
#include "base/format.h"
#include "base/large_pages.h"
#include "base/parallel.h"
#include "compress/deflate_stream.h"
#include "compress/parallel_deflate.h"
#include "io/base_stream.h"

namespace sq {

TChunkBodyStream::TChunkBodyStream(uint16_t type, TLargeBlock<uint8_t> body, size_t size)
    : TReadOnlyMemoryStream(body.get(), size), type_(type), body_(std::move(body)), size_(size) {}

std::unique_ptr<TChunkBodyStream> ReadNextChunk(TBaseStream& stream) {
  uint8_t first;
  if (stream.Read(&first, 1) == 0) return nullptr;
  const uint16_t type = static_cast<uint16_t>(first | (stream.ReadByte() << 8));
  const uint32_t length = stream.ReadUInt32();
  // Taken whole when the file holds it: one block, its pages never copied.
  if (stream.Available() >= int64_t(length)) {
    TLargeBlock<uint8_t> body = AllocateLarge<uint8_t>(length);
    stream.ReadBuffer(body.get(), length);
    return std::make_unique<TChunkBodyStream>(type, std::move(body), length);
  }
  constexpr size_t kBlock = size_t(1) << 20;
  TLargeBlock<uint8_t> body = AllocateLarge<uint8_t>(0);
  size_t capacity = 0, done = 0;
  while (done < length) {
    const size_t step = std::min<size_t>(kBlock, length - done);
    if (done + step > capacity) {
      capacity = std::min<size_t>(length, std::max(done + step, 2 * capacity));
      TLargeBlock<uint8_t> larger = AllocateLarge<uint8_t>(capacity);
      if (done > 0) std::memcpy(larger.get(), body.get(), done);
      body = std::move(larger);
    }
    stream.ReadBuffer(body.get() + done, step);
    done += step;
  }
  return std::make_unique<TChunkBodyStream>(type, std::move(body), length);
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

// Model arrays pack to a third or so; room for eight times the body holds a real
// array at once (no regrowing, no pages touched twice) while a lying count still
// costs no more than the file's own size justifies.
constexpr uint64_t kLikelyDeflateRatio = 8;

// Inflates count items into items, which grows as data actually inflates, so a
// count that lies costs no memory.
template <class T>
void InflateItems(TBaseStream& body, size_t count, std::vector<T>& items) {
  items.clear();
  if (count == 0) return;
  ReserveLarge(items, std::min<uint64_t>(count, (BodyRemaining(body) * kLikelyDeflateRatio) / sizeof(T) + 1));
  TDeflateStream inflate(body, TDeflateStream::dirRead);
  size_t done = 0;
  while (done < count) {
    const size_t step = std::min<size_t>(kReadBlockItems, count - done);
    GrowLarge(items, done + step, count);
    items.resize(done + step);
    inflate.ReadBuffer(items.data() + done, step * sizeof(T));
    done += step;
  }
}

template <class T>
std::vector<T> ReadCountedArray(TBaseStream& body, const char* what) {
  const uint32_t count = body.ReadUInt32();
  if (count > static_cast<uint32_t>(std::numeric_limits<int32_t>::max()) ||
      uint64_t(count) * sizeof(T) > BodyRemaining(body) * kMaxDeflateRatio + 64)
    throw EBadFormat(Format("Invalid %s count: %u", what, count));
  std::vector<T> items;
  InflateItems(body, count, items);
  return items;
}

// A body can never inflate to more than this many bytes.
void CheckInflatable(TBaseStream& body, uint64_t bytes) {
  if (bytes > BodyRemaining(body) * kMaxDeflateRatio + 64) throw EInOutError("Read less than expected");
}

// What ReadCompressedBytes does for a whole array of count items, into a fresh one.
template <class T>
void InflateArray(TBaseStream& body, size_t count, std::vector<T>& items) {
  CheckInflatable(body, uint64_t(count) * sizeof(T));
  InflateItems(body, count, items);
}

// The array a chunk body inflated ahead, when it is one of count items of T (any
// count for the counted chunks).
template <class T>
bool TakeInflated(TBaseStream& body, size_t count, std::vector<T>& items) {
  auto* chunk = dynamic_cast<TChunkBodyStream*>(&body);
  return chunk != nullptr && chunk->TakeInflated(count, items);
}

template <class T>
std::vector<T> ReadCountedChunk(TBaseStream& body, const char* what) {
  std::vector<T> items;
  if (TakeInflated(body, 0, items)) return items;
  return ReadCountedArray<T>(body, what);
}

template <class T>
void ReadWholeArray(TBaseStream& body, std::vector<T>& items) {
  if (!TakeInflated(body, items.size(), items)) ReadCompressedBytes(body, items.data(), items.size() * sizeof(T));
}

}  // namespace

void ReadCompressedBytes(TBaseStream& body, void* data, size_t bytes) {
  if (bytes == 0) return;
  CheckInflatable(body, bytes);
  TDeflateStream inflate(body, TDeflateStream::dirRead);
  inflate.ReadBuffer(data, bytes);
}

void ReadCompressedArray(TBaseStream& body, std::vector<uint32_t>& items) { ReadWholeArray(body, items); }
void ReadCompressedArray(TBaseStream& body, std::vector<TTexCoord>& items) { ReadWholeArray(body, items); }

std::vector<T3DPoint> ReadVertexChunk(TBaseStream& body) { return ReadCountedChunk<T3DPoint>(body, "vertex"); }

std::vector<T3DTriangle> ReadTriangleChunk(TBaseStream& body) {
  return ReadCountedChunk<T3DTriangle>(body, "triangle");
}

void TChunkBodyStream::InflateAhead(uint32_t vertexCount) {
  // An error waits for the reader, like the array: raised now, it would come before
  // those of the chunks in front of this one.
  try {
    switch (type_) {
      case 1:
        inflatedCount_ = kAnyCount;
        inflated_.emplace<std::vector<T3DPoint>>() = ReadCountedArray<T3DPoint>(*this, "vertex");
        break;
      case 2:
        inflatedCount_ = kAnyCount;
        inflated_.emplace<std::vector<T3DTriangle>>() = ReadCountedArray<T3DTriangle>(*this, "triangle");
        break;
      case 3:
        inflatedCount_ = vertexCount;
        InflateArray(*this, vertexCount, inflated_.emplace<std::vector<TTexCoord>>());
        break;
      case 5:
        inflatedCount_ = vertexCount;
        InflateArray(*this, vertexCount, inflated_.emplace<std::vector<uint32_t>>());
        break;
      default:
        break;
    }
  } catch (...) {
    error_ = std::current_exception();
  }
  // A reader that cannot use what was inflated reads the body from the start.
  SetPosition(0);
}

void InflateChunksAhead(std::span<TChunkBodyStream* const> chunks, std::span<const uint32_t> vertexCounts) {
  // Largest first, so that the last one to finish is a small one.
  std::vector<size_t> order;
  size_t bytes = 0;
  for (size_t i = 0; i < chunks.size(); ++i) {
    const uint16_t type = chunks[i]->Type();
    if (type != 1 && type != 2 && type != 3 && type != 5) continue;
    order.push_back(i);
    bytes += chunks[i]->Body().size();
  }
  std::stable_sort(order.begin(), order.end(),
                   [&](size_t a, size_t b) { return chunks[a]->Body().size() > chunks[b]->Body().size(); });
  // A small model inflates faster than a thread starts.
  constexpr size_t kBytesWorthAThread = size_t(256) << 10;
  ForEachRow(
      static_cast<int>(order.size()), bytes < kBytesWorthAThread ? 1 : WorkerCount(),
      [&](int row, int) { chunks[order[size_t(row)]]->InflateAhead(vertexCounts[order[size_t(row)]]); },
      /*reportProgress=*/false);
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
    // Room for the whole array, so that a body never grows by copying: vertex
    // coordinates pack to just over half.  Only the pages written are backed.
    ReserveLarge(bodies[i].Data(), chunks[i].Bytes + chunks[i].Bytes / 64 + 1024);
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
