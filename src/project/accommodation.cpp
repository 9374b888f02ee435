#include "project/accommodation.h"

#include <algorithm>
#include <cmath>
#include <limits>

#include "base/exception.h"
#include "base/rounding.h"

namespace sq {

TAccommodation FindAccommodation(std::span<const PointPair> pairs, int width1, int height1, int width2, int height2) {
  if (pairs.empty()) throw Exception("No point pairs to accommodate");
  // Minimising the sum of |p1 - (p2 + d)|^2 over d gives the mean of p1 - p2.
  double sumX = 0, sumY = 0;
  for (const PointPair& pair : pairs) {
    sumX += double(pair.x1) - pair.x2;
    sumY += double(pair.y1) - pair.y2;
  }
  const double n = double(pairs.size());
  const double meanX = sumX / n, meanY = sumY / n;
  constexpr double kLimit = std::numeric_limits<int>::max() / 2;
  if (!(std::abs(meanX) < kLimit && std::abs(meanY) < kLimit))
    throw Exception("The images do not overlap after the shift");

  TAccommodation result;
  result.ShiftX = RoundInt(meanX);
  result.ShiftY = RoundInt(meanY);
  double squares = 0;
  for (const PointPair& pair : pairs) {
    const double dx = double(pair.x1) - pair.x2 - result.ShiftX;
    const double dy = double(pair.y1) - pair.y2 - result.ShiftY;
    squares += dx * dx + dy * dy;
  }
  result.Residual = std::sqrt(squares / n);

  // The shared area in image 1's coordinates.
  const int64_t left = std::max<int64_t>(0, result.ShiftX);
  const int64_t top = std::max<int64_t>(0, result.ShiftY);
  const int64_t right = std::min<int64_t>(width1, int64_t(width2) + result.ShiftX);
  const int64_t bottom = std::min<int64_t>(height1, int64_t(height2) + result.ShiftY);
  if (right <= left || bottom <= top) throw Exception("The images do not overlap after the shift");
  const int width = int(right - left), height = int(bottom - top);
  result.Crop1 = {int(left), int(top), width, height};
  result.Crop2 = {int(left - result.ShiftX), int(top - result.ShiftY), width, height};
  return result;
}

void CropBitmap(TLinearBitmap& bitmap, const TCropRect& rect) {
  if (!bitmap.Present || rect.Left < 0 || rect.Top < 0 || rect.Width < 1 || rect.Height < 1 ||
      rect.Left + int64_t(rect.Width) > bitmap.Width || rect.Top + int64_t(rect.Height) > bitmap.Height)
    throw ELinearBitmap("Crop rectangle outside the image");
  bitmap.ResizeCanvas(rect.Width, rect.Height, 0, -rect.Top, -rect.Left);
}

void AccommodatePoints(CorrespondenceProject& project, const TAccommodation& accommodation) {
  for (int i = 0; i < project.PointCount; ++i) {
    PointPair& pair = project.Points[size_t(i)];
    pair.x1 -= accommodation.Crop1.Left;
    pair.y1 -= accommodation.Crop1.Top;
    pair.x2 -= accommodation.Crop2.Left;
    pair.y2 -= accommodation.Crop2.Top;
  }
}

}  // namespace sq
