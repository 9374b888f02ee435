#include "model3d/stereo_3d_renderer.h"

#include <algorithm>
#include <cstring>
#include <utility>

#include "base/exception.h"
#include "base/scope_guard.h"
#include "imaging/gray.h"
#include "imaging/linear_bitmap.h"
#include "model3d/color_point_3d_model.h"
#include "model3d/texture_model.h"

namespace sq {

TStereo3DRenderer::TStereo3DRenderer(double eyeSeparation, double viewingDistance, double screenWidth,
                                     int screenWidthPixels) {
  if (!(screenWidth > 0.0) || screenWidthPixels < 1) throw Exception("Invalid screen size for stereo rendering");
  const double k = screenWidthPixels / screenWidth;
  ViewDistance = static_cast<float>(viewingDistance * k);
  RightEyeX = eyeSeparation / 2.0 * k;
  LeftEyeX = -RightEyeX;
}

void TStereo3DRenderer::BeginFrame(const Frame32& frame) {
  const bool sizeChanged =
      LeftFrame.Frame().Width != std::max(frame.Width, 0) || LeftFrame.Frame().Height != std::max(frame.Height, 0);
  TBase3DRenderer::BeginFrame(frame);
  target_ = frame;
  LeftFrame.SetSize(FrameWidth, FrameHeight);
  RightFrame.SetSize(FrameWidth, FrameHeight);
  if (sizeChanged || LeftZBuffer.size() != ZBuffer.size()) {
    LeftZBuffer.assign(ZBuffer.size(), 0.0f);
    LeftZBuffer.shrink_to_fit();
  }
  if (!LeftZBuffer.empty()) std::memset(LeftZBuffer.data(), kZBufferFillByte, LeftZBuffer.size() * sizeof(float));
  LeftFrame.Frame().Fill(0);
  RightFrame.Frame().Fill(0);
}

void TStereo3DRenderer::RenderModel(TBase3DModel& model, const T3DMatrix* matrix) {
  const T3DPoint* vertices = nullptr;
  if (matrix) {
    TransformInto(model, *matrix);
    vertices = Transformed.data();
  }
  // Left eye into its own picture and depth buffer; the swap is undone even when a
  // drawing raises.
  const TScopeGuard restoreTarget([this] { Target = target_; });
  {
    std::swap(ZBuffer, LeftZBuffer);
    const TScopeGuard restoreDepth([this] { std::swap(ZBuffer, LeftZBuffer); });
    Target = LeftFrame.Frame();
    EyeX = static_cast<float>(LeftEyeX);
    model.Render(*this, vertices);
  }
  Target = RightFrame.Frame();
  EyeX = static_cast<float>(RightEyeX);
  model.Render(*this, vertices);
}

void TStereo3DRenderer::EndFrame() {
  ComposeAnaglyph(LeftFrame.Frame(), RightFrame.Frame(), target_);
  TBase3DRenderer::EndFrame();
}

void TStereo3DRenderer::PrepareModel(TBase3DModel& model) {
  if (auto* colored = dynamic_cast<TColorPoint3DModel*>(&model)) {
    const size_t count = std::min(colored->Colors.size(), static_cast<size_t>(std::max(model.VertexCount, 0)));
    for (size_t i = 0; i < count; ++i) {
      const uint32_t c = colored->Colors[i];
      const uint32_t grey = ((c & 0xFF) + 3 * ((c >> 8) & 0xFF) + 2 * ((c >> 16) & 0xFF) + 3) / 6;
      colored->Colors[i] = grey << 8;
    }
  }
  if (auto* textured = dynamic_cast<TTextureModel*>(&model)) ConvertToGrayscale(textured->Texture);
}

void ComposeAnaglyph(const Frame32& left, const Frame32& right, const Frame32& target) {
  if (!left.Bits || !right.Bits || !target.Bits) return;
  const int width = std::min({left.Width, right.Width, target.Width});
  const int height = std::min({left.Height, right.Height, target.Height});
  for (int y = 0; y < height; ++y) {
    const uint32_t* l = left.Row(y);
    const uint32_t* r = right.Row(y);
    uint32_t* t = target.Row(y);
    for (int x = 0; x < width; ++x) {
      const uint32_t leftGreen = (l[x] >> 8) & 0xFF, rightGreen = (r[x] >> 8) & 0xFF;
      t[x] = (((3 * leftGreen + 2) / 4) << 16) | rightGreen;
    }
  }
}

}  // namespace sq
