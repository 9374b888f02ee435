// VRML 2.0 export: a write-only model loader for ".wrl".  One Shape with an
// IndexedFaceSet, optional vertex normals, and either one material colour,
// per-vertex colours or an image texture written beside the model file.
#pragma once

#include <functional>
#include <string>

#include "model3d/base_3d_model.h"

namespace sq {

// Options of the export, kept while the program runs; the export dialog edits them.
struct TVRMLExportOptions {
  enum { tfNone = 0, tfPNG = 1, tfJPEG = 2 };
  bool WriteNormals = true;
  int TextureFormat = tfPNG;
  // 1..100; 0 until the user chose one, which writes at the dialog's default of 90.
  int JPEGQuality = 0;
};

TVRMLExportOptions& VRMLExportOptions();

// Asked before every export with the current options and whether the model can be
// written with a texture; returns false when the user cancels.  The desktop program
// installs its dialog here; without a handler the options are used as they are.
using TVRMLOptionsQuery = std::function<bool(TVRMLExportOptions& options, bool textureSelectable)>;
TVRMLOptionsQuery SetVRMLOptionsQuery(TVRMLOptionsQuery query);

class TVRMLLoader : public T3DModelLoader {
 public:
  std::string ClassName() const override { return "TVRMLLoader"; }
  // Writes the model.  A cancelled options query raises EAbort before anything is
  // written, so the save leaves any existing file untouched.
  void SaveToStream(TBaseStream& stream) override;
  static bool CanHandle(const std::string& extension) { return extension == "WRL"; }
};

// The value rounded to an integer when its fractional part is below 1e-8, else fixed
// notation with exactly `decimals` digits after the point.
std::string FormatVrmlNumber(double value, int decimals);

// The name of the texture file written beside a model saved as modelFileName.
std::string VRMLTextureFileName(const std::string& modelFileName, int textureFormat);

// Registers the loaders that come with the program; the registry calls it on first use.
void RegisterBuiltInModelLoaders();

}  // namespace sq
