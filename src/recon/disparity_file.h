// A disparity map as a grey Portable Float Map, the form other stereo tools read:
// "Pf", the width and height, "-1.0" (little-endian), then float32 values with the
// rows from bottom to top.
#pragma once

#include <string>
#include <vector>

#include "imaging/float_map.h"

namespace sq {

// The file's bytes.
std::vector<uint8_t> DisparityPfmBytes(const TFloatMap& map);

// Writes the file atomically: a failed save leaves an existing file as it was.
void SaveDisparityPfm(const TFloatMap& map, const std::string& fileName);

}  // namespace sq
