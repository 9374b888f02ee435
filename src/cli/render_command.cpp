// stereoquill-cli render: draws a model file exactly as the 3D viewer shows it with
// the given settings and saves the picture, so the viewer's output can be checked
// without a display.
#include <cmath>
#include <iostream>
#include <map>
#include <memory>
#include <numbers>
#include <optional>
#include <string>

#include "base/exception.h"
#include "base/format.h"
#include "cli/command.h"
#include "imaging/codecs/bitmap_loader.h"
#include "imaging/linear_bitmap.h"
#include "io/text_stream.h"
#include "model3d/frame32.h"
#include "model3d/texture_model.h"
#include "model3d/view_settings.h"

namespace sq::cli {

namespace {

struct TRenderOptions {
  std::string Input;
  std::string Output;
  std::string Size;
  std::string Mode;
  std::string Light;
  std::optional<double> Ambient;
  double RotateX = 0.0;
  double RotateY = 0.0;
  double Zoom = 100.0;
  bool BackSides = false;
  bool NoBackSides = false;
  bool Stereo = false;
  int ScreenWidth = 1920;
  bool Quiet = false;
};

const std::map<std::string, uint32_t>& RenderModes() {
  static const std::map<std::string, uint32_t> modes{{"default", rmDefault},
                                                     {"points", rmPoints},
                                                     {"colorblocks", rmColorBlocks},
                                                     {"wireframe", rmWireframe},
                                                     {"flat", rmFlat},
                                                     {"gouraud", rmGouraud},
                                                     {"texture", rmTexture},
                                                     {"gouraudtexture", rmGouraudTexture}};
  return modes;
}

// Frames larger than this on a side are refused before anything is loaded.
constexpr int kMaxFrameSide = 8192;

// "WxH" with both sides 1 .. kMaxFrameSide; an empty string on success.
std::string ParseSize(const std::string& text, int* width, int* height) {
  const std::string error = "Frame size must be WxH with whole numbers from 1 to " + std::to_string(kMaxFrameSide);
  const size_t x = text.find_first_of("xX");
  if (x == std::string::npos || x == 0 || x + 1 >= text.size()) return error;
  auto number = [](const std::string& part, int* value) {
    if (part.empty() || part.size() > 6 || part.find_first_not_of("0123456789") != std::string::npos) return false;
    *value = std::stoi(part);
    return *value >= 1 && *value <= kMaxFrameSide;
  };
  int w = 0, h = 0;
  if (!number(text.substr(0, x), &w) || !number(text.substr(x + 1), &h)) return error;
  if (width) *width = w;
  if (height) *height = h;
  return {};
}

void Render(const TRenderOptions& options) {
  TViewSettings settings;
  if (!options.Size.empty()) ParseSize(options.Size, &settings.Width, &settings.Height);
  settings.ScreenWidthPixels = options.ScreenWidth;
  // Check the names before the work, so a typo costs no loading time.
  CheckInputName(options.Input, TFileKind::Model, "render draws models (.m3d or .ply)");
  CheckOutputName(options.Output, TFileKind::Image, "render writes a picture (.png, .jpg, .bmp, .pcx or .gif)");

  TProgressBar progress(options.Quiet);
  progress.Stage("Loading");
  std::unique_ptr<TTextureModel> model;
  TTextStream::ResetFailedLine();
  try {
    model = OpenModelFile(options.Input, settings);
  } catch (const Exception& e) {
    throw Exception(ModelErrorText(options.Input, e));
  }

  // The viewer's menu commands, in the order a user would give them.
  if (!options.Mode.empty()) settings.RenderMode = RenderModes().at(options.Mode);
  if (!options.Light.empty()) {
    settings.ChooseReflection(options.Light == "none"    ? TReflection::None
                              : options.Light == "shiny" ? TReflection::Shiny
                                                         : TReflection::Standard);
  }
  if (options.Ambient) settings.SetAmbientLight(static_cast<float>(*options.Ambient));
  if (options.NoBackSides) settings.ShowBackSides = false;
  if (options.BackSides) settings.ShowBackSides = true;
  settings.Stereo = options.Stereo;
  settings.Zoom = options.Zoom;
  settings.Rotate(options.RotateX * std::numbers::pi / 180.0, options.RotateY * std::numbers::pi / 180.0);
  ApplyViewSettings(settings, *model);

  progress.Stage("Rendering");
  TFrame32Buffer frame(settings.Width, settings.Height);
  std::unique_ptr<TBase3DRenderer> renderer = MakeRenderer(settings);
  RenderView(*renderer, *model, settings, frame.Frame());

  progress.Stage("Saving");
  TLinearBitmap picture;
  FrameToBitmap(frame.Frame(), picture);
  picture.SaveToFile(options.Output);
}

void SetupRenderCommand(CLI::App& app) {
  auto* command =
      app.add_subcommand("render", "Draw a 3D model (.m3d, .ply) as the 3D viewer shows it and save the picture");
  auto options = std::make_shared<TRenderOptions>();
  command->add_option("MODEL", options->Input, "Model file to draw (.m3d or .ply)")->required();
  command->add_option("OUT", options->Output, "Picture to write (.png)")->required();
  command->add_option("--size", options->Size, "Frame size WxH (default 441x413, the viewer's panel)")
      ->check([](const std::string& text) { return ParseSize(text, nullptr, nullptr); });
  command->add_option("--mode", options->Mode, "Renderer (default: texture for a textured model, else gouraud)")
      ->check(CLI::IsMember(RenderModes()));
  command->add_option("--light", options->Light, "Surface reflection: none|standard|shiny (default standard)")
      ->check(CLI::IsMember({"none", "standard", "shiny"}));
  command
      ->add_option("--ambient", options->Ambient, "Ambient light level 0-1 (default 0.3 for a textured model, else 0)")
      ->check(FiniteNumber())
      ->check(CLI::Range(0.0, 1.0));
  command->add_option("--rotate-x", options->RotateX, "Turn the model about the horizontal axis (degrees)")
      ->check(FiniteNumber())
      ->check(CLI::Range(-1.0e6, 1.0e6));
  command->add_option("--rotate-y", options->RotateY, "Turn the model about the vertical axis (degrees)")
      ->check(FiniteNumber())
      ->check(CLI::Range(-1.0e6, 1.0e6));
  command->add_option("--zoom", options->Zoom, "Scale of the view (default 100)")
      ->check(FiniteNumber())
      ->check(CLI::Range(0.001, 1.0e6));
  auto* backSides = command->add_flag("--backsides", options->BackSides,
                                      "Draw triangles facing away, lit on both sides (the default, as in the viewer)");
  command->add_flag("--no-backsides", options->NoBackSides, "Hide triangles facing away")->excludes(backSides);
  command->add_flag("--stereo", options->Stereo, "Red-blue anaglyph");
  command
      ->add_option("--screen-width", options->ScreenWidth,
                   "Screen width in pixels for the stereo eye distance (default 1920)")
      ->check(CLI::Range(1, 1000000));
  command->add_flag("--quiet", options->Quiet, "No progress bar");
  AddMaxPixelsOption(*command);
  command->callback([options] { Render(*options); });
}

const bool registered = RegisterCommand(SetupRenderCommand);

}  // namespace

}  // namespace sq::cli
