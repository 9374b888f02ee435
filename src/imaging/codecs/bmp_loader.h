// BMP files: our own reader and writer.
//
// Reads 1, 4, 8, 16, 24 and 32 bits; the 12-byte core header and the 16..64, 108 and
// 124-byte information headers; bit-field 16 and 32-bit images; RLE4 and RLE8; bottom-up
// and top-down rows.  1, 4 and 8-bit images load as pf8bit with their palette (the rest
// black), 24-bit ones as pf24bit, every other depth as pf24bit.
// Writes pf8bit with its palette, pf16bit as 8-bit with the grey palette, pf24bit and
// pf32bit; rows bottom first, 4-byte aligned, 40-byte information header.
#pragma once

#include "imaging/codecs/bitmap_loader.h"

namespace sq {

class TBMPLoader : public TBitmapLoader {
 public:
  bool CanLoad(const std::string& extension) override;
  bool CanSave(const std::string& extension) override;
  std::string GetLoadFilter() override;
  void LoadFromStream(TBaseStream& stream, const std::string& extension, TLinearBitmap& bitmap) override;
  void SaveToStream(TBaseStream& stream, const std::string& extension, const TLinearBitmap& bitmap) override;
};

// The process-wide BMP loader.
TBMPLoader& BMPLoader();

}  // namespace sq
