// JPEG files over libjpeg.  Colour files load as pf24bit, greyscale files as pf8bit
// with the grey palette.  Saving takes every pixel format; greyscale images are
// written as one-component files.
#pragma once

#include <cstdint>
#include <vector>

#include "imaging/codecs/bitmap_loader.h"

namespace sq {

class TJPEGLoader : public TBitmapLoader {
 public:
  bool CanLoad(const std::string& extension) override;  // JPG, JPEG, JPE
  bool CanSave(const std::string& extension) override;  // JPG, JPEG
  std::string GetLoadFilter() override;
  std::string GetSaveFilter() override;
  void LoadFromStream(TBaseStream& stream, const std::string& extension, TLinearBitmap& bitmap) override;
  void SaveToStream(TBaseStream& stream, const std::string& extension, const TLinearBitmap& bitmap) override;

  // 1..100; 0 (or less) uses the library's default.
  int Quality = 0;
  // A size target in bytes for saving: the quality is lowered (never raised above
  // its start) until the file fits.  0 or less: no target.
  int64_t MaxFileSize = 0;
};

// The process-wide JPEG loader of the format registry.
TJPEGLoader& JPEGLoader();

// Saves bitmap as a JPEG file with its own quality and size target (as the loader's
// Quality and MaxFileSize), leaving the process-wide loader alone.  Like every save it
// replaces an existing file only when the new one is complete.
void SaveJPEGFile(const TLinearBitmap& bitmap, const std::string& fileName, int quality, int64_t maxFileSize = 0);

// Compresses bitmap at quality (1..100, or 0 for the library's default) into memory.
std::vector<uint8_t> CompressJPEG(const TLinearBitmap& bitmap, int quality);

// Decodes a JPEG held in memory.
void DecompressJPEG(const uint8_t* data, size_t size, TLinearBitmap& bitmap);

}  // namespace sq
