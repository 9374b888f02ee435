// PCX files (version 5, run-length encoded, 8 bits per sample, 1 plane with a
// 256-colour palette or 3 planes of red, green and blue): our own codec.
//
// Format notes: a 128-byte little-endian header; then for every row the plane lines
// of "bytes per line" samples each, as runs: a byte with both top bits set holds a
// count (its low 6 bits, 0 taken as 1) for the byte that follows, any other byte
// stands for itself.  A 1-plane file ends with the byte 12 and 256 red, green, blue
// entries.  The image is x max - x min + 1 columns wide; the decoded lines are cut
// to that width.
#pragma once

#include <cstdint>
#include <vector>

#include "imaging/codecs/bitmap_loader.h"

namespace sq {

class TPCXLoader : public TBitmapLoader {
 public:
  bool CanLoad(const std::string& extension) override;
  bool CanSave(const std::string& extension) override;
  std::string GetLoadFilter() override;
  void LoadFromStream(TBaseStream& stream, const std::string& extension, TLinearBitmap& bitmap) override;
  // pf8bit images are written with 1 plane, pf24bit with 3; pf16bit is written as
  // its grey levels and pf32bit without its fourth byte.
  void SaveToStream(TBaseStream& stream, const std::string& extension, const TLinearBitmap& bitmap) override;
};

// The process-wide PCX loader.
TPCXLoader& PCXLoader();

// Appends the runs of count samples taken every step bytes from data: runs of at
// most 63, a single byte below 0xC0 written alone.
void EncodePCXLine(const uint8_t* data, int count, int step, std::vector<uint8_t>& out);

}  // namespace sq
