#include "model3d/merge_points.h"

#include <cmath>
#include <unordered_map>

namespace sq {

namespace {

constexpr float kMergeTolerance = 1e-5f;
// Cells twice the tolerance wide: two points that pass the test lie in the same or
// in neighbouring cells even after the rounding of the division.
constexpr double kCellSize = 2e-5;

int64_t CellCoordinate(float value) {
  const double c = std::floor(static_cast<double>(value) / kCellSize);
  // Far-out and non-finite coordinates share border cells; correctness does not
  // depend on the cell, only the speed does.
  if (!(c > -1e15)) return -1000000000000000LL;
  if (!(c < 1e15)) return 1000000000000000LL;
  return static_cast<int64_t>(c);
}

struct TCellKey {
  int64_t X, Y, Z;
  bool operator==(const TCellKey&) const = default;
};

struct TCellHash {
  size_t operator()(const TCellKey& k) const {
    uint64_t h = static_cast<uint64_t>(k.X) * 0x9E3779B97F4A7C15ULL;
    h ^= static_cast<uint64_t>(k.Y) * 0xC2B2AE3D27D4EB4FULL + (h << 6) + (h >> 2);
    h ^= static_cast<uint64_t>(k.Z) * 0x165667B19E3779F9ULL + (h << 6) + (h >> 2);
    return static_cast<size_t>(h ^ (h >> 31));
  }
};

bool Near(const T3DPoint& a, const T3DPoint& b, bool exact) {
  if (exact) return a.X == b.X && a.Y == b.Y && a.Z == b.Z;
  return std::fabs(a.X - b.X) < kMergeTolerance && std::fabs(a.Y - b.Y) < kMergeTolerance &&
         std::fabs(a.Z - b.Z) < kMergeTolerance;
}

}  // namespace

std::vector<int> FindMergeTargets(const std::vector<T3DPoint>& vertices, const std::vector<uint32_t>* colors,
                                  bool exact, const std::vector<TTexCoord>* texCoords) {
  const size_t count = vertices.size();
  std::vector<int> target(count, -1);
  // Each cell lists its vertices in ascending order; vertices are added after their
  // own query, so every listed vertex is a candidate j < i.
  std::unordered_map<TCellKey, std::vector<int>, TCellHash> cells;
  cells.reserve(count);
  for (size_t i = 0; i < count; ++i) {
    const T3DPoint& p = vertices[i];
    const TCellKey key{CellCoordinate(p.X), CellCoordinate(p.Y), CellCoordinate(p.Z)};
    int best = -1;
    for (int dx = -1; dx <= 1; ++dx)
      for (int dy = -1; dy <= 1; ++dy)
        for (int dz = -1; dz <= 1; ++dz) {
          const auto it = cells.find(TCellKey{key.X + dx, key.Y + dy, key.Z + dz});
          if (it == cells.end()) continue;
          const std::vector<int>& list = it->second;
          // From the back: the first match in a cell is its largest index.
          for (auto j = list.rbegin(); j != list.rend() && *j > best; ++j) {
            if (!Near(p, vertices[*j], exact)) continue;
            if (colors && (*colors)[*j] != (*colors)[i]) continue;
            if (texCoords && ((*texCoords)[*j].U != (*texCoords)[i].U || (*texCoords)[*j].V != (*texCoords)[i].V))
              continue;
            best = *j;
            break;
          }
        }
    target[i] = best;
    cells[key].push_back(static_cast<int>(i));
  }
  return target;
}

}  // namespace sq
