#include "project/correspondence_project.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <limits>

#include "base/rounding.h"
#include "project/triangulation.h"

namespace sq {

namespace {

int32_t& SetX(PointPair& pair, int set) { return set == 1 ? pair.x1 : pair.x2; }
int32_t& SetY(PointPair& pair, int set) { return set == 1 ? pair.y1 : pair.y2; }
int32_t SetX(const PointPair& pair, int set) { return set == 1 ? pair.x1 : pair.x2; }
int32_t SetY(const PointPair& pair, int set) { return set == 1 ? pair.y1 : pair.y2; }

bool ValidSet(int set) { return set == 1 || set == 2; }

bool Outside(const PointPair& pair, int set, int width, int height) {
  const int32_t x = SetX(pair, set), y = SetY(pair, set);
  return x < 0 || y < 0 || x >= width || y >= height;
}

// A scaled coordinate that no longer fits 32 bits sticks to the nearest end rather
// than wrapping to the opposite side of the image.
int32_t ScaleCoordinate(int32_t value, double factor) {
  const double scaled = RoundHalfEven(static_cast<double>(value) * factor);
  if (std::isnan(scaled)) return 0;
  if (scaled <= std::numeric_limits<int32_t>::min()) return std::numeric_limits<int32_t>::min();
  if (scaled >= std::numeric_limits<int32_t>::max()) return std::numeric_limits<int32_t>::max();
  return static_cast<int32_t>(scaled);
}

// The (window, set) combinations the range check of "Connect points" visits, in
// order.  Types 2 and 3 use one image for both halves of every pair; every other
// type lets each window check its own set.
template <class Visit>
bool ForEachRangeCheck(int animationType, std::span<const TImageWindowInfo> windows, Visit visit) {
  for (const auto& window : windows) {
    if (animationType == 2 || animationType == 3) {
      if (window.ImageNumber != animationType - 1) continue;
      if (visit(1, window) || visit(2, window)) return true;
    } else if (visit(window.ImageNumber, window)) {
      return true;
    }
  }
  return false;
}

}  // namespace

void CorrespondenceProject::Init() {
  FrameCount = 25;
  AnimationType = 0;
  PointCount = 0;
  Points.assign(kMaxPointPairs, PointPair{});
  TriangleCount = 0;
  Triangles.assign(kMaxTriangles, MeshTriangle{});
  HighPrecisionRender = 1;
  Antialiasing = 0;
}

void CorrespondenceProject::ResetSettings() {
  AnimationType = 0;
  HighPrecisionRender = 1;
  Antialiasing = 0;
}

int CorrespondenceProject::AddPointPair(int x, int y) {
  if (PointCount >= kMaxPointPairs) return 0;
  Points[static_cast<size_t>(PointCount)] = PointPair{x, y, x, y};
  return ++PointCount;
}

int CorrespondenceProject::FindPoint(int set, int x, int y, int tolerance) const {
  if (!ValidSet(set)) return 0;
  for (int i = 0; i < PointCount; ++i) {
    const PointPair& pair = Points[static_cast<size_t>(i)];
    if (std::llabs(int64_t{SetX(pair, set)} - x) <= tolerance && std::llabs(int64_t{SetY(pair, set)} - y) <= tolerance)
      return i + 1;
  }
  return 0;
}

void CorrespondenceProject::MovePoint(int index, int set, int x, int y) {
  if (index < 1 || index > PointCount || !ValidSet(set)) return;
  PointPair& pair = Points[static_cast<size_t>(index - 1)];
  SetX(pair, set) = x;
  SetY(pair, set) = y;
}

void CorrespondenceProject::DeletePoint(int index) {
  if (index < 1 || index > PointCount) return;
  Points[static_cast<size_t>(index - 1)] = Points[static_cast<size_t>(PointCount - 1)];
  --PointCount;
}

void CorrespondenceProject::SwapPointSets() {
  for (int i = 0; i < PointCount; ++i) {
    PointPair& pair = Points[static_cast<size_t>(i)];
    pair = PointPair{pair.x2, pair.y2, pair.x1, pair.y1};
  }
}

void CorrespondenceProject::ScalePointSet(int set, double fx, double fy) {
  if (!ValidSet(set)) return;
  for (int i = 0; i < PointCount; ++i) {
    PointPair& pair = Points[static_cast<size_t>(i)];
    SetX(pair, set) = ScaleCoordinate(SetX(pair, set), fx);
    SetY(pair, set) = ScaleCoordinate(SetY(pair, set), fy);
  }
}

int CorrespondenceProject::FirstPointOutside(int set, int width, int height) const {
  if (!ValidSet(set)) return 0;
  for (int i = 0; i < PointCount; ++i)
    if (Outside(Points[static_cast<size_t>(i)], set, width, height)) return i + 1;
  return 0;
}

void CorrespondenceProject::RemovePointsOutside(int set, int width, int height) {
  if (!ValidSet(set)) return;
  // Downwards, so the pair that DeletePoint moves into a gap has been checked already.
  for (int i = PointCount; i >= 1; --i)
    if (Outside(Points[static_cast<size_t>(i - 1)], set, width, height)) DeletePoint(i);
}

int CorrespondenceProject::AddCornerPoints(int width, int height) {
  const int corners[4][2] = {{0, 0}, {width - 1, 0}, {0, height - 1}, {width - 1, height - 1}};
  int added = 0;
  for (const auto& corner : corners) {
    if (FindPoint(1, corner[0], corner[1], 0) != 0 || FindPoint(2, corner[0], corner[1], 0) != 0) continue;
    if (AddPointPair(corner[0], corner[1]) == 0) break;
    ++added;
  }
  return added;
}

int CorrespondenceProject::FirstPointOutsideWindows(std::span<const TImageWindowInfo> windows) const {
  int result = 0;
  ForEachRangeCheck(AnimationType, windows, [&](int set, const TImageWindowInfo& window) {
    result = FirstPointOutside(set, window.Width, window.Height);
    return result != 0;
  });
  return result;
}

void CorrespondenceProject::RemovePointsOutsideWindows(std::span<const TImageWindowInfo> windows) {
  ForEachRangeCheck(AnimationType, windows, [&](int set, const TImageWindowInfo& window) {
    RemovePointsOutside(set, window.Width, window.Height);
    return false;
  });
}

int CorrespondenceProject::Triangulate() {
  TTriangulation mesh = TriangulatePoints(ValidPoints());
  if (!mesh.MeshBuilt) return mesh.Result;
  std::copy(mesh.Triangles.begin(), mesh.Triangles.end(), Triangles.begin());
  TriangleCount = static_cast<int32_t>(mesh.Triangles.size());
  return mesh.Result;
}

}  // namespace sq
