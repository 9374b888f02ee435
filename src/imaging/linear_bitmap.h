// TLinearBitmap: the program's raster image.  All pixels sit in one block, top row
// first, no row padding, blue-green-red byte order, so algorithms can walk the image
// as a flat byte array or address row y as Map + y * BytesPerLine.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "base/assign_object.h"
#include "base/exception.h"
#include "base/large_pages.h"

namespace sq {

class TBaseStream;
class TBitmapLoader;
struct TLoadReport;

enum TPixelFormat : uint8_t {
  pf1bit = 1,
  pf4bit = 2,
  pf8bit = 3,
  pf16bit = 5,
  pf24bit = 6,
  pf32bit = 7,
  pfCustom = 8,
};

const char* PixelFormatName(TPixelFormat format);

// 256 entries of (blue, green, red): entry i = (i, i, i).
const uint8_t* GrayPalette();

// Fills count entries (at least 2) with a grey ramp i * 255 div (count - 1).
void MakeLinearPalette(uint8_t* palette, int count);

// The characters after the last "." when the last of ".", "\" and ":" is a ".".
std::string ExtractFileExtNoDot(const std::string& fileName);

class TLinearBitmap : public TAssignObject {
 public:
  TLinearBitmap() = default;
  TLinearBitmap(int width, int height, TPixelFormat format) { New(width, height, format); }
  TLinearBitmap(const TLinearBitmap& source) : TAssignObject() { Assign(source); }
  TLinearBitmap& operator=(const TLinearBitmap& source) {
    if (this != &source) Assign(source);
    return *this;
  }
  ~TLinearBitmap() override = default;

  std::string ClassName() const override { return "TLinearBitmap"; }
  void Assign(const TAssignObject& source) override;
  void Assign(const TLinearBitmap& source);

  void New(int width, int height, TPixelFormat format);
  void Dispose();
  // Disposes this bitmap and moves other's pixels in; other keeps its size fields.
  void TakeOver(TLinearBitmap& other);
  void Pack();

  uint8_t* ScanLine(int y) { return Map + static_cast<ptrdiff_t>(y) * BytesPerLine; }
  const uint8_t* ScanLine(int y) const { return Map + static_cast<ptrdiff_t>(y) * BytesPerLine; }
  uint8_t* PixelAddress(int x, int y) { return ScanLine(y) + static_cast<ptrdiff_t>(x) * PixelSize; }
  const uint8_t* PixelAddress(int x, int y) const { return ScanLine(y) + static_cast<ptrdiff_t>(x) * PixelSize; }

  void Clear(uint8_t value);
  // color is a platform colour 0x00BBGGRR.
  void ClearColor(uint32_t color);
  bool IsGrayScale() const;
  void SetPixelFormat(TPixelFormat format);

  void PasteImage(const TLinearBitmap& source, int x, int y);
  void ResizeCanvas(int width, int height, uint32_t fillColor, int offsetY, int offsetX);
  void MergePlanes(const uint8_t* planes, int count);

  // Packed device-independent bitmap (40-byte header, palette for 8 bits, rows bottom
  // first, 4-byte aligned); empty for formats other than pf8bit and pf24bit.
  std::vector<uint8_t> MakeDIB() const;
  // Loads a packed DIB from a block of memory that comes from outside; raises
  // ELinearBitmap "Error in bitmap data" when the header does not fit the block.
  void GetFromDIB(std::span<const uint8_t> dib);

  // File dispatch through the format registry.  With a report, what the reader
  // noticed in a file it could still load (damage, orientation) replaces its content.
  TBitmapLoader& LoadFromFile(const std::string& fileName, TLoadReport* report = nullptr);
  void SaveToFile(const std::string& fileName) const;
  void LoadFromStream(TBaseStream& stream, const std::string& extension, TLoadReport* report = nullptr);
  void SaveToStream(TBaseStream& stream, const std::string& extension) const;

  int Width = 0;
  int Height = 0;
  TPixelFormat PixelFormat = pfCustom;
  int BytesPerLine = 0;
  int PixelSize = 0;
  int64_t Size = 0;
  bool Present = false;
  uint8_t* Map = nullptr;      // Size + 1 bytes while Present
  uint8_t* Palette = nullptr;  // 768 bytes (blue, green, red), only for pf8bit

 private:
  void AllocateMap(int64_t bytes);
  TLargeBlock<uint8_t> mapBlock_;
  std::unique_ptr<uint8_t[]> paletteBlock_;
};

// Largest pixel block a reader may allocate for an image from outside (1 GiB).
constexpr int64_t kMaxImageBytes = int64_t(1) << 30;

// Images from outside with more pixels than this are refused before anything is
// allocated, so a small hostile file cannot make a reader take gigabytes.  The
// default lets through every photograph a camera makes.
constexpr int64_t kDefaultMaxImagePixels = 178956970;

// The limit in force for every reader (process-wide; the desktop program sets it
// from its settings, the command line from --max-pixels).  A value below 1 restores
// the default.  Safe to call while another thread loads.
void SetMaxImagePixels(int64_t pixels);
int64_t MaxImagePixels();

// "image too large (W × H pixels)": a file's image is above MaxImagePixels.
class EImageTooLarge : public ELinearBitmap {
 public:
  EImageTooLarge(int64_t width, int64_t height);
  int64_t Width, Height;
};

// Raises EImageTooLarge when width x height is above MaxImagePixels, and
// ELinearBitmap "Error in bitmap data" unless the size is positive and
// pixelSize-byte pixels fit kMaxImageBytes.  Readers call this with the size a file
// states before allocating anything whose size comes from it.
void CheckImageSize(int64_t width, int64_t height, int pixelSize);

// The byte check alone, for buffers that are not the image itself (padded rows).
void CheckImageBytes(int64_t width, int64_t height, int pixelSize);

}  // namespace sq
