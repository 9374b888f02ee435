// Opening a model file when the caller does not know what it holds.
#pragma once

#include <memory>
#include <string>

#include "model3d/surface_color_model.h"

namespace sq {

// Loads a surface model from any readable model file (by extension): a TTextureModel
// when the file carries a texture image, else a TSurfaceColorModel.
std::unique_ptr<TSurfaceColorModel> LoadSurfaceModel(const std::string& fileName);

}  // namespace sq
