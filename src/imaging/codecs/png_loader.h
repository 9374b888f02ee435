// PNG files: our own codec over our own deflate.
//
// Reads every colour type at every depth, interlaced or not: grey and palette images
// load as pf8bit (1, 2 and 4-bit grey with a grey ramp in the first entries), 16-bit
// grey as pf16bit, colour as pf24bit (16-bit samples cut to their high byte).
// Writes pf8bit as grey (grey palette) or palette images, pf16bit as 16-bit grey,
// pf24bit as RGB.  Ancillary chunks other than gAMA and tRNS are skipped; an
// unknown critical chunk is refused.
#pragma once

#include <array>
#include <cstdint>
#include <memory>

#include "imaging/codecs/bitmap_loader.h"
#include "imaging/linear_bitmap.h"

namespace sq {

class TPNGLoader : public TBitmapLoader {
 public:
  std::string GetLoadFilter() override;
  // The target bitmap is only replaced once the whole file has been read.
  void LoadFromStream(TBaseStream& stream, const std::string& extension, TLinearBitmap& bitmap) override;
  void SaveToStream(TBaseStream& stream, const std::string& extension, const TLinearBitmap& bitmap) override;

  // Reading: keep alpha samples, palette alpha and the PLTE chunk of colour files.
  bool LoadExtras = false;
  // A PLTE chunk of a colour file read with LoadExtras, in the bitmap palette's
  // order (blue, green, red per entry); written back as PLTE for colour images.
  std::unique_ptr<std::array<uint8_t, 768>> ExtraPalette;
  // Alpha samples (high bytes of 16-bit ones) of the last file read with LoadExtras,
  // as a pf8bit grey image.
  std::unique_ptr<TLinearBitmap> AlphaChannel;
  // Alpha per palette entry of the last palette file read with LoadExtras (entries
  // the tRNS chunk does not reach are 255).
  std::unique_ptr<std::array<uint8_t, 256>> PaletteAlpha;
  // gAMA value / 100000; 0 = none.  Written as gAMA when not 0.
  double Gamma = 0;
  // From tRNS: a grey level, a colour red + green * 256 + blue * 65536, or a palette
  // index; -1 = none.  Written as tRNS when not -1.
  int32_t TransparentColor = -1;
  // Bit depth of the last file read.  Saving a palette image with 1, 2 or 4 packs
  // its rows at the smallest depth from that one up that holds every index.
  int32_t BitsPerPixel = 8;
  // Row filter when saving: 0..4 that filter; -1 the cheapest by sum of signed
  // bytes; -2 the one with most runs; -3 whichever of these settings gives the
  // smallest file.
  int32_t Filter = -1;
  // Saving a palette image: sort the used palette entries by luminance (2R + 3G + B),
  // drop the unused ones and remap the pixels, in a copy.  Grey images are left
  // alone unless BitsPerPixel asks for packed rows.
  bool OptimizePalette = false;
};

// The process-wide PNG loader.
TPNGLoader& PNGLoader();

// The transparent value (in TransparentColor's encoding) that marks in after
// exactly the pixels that transparent marked in before, for a conversion that keeps
// every pixel in place (grey, 24-bit, invert).  -1 when no single value can: the
// transparency is then dropped rather than spread to other pixels.
int32_t MapTransparentColor(const TLinearBitmap& before, const TLinearBitmap& after, int32_t transparent);

}  // namespace sq
