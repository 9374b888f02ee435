#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <random>
#include <vector>

#include "compress/deflate_stream.h"
#include "compress/parallel_deflate.h"
#include "io/memory_stream.h"

using namespace sq;
using Bytes = std::vector<uint8_t>;

namespace {

template <class T>
Bytes AsBytes(const std::vector<T>& items) {
  Bytes b(items.size() * sizeof(T));
  if (!b.empty()) std::memcpy(b.data(), items.data(), b.size());
  return b;
}

// What the model writer compresses: a surface's triangles (indices that climb along
// rows), its vertices (singles) and colours.
Bytes SurfaceTriangles(int width, int height) {
  std::vector<uint32_t> t;
  for (int y = 1; y < height; ++y)
    for (int x = 1; x < width; ++x) {
      const uint32_t v = y * width + x, u = v - width;
      if ((x * 7 + y * 3) % 41 != 0) t.insert(t.end(), {v, u, u - 1});
      t.insert(t.end(), {v, u - 1, v - 1});
    }
  return AsBytes(t);
}

Bytes SurfaceVertices(int width, int height) {
  std::vector<float> v;
  for (int y = 0; y < height; ++y)
    for (int x = 0; x < width; ++x) {
      const float t = 1.0f / (60.0f + std::floor(10 * std::sin(x * 0.05f) * std::cos(y * 0.07f)));
      v.insert(v.end(), {(x - width / 2) * t, (height / 2 - y) * t, -869.0f * t});
    }
  return AsBytes(v);
}

Bytes SmallAlphabet(size_t n, int symbols, unsigned seed) {
  std::mt19937 rng(seed);
  Bytes b(n);
  for (auto& x : b) x = static_cast<uint8_t>('a' + rng() % symbols);
  return b;
}

// Long runs whose matches reach across many pieces, and random bytes without any.
Bytes RunsAndNoise(size_t n) {
  std::mt19937 rng(9);
  Bytes b(n);
  for (size_t i = 0; i < n; ++i)
    b[i] = (i / 5000) % 3 == 2 ? static_cast<uint8_t>(rng()) : static_cast<uint8_t>(i / 5000);
  return b;
}

std::vector<Bytes> Compressed(const std::vector<Bytes>& inputs, int64_t pieceSize) {
  std::vector<TMemoryStream> streams(inputs.size());
  std::vector<std::span<const uint8_t>> spans(inputs.begin(), inputs.end());
  std::vector<TBaseStream*> outputs;
  for (auto& s : streams) outputs.push_back(&s);
  DeflateBuffers(spans, outputs, pieceSize);
  std::vector<Bytes> result;
  for (auto& s : streams) result.push_back(s.Data());
  return result;
}

}  // namespace

TEST(ParallelDeflate, WritesExactlyTheStreamingWritersBytes) {
  const std::vector<Bytes> inputs = {
      SurfaceTriangles(200, 70),   SurfaceVertices(150, 60), Bytes{},           Bytes{7, 7},
      SmallAlphabet(100000, 3, 1), RunsAndNoise(80000),      Bytes(70000, 0xAB),
      // Mostly matches of 3 to 7 bytes, which the parser's table decides alone.
      SmallAlphabet(60000, 24, 2)};
  std::vector<Bytes> expected;
  for (const Bytes& input : inputs) expected.push_back(DeflateBytes(input));
  // Pieces barely longer than a match, odd sizes, one piece per input, and a size
  // past what a piece may be.
  for (const int64_t pieceSize : {int64_t(1024), int64_t(3001), int64_t(40000), kDeflatePieceSize, int64_t(1) << 40}) {
    SCOPED_TRACE(pieceSize);
    const std::vector<Bytes> got = Compressed(inputs, pieceSize);
    for (size_t i = 0; i < inputs.size(); ++i) EXPECT_TRUE(got[i] == expected[i]) << "input " << i;
  }
  EXPECT_EQ(InflateBytes(Compressed({inputs[0]}, 1024)[0], inputs[0].size()), inputs[0]);
}
