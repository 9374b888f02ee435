// The triangle passes shared by the surface drawings (internal to the renderer).
#pragma once

#include <algorithm>

#include "model3d/base_3d_renderer.h"
#include "model3d/renderer_parallel.h"
#include "model3d/renderer_raster.h"

namespace sq {

// A triangle faces away when the eye sees its back: (V[a] - E) . N >= 0.
inline bool FacesAway(const T3DPoint& corner, const T3DPoint& normal, float eyeX, float eyeY, float eyeZ) {
  return (corner.X - eyeX) * normal.X + (corner.Y - eyeY) * normal.Y + (corner.Z - eyeZ) * normal.Z >= 0.0f;
}

namespace renderer_detail {

// Triangles per chunk: the unit the triangle pass is shared out in, and that in
// which joining the normal sums skips triangles.
constexpr int kChunkShift = 12;

// Whether a triangle with valid corners may draw: it has a row in the frame, covers
// a pixel centre (Filled), faces the eye (unless back faces are drawn) and is not
// wholly behind the eye (there is no clipping at the eye plane).  Every test is a
// pure rejection, so their order changes nothing but the time they take.
struct TTriangleTest {
  const T3DPoint* Vertices;
  const TScreenPoint* Projected;
  const Frame32* Target;
  float EyeX, EyeY, EyeZ;
  bool Cull;

  template <bool Filled>
  bool MayDraw(uint32_t a, uint32_t b, uint32_t c, const T3DPoint& normal, int& top, int& bottom) const {
    const TScreenPoint pa = Projected[a], pb = Projected[b], pc = Projected[c];
    top = std::min(std::min(pa.Y, pb.Y), pc.Y);
    bottom = std::max(std::max(pa.Y, pb.Y), pc.Y);
    if (bottom < 0 || top >= Target->Height) return false;
    if constexpr (Filled) {
      if (!raster::CoversPixelsInFrame(pa, pb, pc, *Target, top, bottom)) return false;
    }
    if (Cull && FacesAway(Vertices[a], normal, EyeX, EyeY, EyeZ)) return false;
    return !(Vertices[a].Z > EyeZ && Vertices[b].Z > EyeZ && Vertices[c].Z > EyeZ);
  }
};

// Widens a range's window of summed vertices to hold v, the new entries zero.
inline void WidenSumWindow(T3DPoint* sums, uint32_t& low, uint32_t& high, uint32_t v) {
  constexpr T3DPoint zero{0.0f, 0.0f, 0.0f};
  if (low > high) {
    sums[v] = zero;
    low = high = v;
  } else if (v < low) {
    std::fill(sums + v, sums + low, zero);
    low = v;
  } else {
    std::fill(sums + high + 1, sums + v + 1, zero);
    high = v;
  }
}

}  // namespace renderer_detail

template <bool Filled>
void TBase3DRenderer::SortOutTriangles(TSurfaceColorModel& model, const TSurfacePass& pass, bool normals,
                                       bool normalSums) {
  using renderer_detail::kChunkShift;
  const int height = Target.Height;
  const int count = model.TriangleCount;
  const uint32_t vertexCount = static_cast<uint32_t>(model.VertexCount);
  const T3DPoint* vertices = pass.Vertices;
  const T3DTriangle* triangles = model.Triangles.data();
  const int chunks = (count + (1 << kChunkShift) - 1) >> kChunkShift;
  const int parts = std::max(pass.Parts, 1);
  const bool powerOfTwo = (parts & (parts - 1)) == 0;
  const bool keep = pass.Binned;
  normalSums = normalSums && normals;
  if (!normals && !keep) return;
  T3DPoint* faceNormals = nullptr;
  if (normals) {
    model.FaceNormals.resize(static_cast<size_t>(count));
    faceNormals = model.FaceNormals.data();
    chunkBounds_.resize(static_cast<size_t>(chunks));
  }
  if (normalSums) {
    if (normalSums_.size() < vertexCount) normalSums_.resize(vertexCount);
    rangeSums_.resize(static_cast<size_t>(parts));
    rangeSumsSize_.resize(static_cast<size_t>(parts), 0);
    for (size_t r = 1; r < static_cast<size_t>(parts); ++r)
      if (rangeSumsSize_[r] < vertexCount) {
        // Left uninitialised: a range touches only its own window of vertices.
        rangeSums_[r].reset(new T3DPoint[vertexCount]);
        rangeSumsSize_[r] = vertexCount;
      }
    sumWindows_.assign(static_cast<size_t>(parts), TSumWindow{});
  }
  if (keep && bins_.size() < static_cast<size_t>(parts * parts)) bins_.resize(static_cast<size_t>(parts * parts));
  const renderer_detail::TTriangleTest test{vertices, Projected.data(), &Target,      EyeX,
                                            EyeY,     ViewDistance,     !pass.DrawAll};
  // Each thread takes a range of chunks.  A triangle that may draw goes to the list
  // of every thread owning one of its rows, so that each thread later draws its
  // lists in range order, which is array order.
  ForEachRow(
      parts, pass.Workers,
      [&](int range, int) {
        TBin* bins = keep ? &bins_[static_cast<size_t>(range * parts)] : nullptr;
        if (keep)
          for (int part = 0; part < parts; ++part) bins[part].Items.clear();
        T3DPoint* sums = nullptr;
        uint32_t sumLow = 1, sumHigh = 0;
        if (normalSums) sums = range == 0 ? normalSums_.data() : rangeSums_[static_cast<size_t>(range)].get();
        // The face normal added to the corner's sum, in triangle order.
        auto add = [&](uint32_t v, const T3DPoint& n) {
          if (v < sumLow || v > sumHigh) [[unlikely]]
            renderer_detail::WidenSumWindow(sums, sumLow, sumHigh, v);
          T3DPoint& sum = sums[v];
          sum.X += n.X;
          sum.Y += n.Y;
          sum.Z += n.Z;
        };
        const int firstChunk = int(int64_t(chunks) * range / parts);
        const int endChunk = int(int64_t(chunks) * (range + 1) / parts);
        for (int chunk = firstChunk; chunk < endChunk; ++chunk) {
          uint32_t low = UINT32_MAX, high = 0;
          const int end = std::min(count, (chunk + 1) << kChunkShift);
          for (int t = chunk << kChunkShift; t < end; ++t) {
            const uint32_t a = triangles[t][0], b = triangles[t][1], c = triangles[t][2];
            if (a >= vertexCount || b >= vertexCount || c >= vertexCount) [[unlikely]] {
              if (!normals) continue;
              // A zero normal, still added to the corners that exist.
              const T3DPoint zero{0.0f, 0.0f, 0.0f};
              faceNormals[t] = zero;
              for (const uint32_t corner : {a, b, c})
                if (corner < vertexCount) {
                  low = std::min(low, corner);
                  high = std::max(high, corner);
                  if (normalSums) add(corner, zero);
                }
              continue;
            }
            T3DPoint normal{};
            if (normals) {
              low = std::min({low, a, b, c});
              high = std::max({high, a, b, c});
              normal = FaceNormal(vertices[a], vertices[b], vertices[c]);
              faceNormals[t] = normal;
              if (normalSums) {
                add(a, normal);
                add(b, normal);
                add(c, normal);
              }
            }
            if (!keep) continue;
            int top, bottom;
            if (!test.MayDraw<Filled>(a, b, c, normal, top, bottom)) continue;
            const TKeptTriangle kept{static_cast<uint32_t>(t), a, b, c};
            // The parts owning its blocks of rows (see TRowBands), each once.
            const int firstBlock = std::max(top, 0) >> TRowBands::kBlockShift;
            const int lastBlock = std::min(bottom, height - 1) >> TRowBands::kBlockShift;
            if (lastBlock - firstBlock + 1 >= parts) {
              for (int part = 0; part < parts; ++part) bins[part].Items.push_back(kept);
            } else {
              for (int block = firstBlock; block <= lastBlock; ++block)
                bins[powerOfTwo ? block & (parts - 1) : block % parts].Items.push_back(kept);
            }
          }
          if (normals) chunkBounds_[static_cast<size_t>(chunk)] = TChunkBounds{low, high};
        }
        if (normalSums) sumWindows_[static_cast<size_t>(range)] = TSumWindow{sumLow, sumHigh};
      },
      false);
}

template <class Draw>
void TBase3DRenderer::ForEachTriangle(const TSurfaceColorModel& model, const TSurfacePass& pass, Draw&& draw) {
  const int height = Target.Height;
  const int parts = std::max(pass.Parts, 1);
  if (!pass.Binned) {
    const TRowBands bands(height, 1, 0);
    const uint32_t vertexCount = static_cast<uint32_t>(model.VertexCount);
    const T3DTriangle* triangles = model.Triangles.data();
    const T3DPoint* normals = pass.DrawAll ? nullptr : model.FaceNormals.data();
    const renderer_detail::TTriangleTest test{pass.Vertices, Projected.data(), &Target,      EyeX,
                                              EyeY,          ViewDistance,     !pass.DrawAll};
    const T3DPoint none{};
    for (int t = 0; t < model.TriangleCount; ++t) {
      const uint32_t a = triangles[t][0], b = triangles[t][1], c = triangles[t][2];
      if (a >= vertexCount || b >= vertexCount || c >= vertexCount) continue;
      int top, bottom;
      const bool mayDraw = pass.Filled ? test.MayDraw<true>(a, b, c, normals ? normals[t] : none, top, bottom)
                                       : test.MayDraw<false>(a, b, c, normals ? normals[t] : none, top, bottom);
      if (mayDraw) draw(t, a, b, c, bands);
    }
    return;
  }
  ForEachRow(
      parts, pass.Workers,
      [&](int part, int) {
        const TRowBands bands(height, parts, part);
        for (int range = 0; range < parts; ++range)
          for (const TKeptTriangle& t : bins_[static_cast<size_t>(range * parts + part)].Items)
            draw(static_cast<int>(t.Index), t.A, t.B, t.C, bands);
      },
      false);
}

}  // namespace sq
