// Finding coincident vertices for RemoveDuplicatePoints.
#pragma once

#include <cstdint>
#include <vector>

#include "model3d/base_3d_model.h"

namespace sq {

// For every vertex i the largest j < i at the same place (and, when colors or
// texCoords are given, with the same colour and texture coordinate), or -1.  "The same place" is exact equality when
// exact is set; otherwise every coordinate differs by less than 1e-5, compared in single precision as the coordinates
// are stored.  Vertices are bucketed on a grid of cells wider than the tolerance, so the search is near linear.
std::vector<int> FindMergeTargets(const std::vector<T3DPoint>& vertices, const std::vector<uint32_t>* colors,
                                  bool exact, const std::vector<TTexCoord>* texCoords = nullptr);

}  // namespace sq
