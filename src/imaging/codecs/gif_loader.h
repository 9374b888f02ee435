// GIF files over giflib: the first frame is read; images are written as one frame.
#pragma once

#include <cstdint>

#include "imaging/codecs/bitmap_loader.h"

namespace sq {

class TGIFLoader : public TBitmapLoader {
 public:
  bool CanLoad(const std::string& extension) override;
  bool CanSave(const std::string& extension) override;
  std::string GetLoadFilter() override;
  // The first frame on a canvas of the file's screen size, as pf8bit with the
  // frame's colour table (the rest black).
  void LoadFromStream(TBaseStream& stream, const std::string& extension, TLinearBitmap& bitmap) override;
  // pf8bit images keep their palette, packed to 1 or 4 bits when every index and
  // every non-black entry fits; pf16bit is written as grey levels; true-colour
  // images are reduced to 256 colours.
  void SaveToStream(TBaseStream& stream, const std::string& extension, const TLinearBitmap& bitmap) override;

  // The first frame's transparent colour as a platform colour 0x00BBGGRR, -1 when
  // the last loaded file had none.
  int32_t TransparentColor = -1;
};

// The process-wide GIF loader.
TGIFLoader& GIFLoader();

}  // namespace sq
