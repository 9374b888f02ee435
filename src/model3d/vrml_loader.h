// VRML 2.0 export: a write-only model loader for ".wrl".  One Shape with an
// IndexedFaceSet, optional vertex normals, and either one material colour,
// per-vertex colours or an image texture written beside the model file.
#pragma once

#include <string>

#include "model3d/base_3d_model.h"

namespace sq {

// How a textured model's image is written beside the model file (None: colours).
enum class TVRMLTextureFormat { None, PNG, JPEG };

// The export's choices.  The export dialog keeps its own copy between uses and
// shows it before calling SaveVRMLFile; a save through the model registry uses
// the defaults.
struct TVRMLExportOptions {
  bool WriteNormals = true;
  TVRMLTextureFormat TextureFormat = TVRMLTextureFormat::PNG;
  // 1..100; 0 until the user chose one, which writes at the dialog's default of 90.
  int JPEGQuality = 0;
};

// Whether the model can be written with a texture (a TTextureModel whose image is
// wider and higher than 2 pixels): the dialog offers the texture formats only then.
bool VRMLTextureSelectable(const TBase3DModel& model);

// Writes the model as a VRML file with the options, its texture beside it.  An
// existing file is replaced only when the new one is complete.
void SaveVRMLFile(TBase3DModel& model, const std::string& fileName, const TVRMLExportOptions& options);

class TVRMLLoader : public T3DModelLoader {
 public:
  std::string ClassName() const override { return "TVRMLLoader"; }
  void SaveToStream(TBaseStream& stream) override;
  static bool CanHandle(const std::string& extension) { return extension == "WRL"; }

  TVRMLExportOptions Options;
  // The model file the texture is named after; when empty, a TTextureModel's FileName.
  std::string ModelFileName;
};

// The value rounded to an integer when its fractional part is below 1e-8, else fixed
// notation with exactly `decimals` digits after the point.
std::string FormatVrmlNumber(double value, int decimals);

// The name of the texture file written beside a model saved as modelFileName.
std::string VRMLTextureFileName(const std::string& modelFileName, TVRMLTextureFormat textureFormat);

// Registers the loaders that come with the program; the registry calls it on first use.
void RegisterBuiltInModelLoaders();

}  // namespace sq
