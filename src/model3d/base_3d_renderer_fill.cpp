// The filled surface drawings: flat, Gouraud, texture and Gouraud texture.
#include <algorithm>
#include <cmath>

#include "base/exception.h"
#include "model3d/base_3d_renderer.h"
#include "model3d/base_3d_renderer_loop.h"
#include "model3d/light.h"
#include "model3d/renderer_raster.h"
#include "model3d/texture_model.h"

namespace sq {

namespace {

using raster::TCorner;
using raster::TTriangleFiller;

struct TFlatShader {
  static constexpr int kValues = 1;
  uint32_t Color = 0;
  void Plot(uint32_t& pixel, const float*) const { pixel = Color; }
};

// Interpolated colour triple; the pixel's fourth byte is left as it was.
struct TGouraudShader {
  static constexpr int kValues = 4;
  void Plot(uint32_t& pixel, const float* v) const {
    pixel = (pixel & 0xFF000000u) | raster::PackChannels(v[1], v[2], v[3]);
  }
};

// The texture as the fills read it: pf32bit texels in one block, no row padding.
struct TTexels {
  const uint32_t* Texels = nullptr;
  int Width = 0;
  int64_t MaxIndex = -1;
};

inline int64_t TexelIndex(int64_t row, int64_t column, const TTexels& texture) {
  return std::clamp<int64_t>(row * texture.Width + column, 0, texture.MaxIndex);
}

// Nearest texel (u and v rounded), one light intensity per triangle.
struct TTextureShader {
  static constexpr int kValues = 3;
  TTexels Texture;
  TLightFunction Light = nullptr;
  float Ambient = 0.0f;
  float Intensity = 1.0f;
  void Plot(uint32_t& pixel, const float* v) const {
    const uint32_t texel = Texture.Texels[TexelIndex(raster::RoundCoord(v[2]), raster::RoundCoord(v[1]), Texture)];
    TRGBSingle rgb;
    Light(texel, rgb, Intensity, Ambient);
    pixel = raster::PackChannels(rgb.R, rgb.G, rgb.B);
  }
};

// Texels blended along the row by the fraction of u; the intensity interpolated.
struct TGouraudTextureShader {
  static constexpr int kValues = 4;
  TTexels Texture;
  TLightFunction Light = nullptr;
  float Ambient = 0.0f;
  void Plot(uint32_t& pixel, const float* v) const {
    // NaN and far coordinates pinned before the conversions below.
    const float u =
        v[1] > -raster::kCoordLimit ? (v[1] < raster::kCoordLimit ? v[1] : raster::kCoordLimit) : -raster::kCoordLimit;
    const float whole = std::trunc(u);
    const float f = u - whole;
    const int64_t i = TexelIndex(raster::RoundCoord(v[2]), static_cast<int64_t>(whole), Texture);
    const uint32_t first = Texture.Texels[i];
    const uint32_t second = Texture.Texels[std::min(i + 1, Texture.MaxIndex)];
    uint32_t blend = 0;
    for (int shift = 0; shift <= 16; shift += 8) {
      const float a = float((first >> shift) & 0xFF), b = float((second >> shift) & 0xFF);
      blend |= raster::RoundChannel(a * (1.0f - f) + b * f) << shift;
    }
    TRGBSingle rgb;
    Light(blend, rgb, v[3], Ambient);
    pixel = raster::PackChannels(rgb.R, rgb.G, rgb.B);
  }
};

template <int K>
inline TCorner<K> Corner(const TScreenPoint& p, float z) {
  TCorner<K> corner;
  corner.X = p.X;
  corner.Y = p.Y;
  corner.V[0] = z;
  return corner;
}

// Readies the model's texture for the fills; false when it has none.
bool PrepareTexture(TTextureModel& model, TTexels& texels) {
  if (!model.Texture.Present || model.Texture.Width < 1 || model.Texture.Height < 1) return false;
  model.Texture.SetPixelFormat(pf32bit);
  model.Texture.Pack();
  texels.Texels = reinterpret_cast<const uint32_t*>(model.Texture.Map);
  texels.Width = model.Texture.Width;
  texels.MaxIndex = int64_t(model.Texture.Width) * model.Texture.Height - 1;
  return true;
}

void CheckTexCoords(const TTextureModel& model) {
  if (model.TexCoords.size() < static_cast<size_t>(std::max(model.VertexCount, 0)))
    throw Exception("The model's texture coordinates are incomplete");
}

TLightFunction LightOf(const TSurfaceColorModel& model) {
  return model.LightFunction ? model.LightFunction : LightStandard;
}

}  // namespace

void TBase3DRenderer::DrawFlat(TSurfaceColorModel& model, const T3DPoint* vertices) {
  TSurfacePass pass;
  if (!PrepareSurface(model, vertices, false, false, true, pass)) return;
  const T3DPoint* v = pass.Vertices;
  const TLightFunction light = LightOf(model);
  ForEachTriangle(model, pass, [&](int t, uint32_t a, uint32_t b, uint32_t c, const TRowBands& bands) {
    TFlatShader shader;
    shader.Color = model.Colors[a];
    if (model.Shading) {
      TRGBSingle rgb;
      light(shader.Color, rgb, FaceIntensity(model, t), model.AmbientLight);
      shader.Color = PackColor(rgb);
    }
    TTriangleFiller<TFlatShader> filler(Target, ZBuffer.data(), bands, shader);
    filler.Fill(Corner<1>(Projected[a], v[a].Z), Corner<1>(Projected[b], v[b].Z), Corner<1>(Projected[c], v[c].Z));
  });
}

void TBase3DRenderer::DrawGouraud(TSurfaceColorModel& model, const T3DPoint* vertices) {
  TSurfacePass pass;
  if (!PrepareSurface(model, vertices, true, false, true, pass)) return;
  const T3DPoint* v = pass.Vertices;
  const uint32_t* colors = model.Colors.data();
  const float* intensity = model.VertexLight.data();
  const float ambient = model.AmbientLight;
  // The corners' colour triples are lit as they are drawn: most vertices of a dense
  // mesh belong to no triangle that draws.
  auto draw = [&](auto lightColor) {
    TGouraudShader shader;
    auto corner = [&](uint32_t i) {
      TCorner<4> result = Corner<4>(Projected[i], v[i].Z);
      TRGBSingle rgb;
      lightColor(colors[i], rgb, intensity, i, ambient);
      result.V[1] = rgb.R;
      result.V[2] = rgb.G;
      result.V[3] = rgb.B;
      return result;
    };
    ForEachTriangle(model, pass, [&](int, uint32_t a, uint32_t b, uint32_t c, const TRowBands& bands) {
      TTriangleFiller<TGouraudShader> filler(Target, ZBuffer.data(), bands, shader);
      filler.Fill(corner(a), corner(b), corner(c));
    });
  };
  if (model.VertexLight.size() >= static_cast<size_t>(model.VertexCount)) {
    light_detail::WithLightRoutine(LightOf(model), [&](auto light) {
      draw([light](uint32_t color, TRGBSingle& rgb, const float* f, uint32_t i, float a) {
        light(color, rgb, f[i], a);
      });
    });
  } else {
    draw([](uint32_t color, TRGBSingle& rgb, const float*, uint32_t, float) {
      rgb = TRGBSingle{float((color >> 16) & 0xFF), float((color >> 8) & 0xFF), float(color & 0xFF)};
    });
  }
}

void TBase3DRenderer::DrawTexture(TTextureModel& model, const T3DPoint* vertices) {
  CheckTexCoords(model);
  TTexels texels;
  // Without a texture image the surface keeps its own colours.
  if (!PrepareTexture(model, texels)) return DrawFlat(model, vertices);
  TSurfacePass pass;
  if (!PrepareSurface(model, vertices, false, false, true, pass)) return;
  const T3DPoint* v = pass.Vertices;
  const TTexCoord* uv = model.TexCoords.data();
  auto corner = [&](uint32_t i) {
    TCorner<3> result = Corner<3>(Projected[i], v[i].Z);
    result.V[1] = uv[i].U;
    result.V[2] = uv[i].V;
    return result;
  };
  ForEachTriangle(model, pass, [&](int t, uint32_t a, uint32_t b, uint32_t c, const TRowBands& bands) {
    TTextureShader shader;
    shader.Texture = texels;
    shader.Light = LightOf(model);
    shader.Ambient = model.AmbientLight;
    shader.Intensity = model.Shading ? FaceIntensity(model, t) : 1.0f;
    TTriangleFiller<TTextureShader> filler(Target, ZBuffer.data(), bands, shader);
    filler.Fill(corner(a), corner(b), corner(c));
  });
}

void TBase3DRenderer::DrawGouraudTexture(TTextureModel& model, const T3DPoint* vertices) {
  CheckTexCoords(model);
  TTexels texels;
  if (!PrepareTexture(model, texels)) return DrawGouraud(model, vertices);
  TSurfacePass pass;
  if (!PrepareSurface(model, vertices, true, false, true, pass)) return;
  const T3DPoint* v = pass.Vertices;
  const TTexCoord* uv = model.TexCoords.data();
  const bool lit = model.Shading && model.VertexLight.size() >= static_cast<size_t>(model.VertexCount);
  const float* intensity = model.VertexLight.data();
  TGouraudTextureShader shader;
  shader.Texture = texels;
  shader.Light = LightOf(model);
  shader.Ambient = model.AmbientLight;
  auto corner = [&](uint32_t i) {
    TCorner<4> result = Corner<4>(Projected[i], v[i].Z);
    result.V[1] = uv[i].U;
    result.V[2] = uv[i].V;
    result.V[3] = lit ? intensity[i] : 1.0f;
    return result;
  };
  ForEachTriangle(model, pass, [&](int, uint32_t a, uint32_t b, uint32_t c, const TRowBands& bands) {
    TTriangleFiller<TGouraudTextureShader> filler(Target, ZBuffer.data(), bands, shader);
    filler.Fill(corner(a), corner(b), corner(c));
  });
}

}  // namespace sq
