// "Accommodate images": the whole-pixel shift that brings image 2's points closest to
// image 1's (least squares), and the crop of both images to the area they share once
// shifted, so that the point pairs line up.
#pragma once

#include <span>

#include "imaging/linear_bitmap.h"
#include "project/correspondence_project.h"

namespace sq {

struct TCropRect {
  int Left = 0, Top = 0, Width = 0, Height = 0;
};

struct TAccommodation {
  // Image 2's pixel (x, y) shows the scene of image 1's pixel (x + ShiftX, y + ShiftY).
  int ShiftX = 0, ShiftY = 0;
  // Root mean square distance of the pairs after the whole-pixel shift.
  double Residual = 0;
  // What each image keeps; both have the same size.
  TCropRect Crop1, Crop2;
};

// Raises "No point pairs to accommodate" without pairs and "The images do not overlap
// after the shift" when the shifted images share no pixel.  The least-squares shift is
// the mean difference of the pairs, rounded halves to even.
TAccommodation FindAccommodation(std::span<const PointPair> pairs, int width1, int height1, int width2, int height2);

// Crops a bitmap to a rectangle inside it.
void CropBitmap(TLinearBitmap& bitmap, const TCropRect& rect);

// Moves set 1 and set 2 of every pair by the crop origins.
void AccommodatePoints(CorrespondenceProject& project, const TAccommodation& accommodation);

}  // namespace sq
