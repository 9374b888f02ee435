#include "model3d/base_3d_renderer.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <thread>

#include "base/exception.h"
#include "model3d/base_3d_renderer_loop.h"
#include "model3d/color_point_3d_model.h"
#include "model3d/light.h"
#include "model3d/renderer_parallel.h"
#include "model3d/renderer_raster.h"
#include "model3d/texture_model.h"

namespace sq {

using raster::RoundCoord;

namespace {

// Pieces of a drawing's work per thread, so that a thread the system holds back
// leaves its pieces to the others.
constexpr int kPiecesPerThread = 4;

int PiecesFor(int workers) { return workers > 1 ? workers * kPiecesPerThread : 1; }

int DefaultThreadCount() {
  const unsigned cores = std::thread::hardware_concurrency();
  return cores == 0 ? 1 : static_cast<int>(std::min(cores, 16u));
}

// Plots one pixel of a line or a point at its own depth.
inline void PlotDepth(const Frame32& frame, float* zbuffer, const TRowBands& bands, int x, int y, float z,
                      uint32_t color) {
  if (x < 0 || x >= frame.Width || !bands.Owns(y)) return;
  float& depth = zbuffer[static_cast<ptrdiff_t>(y) * frame.Width + x];
  if (z > depth) {
    depth = z;
    frame.Row(y)[x] = color;
  }
}

// A line from p0 towards p1 at p0's depth, colours interpolated from c0 (packed:
// firstColor) to c1; p1 itself is left to the next line of the triangle.
void DrawLine(const Frame32& frame, float* zbuffer, const TRowBands& bands, TScreenPoint p0, TScreenPoint p1, float z,
              const TRGBSingle& c0, const TRGBSingle& c1, uint32_t firstColor) {
  if (!bands.OwnsAnyOf(std::min(p0.Y, p1.Y), std::max(p0.Y, p1.Y))) return;
  PlotDepth(frame, zbuffer, bands, p0.X, p0.Y, z, firstColor);
  const int64_t dx = int64_t(p1.X) - p0.X, dy = int64_t(p1.Y) - p0.Y;
  const int64_t length2 = dx * dx + dy * dy;
  // Up to one pixel long the line is its first point: ceil(length) - 1 = 0 steps.
  if (length2 <= 1) return;
  const double length = std::sqrt(double(length2));
  const int64_t steps = static_cast<int64_t>(std::ceil(length)) - 1;
  const double sx = double(dx) / length, sy = double(dy) / length;
  const float sr = float((c1.R - c0.R) / length), sg = float((c1.G - c0.G) / length),
              sb = float((c1.B - c0.B) / length);
  int64_t first = 1, last = steps;
  double x = p0.X, y = p0.Y;
  float r = c0.R, g = c0.G, b = c0.B;
  // A line far longer than the frame must leave it: step only through the part near
  // the frame, so that a vertex projected from near the eye costs no more than the
  // frame is wide.
  const int64_t plainLimit = 2 * (int64_t(frame.Width) + frame.Height) + 16;
  if (steps > plainLimit) {
    double low = 1.0, high = double(steps);
    auto clip = [&](double start, double step, double lowEdge, double highEdge) {
      if (step == 0.0) {
        if (start < lowEdge || start > highEdge) high = -1.0;
        return;
      }
      double k1 = (lowEdge - start) / step, k2 = (highEdge - start) / step;
      if (k1 > k2) std::swap(k1, k2);
      low = std::max(low, std::floor(k1));
      high = std::min(high, std::ceil(k2));
    };
    clip(p0.X, sx, -2.0, frame.Width + 1.0);
    clip(p0.Y, sy, -2.0, frame.Height + 1.0);
    if (high < low) return;
    first = static_cast<int64_t>(low);
    last = static_cast<int64_t>(high);
    const double k = double(first - 1);
    x += sx * k;
    y += sy * k;
    r += sr * float(k);
    g += sg * float(k);
    b += sb * float(k);
  }
  for (int64_t i = first; i <= last; ++i) {
    x += sx;
    y += sy;
    r += sr;
    g += sg;
    b += sb;
    const int px = RoundCoord(x), py = RoundCoord(y);
    if (py < 0 || py >= frame.Height) continue;
    PlotDepth(frame, zbuffer, bands, px, py, z, raster::PackChannels(r, g, b));
  }
}

void CheckVertexArrays(const TBase3DModel& model) {
  if (model.VertexCount < 0 || model.Vertices.size() < static_cast<size_t>(model.VertexCount))
    throw Exception("The model's vertex data is incomplete");
}

}  // namespace

TBase3DRenderer::TBase3DRenderer() : ThreadCount(DefaultThreadCount()) {}

TBase3DRenderer::~TBase3DRenderer() = default;

void TBase3DRenderer::BeginFrame(const Frame32& frame) {
  Target = frame;
  const int width = std::max(frame.Width, 0), height = std::max(frame.Height, 0);
  if (width != FrameWidth || height != FrameHeight || ZBuffer.size() != size_t(width) * size_t(height)) {
    FrameWidth = width;
    FrameHeight = height;
    ZBufferByteSize = int64_t(width) * height * int64_t(sizeof(float));
    ZBuffer.assign(size_t(width) * size_t(height), 0.0f);
    ZBuffer.shrink_to_fit();
  }
  ClearZBuffer();
}

void TBase3DRenderer::ClearZBuffer() {
  if (!ZBuffer.empty()) std::memset(ZBuffer.data(), kZBufferFillByte, ZBuffer.size() * sizeof(float));
}

void TBase3DRenderer::RenderModel(TBase3DModel& model, const T3DMatrix* matrix) {
  if (!matrix) {
    model.Render(*this, nullptr);
    return;
  }
  TransformInto(model, *matrix);
  model.Render(*this, Transformed.data());
}

void TBase3DRenderer::TransformInto(const TBase3DModel& model, const T3DMatrix& m) {
  CheckVertexArrays(model);
  const int count = model.VertexCount;
  if (Transformed.size() < static_cast<size_t>(count)) Transformed.resize(static_cast<size_t>(count));
  const T3DPoint* in = model.Vertices.data();
  T3DPoint* out = Transformed.data();
  // The same arithmetic as TBase3DModel::TransformVertices, shared out by vertices.
  const int workers = PartsFor(count);
  ParallelRanges(
      PiecesFor(workers), count,
      [&](int64_t begin, int64_t end) {
        for (int64_t i = begin; i < end; ++i) {
          const double x = in[i].X, y = in[i].Y, z = in[i].Z;
          out[i] = T3DPoint{static_cast<float>(m[0][0] * x + m[0][1] * y + m[0][2] * z + m[0][3]),
                            static_cast<float>(m[1][0] * x + m[1][1] * y + m[1][2] * z + m[1][3]),
                            static_cast<float>(m[2][0] * x + m[2][1] * y + m[2][2] * z + m[2][3])};
        }
      },
      workers);
}

void TBase3DRenderer::EndFrame() {}

void TBase3DRenderer::PrepareModel(TBase3DModel&) {}

int TBase3DRenderer::PartsFor(int64_t work) const {
  if (ThreadCount <= 1 || work < ParallelThreshold) return 1;
  return ThreadCount;
}

bool TBase3DRenderer::FrameUsable() const {
  return Target.Bits && Target.Width > 0 && Target.Height > 0 && Target.Width == FrameWidth &&
         Target.Height == FrameHeight && ZBuffer.size() == size_t(FrameWidth) * size_t(FrameHeight);
}

void TBase3DRenderer::Project(const T3DPoint* vertices, int count) {
  if (count <= 0) return;
  if (Projected.size() < static_cast<size_t>(count)) Projected.resize(static_cast<size_t>(count));
  const double d = ViewDistance, eyeX = EyeX;
  const int halfWidth = Target.Width / 2, halfHeight = Target.Height / 2;
  TScreenPoint* out = Projected.data();
  const int workers = PartsFor(count);
  ParallelRanges(
      PiecesFor(workers), count,
      [&](int64_t begin, int64_t end) {
        for (int64_t i = begin; i < end; ++i) {
          const double x = vertices[i].X, y = vertices[i].Y, z = vertices[i].Z;
          const double w = 1.0 / (z - d);
          out[i].X = RoundCoord((z * eyeX - x * d) * w) + halfWidth;
          out[i].Y = RoundCoord(y * d * w) + halfHeight;
        }
      },
      workers);
}

void TBase3DRenderer::DrawPoints(TBase3DModel& model, const T3DPoint* vertices) {
  CheckVertexArrays(model);
  if (!FrameUsable() || model.VertexCount == 0) return;
  const T3DPoint* v = vertices ? vertices : model.Vertices.data();
  const int count = model.VertexCount;
  Project(v, count);
  const int parts = PartsFor(count);
  const float d = ViewDistance;
  ForEachRow(
      parts, parts,
      [&](int part, int) {
        const TRowBands bands(Target.Height, parts, part);
        for (int i = 0; i < count; ++i) {
          const TScreenPoint p = Projected[i];
          if (p.X < 0 || p.X >= Target.Width || !bands.Owns(p.Y)) continue;
          const float z = v[i].Z;
          float& depth = ZBuffer[static_cast<size_t>(p.Y) * Target.Width + p.X];
          if (z > depth && z < d) {
            depth = z;
            // With the viewer's scale of about 100 units, nearer points are brighter.
            const uint32_t g = static_cast<uint32_t>(std::clamp(RoundCoord(z) + 177, 100, 255));
            Target.Row(p.Y)[p.X] = g * 0x010101u;
          }
        }
      },
      false);
}

void TBase3DRenderer::DrawColorBlocks(TColorPoint3DModel& model, const T3DPoint* vertices) {
  CheckVertexArrays(model);
  if (model.Colors.size() < static_cast<size_t>(model.VertexCount))
    throw Exception("The model's colour data is incomplete");
  if (!FrameUsable() || model.VertexCount == 0) return;
  const T3DPoint* v = vertices ? vertices : model.Vertices.data();
  const int count = model.VertexCount;
  Project(v, count);
  const int parts = PartsFor(count);
  const float d = ViewDistance;
  ForEachRow(
      parts, parts,
      [&](int part, int) {
        const TRowBands bands(Target.Height, parts, part);
        for (int i = 0; i < count; ++i) {
          const float z = v[i].Z;
          if (!(z <= d)) continue;
          const TScreenPoint p = Projected[i];
          if (!bands.OwnsAnyOf(p.Y - 2, p.Y + 2)) continue;
          const uint32_t color = model.Colors[i];
          // A 5 x 5 pyramid facing the viewer, so that neighbouring blocks interlock.
          for (int dy = -2; dy <= 2; ++dy) {
            const int y = p.Y + dy;
            if (!bands.Owns(y)) continue;
            float* depth = ZBuffer.data() + static_cast<size_t>(y) * Target.Width;
            uint32_t* row = Target.Row(y);
            for (int dx = -2; dx <= 2; ++dx) {
              const int x = p.X + dx;
              if (x < 0 || x >= Target.Width) continue;
              const float blockZ = z - float(std::abs(dx) + std::abs(dy));
              if (blockZ > depth[x]) {
                depth[x] = blockZ;
                row[x] = color;
              }
            }
          }
        }
      },
      false);
}

void TBase3DRenderer::DrawWireframe(TSurfaceColorModel& model, const T3DPoint* vertices) {
  TSurfacePass pass;
  if (!PrepareSurface(model, vertices, true, true, false, pass)) return;
  const T3DPoint* v = pass.Vertices;
  const TRGBSingle* colors = vertexColors_.data();
  // Every corner starts a line: its pixel colour once per vertex.
  const int count = model.VertexCount;
  if (packedColors_.size() < static_cast<size_t>(count)) packedColors_.resize(static_cast<size_t>(count));
  uint32_t* packed = packedColors_.data();
  ParallelRanges(
      pass.Parts, count,
      [&](int64_t begin, int64_t end) {
        for (int64_t i = begin; i < end; ++i) packed[i] = raster::PackChannels(colors[i].R, colors[i].G, colors[i].B);
      },
      pass.Workers);
  ForEachTriangle(model, pass, [&](int, uint32_t a, uint32_t b, uint32_t c, const TRowBands& bands) {
    DrawLine(Target, ZBuffer.data(), bands, Projected[a], Projected[b], v[a].Z, colors[a], colors[b], packed[a]);
    DrawLine(Target, ZBuffer.data(), bands, Projected[b], Projected[c], v[b].Z, colors[b], colors[c], packed[b]);
    DrawLine(Target, ZBuffer.data(), bands, Projected[c], Projected[a], v[c].Z, colors[c], colors[a], packed[c]);
  });
}

bool TBase3DRenderer::PrepareSurface(TSurfaceColorModel& model, const T3DPoint* vertices, bool vertexLight,
                                     bool vertexColors, bool filled, TSurfacePass& pass) {
  CheckVertexArrays(model);
  const size_t vertexCount = static_cast<size_t>(model.VertexCount);
  if (model.Colors.size() < vertexCount) throw Exception("The model's colour data is incomplete");
  if (model.TriangleCount < 0 || model.Triangles.size() < static_cast<size_t>(model.TriangleCount))
    throw Exception("The model's triangle data is incomplete");
  if (!FrameUsable() || model.VertexCount == 0 || model.TriangleCount == 0) return false;

  pass.Vertices = vertices ? vertices : model.Vertices.data();
  pass.DrawAll = model.ShowBackSides || !model.UseNormals;
  pass.Filled = filled;
  pass.Workers = PartsFor(int64_t(model.TriangleCount) + model.VertexCount);
  pass.Parts = PiecesFor(pass.Workers);
  // Threads sharing the rows list the triangles that may draw once; one thread
  // tests each as it draws it, while it is at hand.
  pass.Binned = pass.Parts > 1;
  // Listing the triangles needs their screen positions; otherwise they are made
  // last, to be at hand in the cache when the triangles are drawn.
  if (pass.Binned) Project(pass.Vertices, model.VertexCount);
  // Lighting needs the face normals even when a builder set Shading without
  // UseNormals.
  const bool normals = model.UseNormals || model.Shading;
  const bool light = vertexLight && model.Shading;
  if (filled)
    SortOutTriangles<true>(model, pass, normals, light);
  else
    SortOutTriangles<false>(model, pass, normals, light);
  if (light) MergeNormalSums(model, pass.Parts);
  ShadeVertices(model, pass, light, vertexColors);
  if (!pass.Binned) Project(pass.Vertices, model.VertexCount);
  return true;
}

void TBase3DRenderer::MergeNormalSums(const TSurfaceColorModel& model, int parts) {
  using renderer_detail::kChunkShift;
  const uint32_t count = static_cast<uint32_t>(model.VertexCount);
  const int chunks = (model.TriangleCount + (1 << kChunkShift) - 1) >> kChunkShift;
  T3DPoint* sums = normalSums_.data();
  constexpr T3DPoint zero{0.0f, 0.0f, 0.0f};
  // Sums only one range made are read where that range left them.
  sumSegments_.clear();
  auto keepOwn = [&](const T3DPoint* own, uint32_t first, uint32_t last) {
    if (first <= last) sumSegments_.push_back(TSumSegment{first, last, own});
  };
  // Sums an earlier range left in its own array for vertices first .. last move
  // into normalSums_, where a later range continues them.
  auto gather = [&](uint32_t first, uint32_t last) {
    std::vector<TSumSegment> kept;
    for (const TSumSegment& segment : sumSegments_) {
      const uint32_t from = std::max(first, segment.First), to = std::min(last, segment.Last);
      if (from > to) {
        kept.push_back(segment);
        continue;
      }
      std::copy(segment.Sums + from, segment.Sums + to + 1, sums + from);
      if (segment.First < from) kept.push_back(TSumSegment{segment.First, from - 1, segment.Sums});
      if (segment.Last > to) kept.push_back(TSumSegment{to + 1, segment.Last, segment.Sums});
    }
    sumSegments_.swap(kept);
  };
  auto clear = [&](uint32_t first, uint32_t last) {
    if (first <= last) std::fill(sums + first, sums + last + 1, zero);
  };
  // The sums of the vertices within `done` (kept one interval) are complete for the
  // ranges so far, in normalSums_ or a segment.
  TSumWindow done = sumWindows_[0];
  for (int range = 1; range < parts; ++range) {
    const TSumWindow w = sumWindows_[static_cast<size_t>(range)];
    if (w.Empty()) continue;
    const T3DPoint* own = rangeSums_[static_cast<size_t>(range)].get();
    if (done.Empty()) {
      keepOwn(own, w.Low, w.High);
      done = w;
      continue;
    }
    // Vertices no earlier range reached: this range's sums are their whole sums, and
    // a gap between the windows is zero.
    if (w.Low < done.Low) {
      keepOwn(own, w.Low, std::min(w.High, done.Low - 1));
      if (w.High + 1 < done.Low) clear(w.High + 1, done.Low - 1);
    }
    if (w.High > done.High) {
      keepOwn(own, std::max(w.Low, done.High + 1), w.High);
      if (w.Low > done.High + 1) clear(done.High + 1, w.Low - 1);
    }
    // Vertices both reached: the earlier sums continue with this range's triangles
    // in their order.
    const uint32_t first = std::max(w.Low, done.Low), last = std::min(w.High, done.High);
    if (first <= last) {
      gather(first, last);
      const int firstChunk = int(int64_t(chunks) * range / parts);
      const int endChunk = int(int64_t(chunks) * (range + 1) / parts);
      for (int chunk = firstChunk; chunk < endChunk; ++chunk) {
        const TChunkBounds& bounds = chunkBounds_[static_cast<size_t>(chunk)];
        if (bounds.High < first || bounds.Low > last) continue;
        const int64_t begin = int64_t(chunk) << kChunkShift;
        const int64_t end = std::min<int64_t>(model.TriangleCount, int64_t(chunk + 1) << kChunkShift);
        SumVertexNormals(model.Triangles.data(), model.FaceNormals.data(), begin, end, sums, first, last - first + 1);
      }
    }
    done = TSumWindow{std::min(done.Low, w.Low), std::max(done.High, w.High)};
  }
  std::sort(sumSegments_.begin(), sumSegments_.end(),
            [](const TSumSegment& a, const TSumSegment& b) { return a.First < b.First; });
  // Vertices of no triangle.
  if (done.Empty()) {
    clear(0, count - 1);
  } else {
    if (done.Low > 0) clear(0, done.Low - 1);
    if (done.High + 1 < count) clear(done.High + 1, count - 1);
  }
}

void TBase3DRenderer::ShadeVertices(TSurfaceColorModel& model, const TSurfacePass& pass, bool vertexLight,
                                    bool vertexColors) {
  if (!vertexLight && !vertexColors) return;
  const int count = model.VertexCount;
  if (vertexLight) model.VertexLight.resize(static_cast<size_t>(count));
  if (vertexColors && vertexColors_.size() < static_cast<size_t>(count))
    vertexColors_.resize(static_cast<size_t>(count));
  const double lx = LightDirection.X, ly = LightDirection.Y, lz = LightDirection.Z;
  const bool twoSided = model.ShowBackSides;
  float* light = model.VertexLight.data();
  // Colours take the vertex light whenever the model has it, even from an earlier
  // drawing.
  const bool lit = model.VertexLight.size() >= static_cast<size_t>(count);
  const TLightFunction lightFunction = model.LightFunction ? model.LightFunction : LightStandard;
  const float ambient = model.AmbientLight;
  const uint32_t* colors = model.Colors.data();
  TRGBSingle* out = vertexColors_.data();
  ParallelRanges(
      pass.Parts, count,
      [&](int64_t begin, int64_t end) {
        // Vertices first .. last - 1, their sums at sums[first ..].
        auto lightVertices = [&](int64_t first, int64_t last, const T3DPoint* sums) {
          for (int64_t i = first; i < last; ++i) light[i] = VertexLightIntensity(sums[i], lx, ly, lz, twoSided);
        };
        if (vertexLight) {
          int64_t i = begin;
          for (const TSumSegment& segment : sumSegments_) {
            const int64_t first = std::max<int64_t>(i, segment.First),
                          last = std::min<int64_t>(end, int64_t(segment.Last) + 1);
            if (first >= last) continue;
            lightVertices(i, first, normalSums_.data());
            lightVertices(first, last, segment.Sums);
            i = last;
          }
          lightVertices(i, end, normalSums_.data());
        }
        if (!vertexColors) return;
        if (lit) {
          const float* intensity = model.VertexLight.data();
          light_detail::WithLightRoutine(lightFunction, [&](auto lightColor) {
            for (int64_t i = begin; i < end; ++i) lightColor(colors[i], out[i], intensity[i], ambient);
          });
        } else {
          for (int64_t i = begin; i < end; ++i)
            out[i] =
                TRGBSingle{float((colors[i] >> 16) & 0xFF), float((colors[i] >> 8) & 0xFF), float(colors[i] & 0xFF)};
        }
      },
      pass.Workers);
}

float TBase3DRenderer::FaceIntensity(const TSurfaceColorModel& model, int t) const {
  const T3DPoint& n = model.FaceNormals[static_cast<size_t>(t)];
  const float d = LightDirection.X * n.X + LightDirection.Y * n.Y + LightDirection.Z * n.Z;
  const float length = std::sqrt(n.X * n.X + n.Y * n.Y + n.Z * n.Z);
  if (model.ShowBackSides) return d != 0.0f ? std::fabs(d) / length : 0.0f;
  return d > 0.0f ? d / length : 0.0f;
}

}  // namespace sq
