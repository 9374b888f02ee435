// Reduction of a true-colour image to a palette of at most 256 colours, for formats
// that only hold palette images (GIF).
//
// An image with no more distinct colours than allowed keeps them exactly.  Otherwise
// the colours are counted in a 6-bit-per-channel histogram, the box of colours with
// the largest squared error is split where the two halves' summed error is least
// (along the channel of widest spread) until the palette is full, a few k-means
// rounds move each entry to the mean of the colours nearest to it, and every pixel
// takes the nearest entry.  No dithering.
#pragma once

namespace sq {

class TLinearBitmap;

// Fills target with a pf8bit version of source (pf24bit or pf32bit; other formats
// are converted on the way) using at most maxColors (2..256) palette entries; the
// entries behind them are black.  Returns the number of entries used.
int QuantizeColors(const TLinearBitmap& source, int maxColors, TLinearBitmap& target);

}  // namespace sq
