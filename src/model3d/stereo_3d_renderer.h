// TStereo3DRenderer: draws the scene from a left and a right eye and merges the two
// pictures into a red-blue anaglyph (left eye through the red filter, right eye
// through the blue one).
#pragma once

#include "model3d/base_3d_renderer.h"
#include "model3d/frame32.h"

namespace sq {

class TStereo3DRenderer : public TBase3DRenderer {
 public:
  // Eye separation, viewing distance and screen width in one length unit (the
  // viewer passes 6.5, 35 and 32, centimetres), and the screen's width in pixels.
  TStereo3DRenderer(double eyeSeparation, double viewingDistance, double screenWidth, int screenWidthPixels);

  void BeginFrame(const Frame32& frame) override;
  void RenderModel(TBase3DModel& model, const T3DMatrix* matrix) override;
  void EndFrame() override;
  // Only the green channel of each eye's picture reaches the anaglyph: replaces
  // every vertex colour by its grey level in the green byte and turns a texture
  // grey, so that red and blue parts of the model stay visible.
  void PrepareModel(TBase3DModel& model) override;

  TFrame32Buffer LeftFrame;
  TFrame32Buffer RightFrame;
  std::vector<float> LeftZBuffer;
  double LeftEyeX;
  double RightEyeX;

 private:
  Frame32 target_;  // the frame the anaglyph goes into
};

// Red (3 Lg + 2) div 4 from the left picture's green byte, blue the right picture's
// green byte, green 0, for every pixel of target.
void ComposeAnaglyph(const Frame32& left, const Frame32& right, const Frame32& target);

}  // namespace sq
