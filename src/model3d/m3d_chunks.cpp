#include "model3d/m3d_chunks.h"

#include <algorithm>
#include <bit>
#include <cstring>
#include <future>
#include <limits>
#include <system_error>

#include "base/exception.h"
#include "base/format.h"
#include "compress/deflate_stream.h"
#include "io/base_stream.h"

namespace sq {

std::vector<uint8_t> ReadChunkBody(TBaseStream& stream, uint32_t length) {
  constexpr size_t kBlock = size_t(1) << 20;
  std::vector<uint8_t> body;
  size_t done = 0;
  while (done < length) {
    const size_t step = std::min<size_t>(kBlock, length - done);
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
  auto compress = [&](size_t i) {
    const TArrayChunk& chunk = chunks[i];
    if (chunk.Counted) bodies[i].WriteUInt32(chunk.Count);
    TDeflateStream deflate(bodies[i], TDeflateStream::dirWrite);
    if (chunk.Bytes > 0) deflate.Write(chunk.Data, chunk.Bytes);
    deflate.Close();
  };
  // Every chunk but the last on a thread of its own, the last on this one.
  std::vector<std::future<void>> others;
  for (size_t i = 0; i + 1 < chunks.size(); ++i) {
    try {
      others.push_back(std::async(std::launch::async, compress, i));
    } catch (const std::system_error&) {
      others.push_back(std::async(std::launch::deferred, compress, i));  // no thread to be had
    }
  }
  std::exception_ptr failure;
  try {
    if (!chunks.empty()) compress(chunks.size() - 1);
  } catch (...) {
    failure = std::current_exception();
  }
  // Every task is waited for before anything is thrown, since they use `bodies`.
  for (std::future<void>& task : others) {
    try {
      task.get();
    } catch (...) {
      if (!failure) failure = std::current_exception();
    }
  }
  if (failure) std::rethrow_exception(failure);
  for (size_t i = 0; i < chunks.size(); ++i) {
    const auto& data = bodies[i].Data();
    file.WriteUInt16(chunks[i].Type);
    file.WriteUInt32(static_cast<uint32_t>(data.size()));
    if (!data.empty()) file.Write(data.data(), data.size());
  }
}

}  // namespace sq
