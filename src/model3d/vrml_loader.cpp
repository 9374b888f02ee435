#include "model3d/vrml_loader.h"

#include <cmath>

#include <fmt/format.h>

#include "base/exception.h"
#include "imaging/codecs/jpeg_loader.h"
#include "io/text_stream.h"
#include "model3d/texture_model.h"

namespace sq {

namespace {

constexpr int kCoordinateDecimals = 8;
constexpr int kColorDecimals = 3;
constexpr int kDefaultJPEGQuality = 90;

void AppendNumber(std::string& out, double value, int decimals) {
  const double fraction = value - std::trunc(value);
  if (std::fabs(fraction) < 1e-8)
    // + 0.0 turns a negative zero into "0".
    fmt::format_to(std::back_inserter(out), "{:.0f}", std::nearbyint(value) + 0.0);
  else
    fmt::format_to(std::back_inserter(out), "{:.{}f}", value, decimals);
}

void AppendTriple(std::string& out, double a, double b, double c, int decimals) {
  AppendNumber(out, a, decimals);
  out += ' ';
  AppendNumber(out, b, decimals);
  out += ' ';
  AppendNumber(out, c, decimals);
  out += '\n';
}

void AppendColor(std::string& out, uint32_t color) {
  AppendTriple(out, ((color >> 16) & 0xFF) / 255.0, ((color >> 8) & 0xFF) / 255.0, (color & 0xFF) / 255.0,
               kColorDecimals);
}

// Collects the text and hands it to the stream in large pieces.
class TVrmlWriter {
 public:
  explicit TVrmlWriter(TBaseStream& stream) : text_(stream) { text_.LineBreak = "\n"; }
  std::string& Buffer() { return buffer_; }
  void Line(const char* line) {
    buffer_ += line;
    buffer_ += '\n';
    Spill();
  }
  void Spill() {
    if (buffer_.size() >= 65536) FlushBuffer();
  }
  void Finish() {
    FlushBuffer();
    text_.Flush();
  }

 private:
  void FlushBuffer() {
    text_.WriteText(buffer_);
    buffer_.clear();
  }
  TTextStream text_;
  std::string buffer_;
};

// The folder part of a stored path ends at the last "/" or "\".
size_t NameStart(const std::string& path) {
  const size_t slash = path.find_last_of("/\\");
  return slash == std::string::npos ? 0 : slash + 1;
}

void SaveTexture(const TTextureModel& model, const std::string& fileName, const TVRMLExportOptions& options) {
  TLinearBitmap copy;
  const TLinearBitmap* texture = &model.Texture;
  if (texture->PixelFormat == pf32bit) {
    // Converted on a copy: exporting must not change the model being shown.
    copy = model.Texture;
    copy.SetPixelFormat(pf24bit);
    texture = &copy;
  }
  if (options.TextureFormat == TVRMLTextureFormat::JPEG)
    SaveJPEGFile(*texture, fileName, options.JPEGQuality > 0 ? options.JPEGQuality : kDefaultJPEGQuality);
  else
    texture->SaveToFile(fileName);
}

}  // namespace

bool VRMLTextureSelectable(const TBase3DModel& model) {
  const auto* textured = dynamic_cast<const TTextureModel*>(&model);
  return textured && textured->Texture.Width > 2 && textured->Texture.Height > 2;
}

void SaveVRMLFile(TBase3DModel& model, const std::string& fileName, const TVRMLExportOptions& options) {
  TVRMLLoader loader;
  loader.Model = &model;
  loader.Options = options;
  loader.ModelFileName = fileName;
  loader.SaveToFile(fileName);
}

void RegisterBuiltInModelLoaders() {
  TBase3DModel::RegisterModelLoader(
      T3DModelLoaderClass{"TVRMLLoader", [](const std::string& extension) { return TVRMLLoader::CanHandle(extension); },
                          [] { return std::unique_ptr<T3DModelLoader>(new TVRMLLoader); }});
  AppendModelFileFilter("|VRML (*.wrl)|*.wrl");
}

std::string FormatVrmlNumber(double value, int decimals) {
  std::string text;
  AppendNumber(text, value, decimals);
  return text;
}

std::string VRMLTextureFileName(const std::string& modelFileName, TVRMLTextureFormat textureFormat) {
  const size_t dot = modelFileName.rfind('.');
  const std::string stem =
      dot != std::string::npos && dot >= NameStart(modelFileName) ? modelFileName.substr(0, dot) : modelFileName;
  return stem + (textureFormat == TVRMLTextureFormat::JPEG ? ".jpg" : ".png");
}

void TVRMLLoader::SaveToStream(TBaseStream& stream) {
  if (!Model) throw Exception("TVRMLLoader: no model to write");
  TBase3DModel& model = *Model;
  auto* colored = dynamic_cast<TColorPoint3DModel*>(&model);
  auto* surface = dynamic_cast<TSurfaceColorModel*>(&model);
  auto* textured = dynamic_cast<TTextureModel*>(&model);

  const TVRMLExportOptions& options = Options;
  // Kind of colouring: texture, colour per vertex or one material colour.
  const bool useTexture = options.TextureFormat != TVRMLTextureFormat::None && VRMLTextureSelectable(model);
  bool perVertex = false;
  if (!useTexture && colored && model.VertexCount > 1)
    for (int i = 1; i < model.VertexCount && !perVertex; ++i) perVertex = colored->Colors[i] != colored->Colors[0];
  std::string textureName = "texture.jpg";
  const std::string& modelFileName = ModelFileName.empty() && textured ? textured->FileName : ModelFileName;
  if (useTexture && !modelFileName.empty()) {
    const std::string textureFile = VRMLTextureFileName(modelFileName, options.TextureFormat);
    SaveTexture(*textured, textureFile, options);
    textureName = textureFile.substr(NameStart(textureFile));
  }

  TVrmlWriter out(stream);
  std::string& text = out.Buffer();
  out.Line("#VRML V2.0 utf8");
  out.Line("Shape {");
  out.Line(" appearance Appearance {");
  out.Line("  material Material {");
  if (useTexture || perVertex) {
    out.Line("   diffuseColor 1 1 1");
  } else {
    // A model without colours (a plain point cloud) is white.
    text += "   diffuseColor ";
    AppendColor(text, colored && model.VertexCount > 0 ? colored->Colors[0] : 0xFFFFFF);
  }
  out.Line("  }");
  if (useTexture) {
    out.Line("  texture ImageTexture {");
    text += "    url \"" + textureName + "\"\n";
    out.Line("  }");
  }
  out.Line(" }");
  out.Line(" geometry IndexedFaceSet {");

  out.Line("  coord Coordinate {");
  out.Line("   point [");
  for (const T3DPoint& v : model.Vertices) {
    AppendTriple(text, v.X, v.Y, v.Z, kCoordinateDecimals);
    out.Spill();
  }
  out.Line("   ]");
  out.Line("  }");

  if (options.WriteNormals) {
    // Summed face normals from the model's own vertices, computed aside so that the
    // model's lighting state stays as the viewer left it.
    std::vector<T3DPoint> sums(model.Vertices.size(), T3DPoint{0, 0, 0});
    if (surface) {
      for (const T3DTriangle& t : surface->Triangles) {
        const T3DPoint &a = model.Vertices[t[0]], &b = model.Vertices[t[1]], &c = model.Vertices[t[2]];
        const double bx = b.X - a.X, by = b.Y - a.Y, bz = b.Z - a.Z;
        const double cx = c.X - a.X, cy = c.Y - a.Y, cz = c.Z - a.Z;
        const float nx = static_cast<float>(by * cz - bz * cy), ny = static_cast<float>(bz * cx - bx * cz),
                    nz = static_cast<float>(bx * cy - by * cx);
        for (const uint32_t k : t) {
          sums[k].X += nx;
          sums[k].Y += ny;
          sums[k].Z += nz;
        }
      }
    }
    out.Line("  normal Normal {");
    out.Line("   vector [");
    for (const T3DPoint& n : sums) {
      const double length = std::sqrt(double(n.X) * n.X + double(n.Y) * n.Y + double(n.Z) * n.Z);
      if (length > 0)
        AppendTriple(text, n.X / length, n.Y / length, n.Z / length, kCoordinateDecimals);
      else
        AppendTriple(text, 0, 0, 0, kCoordinateDecimals);
      out.Spill();
    }
    out.Line("   ]");
    out.Line("  }");
  }

  if (perVertex) {
    out.Line("  color Color {");
    out.Line("   color [");
    for (const uint32_t color : colored->Colors) {
      AppendColor(text, color);
      out.Spill();
    }
    out.Line("   ]");
    out.Line("  }");
  } else if (useTexture) {
    const double su = 1.0 / textured->Texture.Width, sv = 1.0 / textured->Texture.Height;
    out.Line("  texCoord TextureCoordinate {");
    out.Line("   point [");
    for (const TTexCoord& t : textured->TexCoords) {
      AppendNumber(text, t.U * su, kCoordinateDecimals);
      text += ' ';
      AppendNumber(text, 1 - t.V * sv, kCoordinateDecimals);
      text += '\n';
      out.Spill();
    }
    out.Line("   ]");
    out.Line("  }");
  }

  out.Line("  coordIndex [");
  if (surface)
    for (const T3DTriangle& t : surface->Triangles) {
      fmt::format_to(std::back_inserter(text), "{} {} {} -1\n", t[0], t[1], t[2]);
      out.Spill();
    }
  out.Line("  ]");
  out.Line(" }");
  out.Line("}");
  out.Finish();
}

}  // namespace sq
