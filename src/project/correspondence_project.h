// The correspondence project: up to 800 point pairs marking the same scene feature in
// image 1 and image 2, the triangle mesh built over them, and the four animation
// settings the project file carries.  Point indices are 1-based; 0 means "no point".
#pragma once

#include <cstdint>
#include <span>
#include <vector>

namespace sq {

constexpr int kMaxPointPairs = 800;
constexpr int kMaxTriangles = 4000;

// One correspondence: (x1, y1) in image 1, (x2, y2) in image 2.  The project file
// stores the array byte for byte, so the layout is fixed at 16 bytes.
// Keeps its established name, without the T prefix.
struct PointPair {
  int32_t x1 = 0;
  int32_t y1 = 0;
  int32_t x2 = 0;
  int32_t y2 = 0;
  friend bool operator==(const PointPair&, const PointPair&) = default;
};
static_assert(sizeof(PointPair) == 16);

// 1-based indices of the corners, in the order the triangulation formed them.
// Keeps its established name, without the T prefix.
struct MeshTriangle {
  int32_t p1 = 0;
  int32_t p2 = 0;
  int32_t p3 = 0;
  friend bool operator==(const MeshTriangle&, const MeshTriangle&) = default;
};

enum TEditMode : int { PointMode = 0, ZoomMode = 1, TriangleMode = 2 };

// What the "Connect points" range check needs to know about one document window.
struct TImageWindowInfo {
  int ImageNumber = 0;  // 1 or 2; 0 for a window never assigned
  int Width = 0;
  int Height = 0;
};

// Keeps its established name, without the T prefix.
class CorrespondenceProject {
 public:
  CorrespondenceProject() { Init(); }

  // Defaults: 25 frames, animation type 0, no points, no mesh, high precision on,
  // antialiasing off.
  void Init();
  // What "New" resets once the points are gone; the frame count stays.
  void ResetSettings();

  // Adds (x, y, x, y) and returns its index, or 0 when the list is full.
  int AddPointPair(int x, int y);
  // Lowest index whose set-k position lies within the square of half-size tolerance
  // around (x, y); 0 when none or when set is neither 1 nor 2.
  int FindPoint(int set, int x, int y, int tolerance) const;
  // Indices outside 1..PointCount and sets other than 1 and 2 are ignored.
  void MovePoint(int index, int set, int x, int y);
  // The last pair moves into the gap; out-of-range indices are ignored.
  void DeletePoint(int index);
  void SwapPointSets();
  // Multiplies set k by the factors, rounding halves to even (clamped to 32 bits).
  void ScalePointSet(int set, double fx, double fy);
  int FirstPointOutside(int set, int width, int height) const;
  void RemovePointsOutside(int set, int width, int height);

  // Adds a pair at each image corner not already marked in either set, in the order
  // top-left, top-right, bottom-left, bottom-right; returns how many were added.
  int AddCornerPoints(int width, int height);

  // The range check of "Connect points": the first point outside its image, using
  // the window/set combinations that AnimationType selects (0 when all are inside).
  int FirstPointOutsideWindows(std::span<const TImageWindowInfo> windows) const;
  // Removes exactly the points FirstPointOutsideWindows would report.
  void RemovePointsOutsideWindows(std::span<const TImageWindowInfo> windows);

  // Builds the mesh (see triangulation.h).  Returns 0 on success, 1 for fewer than 3
  // points, else the offending point; the mesh is left alone on 1 and on duplicates.
  int Triangulate();

  std::span<const PointPair> ValidPoints() const { return {Points.data(), static_cast<size_t>(PointCount)}; }
  std::span<const MeshTriangle> ValidTriangles() const {
    return {Triangles.data(), static_cast<size_t>(TriangleCount)};
  }

  int32_t FrameCount = 25;
  int32_t AnimationType = 0;
  int32_t PointCount = 0;
  std::vector<PointPair> Points = std::vector<PointPair>(kMaxPointPairs);
  int32_t TriangleCount = 0;
  std::vector<MeshTriangle> Triangles = std::vector<MeshTriangle>(kMaxTriangles);
  uint8_t HighPrecisionRender = 1;
  uint8_t Antialiasing = 0;
};

}  // namespace sq
