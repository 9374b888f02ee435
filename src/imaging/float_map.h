// TFloatMap: one plane of double values with the row layout of a TLinearBitmap.  The
// reconstruction keeps disparity and depth in it, the filters compute through it.
// Values carry no fixed range; to and from 8-bit images they are grey levels 0..255.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "base/large_pages.h"
#include "io/stream_class.h"

namespace sq {

class TLinearBitmap;

class TBaseFloatMap : public TStreamClass {
 public:
  TBaseFloatMap() = default;
  ~TBaseFloatMap() override { FreeMap(); }
  std::string ClassName() const override { return "TBaseFloatMap"; }

  // Frees Map; Width, Height and Count become 0.
  virtual void Dispose() { FreeMap(); }

  int64_t Size = 0;  // bytes in Map = Count * 8
  int Width = 0;
  int Height = 0;
  int64_t BytesPerLine = 0;  // Width * 8
  int64_t Count = 0;         // Width * Height
  double* Map = nullptr;

 protected:
  void FreeMap();
  TLargeBlock<double> block_;
};

class TFloatMap : public TBaseFloatMap {
 public:
  TFloatMap() = default;
  TFloatMap(int width, int height) { SetSize(width, height); }
  TFloatMap(const TFloatMap& source) : TBaseFloatMap() { Assign(source); }
  TFloatMap& operator=(const TFloatMap& source) {
    if (this != &source) Assign(source);
    return *this;
  }
  TFloatMap(TFloatMap&& source) noexcept { TakeOver(source); }
  TFloatMap& operator=(TFloatMap&& source) noexcept {
    TakeOver(source);
    return *this;
  }

  std::string ClassName() const override { return "TFloatMap"; }

  // Reallocates (values not initialised) only when the size changes.  Sizes below 1
  // leave an empty map.
  void SetSize(int width, int height);

  double* ScanLine(int y) { return Map + static_cast<ptrdiff_t>(y) * Width; }
  const double* ScanLine(int y) const { return Map + static_cast<ptrdiff_t>(y) * Width; }
  double* PixelAddress(int x, int y) { return ScanLine(y) + x; }
  const double* PixelAddress(int x, int y) const { return ScanLine(y) + x; }

  // Sets every value to 0.
  void Clear();

  // From a TFloatMap: size and values.  From a TLinearBitmap: its size, one value per
  // pixel; pf8bit gives the index bytes, 16-bit grey its high byte and 24/32-bit
  // pixels their grey level (2R + 3G + B) div 6.
  void Assign(const TAssignObject& source) override;
  void Assign(const TFloatMap& source);
  void Assign(const TLinearBitmap& source);

  // To a TLinearBitmap: pf8bit, each value rounded (halves to even) and clamped to
  // 0..255.  A pf8bit target keeps its palette; any other gets the grey palette.
  void AssignTo(TAssignObject& target) const override;
  void AssignTo(TLinearBitmap& target) const;

  // Moves other's values in; other is left empty.
  void TakeOver(TFloatMap& other) noexcept;
};

}  // namespace sq
