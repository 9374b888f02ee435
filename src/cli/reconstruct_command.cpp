// stereoquill-cli reconstruct: two photographs and their point pairs in, a coloured
// 3D surface model out, through the same pipeline as the "Create 3D model" dialog
// and with its defaults.
#include <algorithm>
#include <cstdio>
#include <exception>
#include <memory>
#include <string>

#include "base/exception.h"
#include "cli/command.h"
#include "imaging/codecs/bitmap_loader.h"
#include "imaging/linear_bitmap.h"
#include "model3d/surface_color_model.h"
#include "project/point_pairs_file.h"
#include "project/project_file.h"
#include "recon/disparity_file.h"
#include "recon/pipeline.h"

namespace sq::cli {

namespace {

struct TReconstructOptions {
  std::string Project;
  std::string Image1;
  std::string Image2;
  std::string Points;
  std::string Output;
  std::string SaveWarped;
  std::string SaveDisparity;
  TReconstructionParams Params;
  std::string Warp = "projective";
  std::string Matcher = "dp";
  bool MedianGiven = false, SmoothGiven = false;  // on the command line, not defaulted
  bool NoCrop = false;
  bool Quiet = false;
};

// The two images and the pairs, from a project file or from three named files.
struct TInputs {
  std::string Image1Path, Image2Path;
  CorrespondenceProject Project;
};

TInputs ReadInputs(const TReconstructOptions& options) {
  const bool separate = !options.Image1.empty() || !options.Image2.empty() || !options.Points.empty();
  if (options.Project.empty() == !separate)
    throw CLI::ValidationError("Give either PROJECT.kst or all of --image1, --image2 and --points");
  TInputs inputs;
  if (!options.Project.empty()) {
    TProjectFile file;
    try {
      file.LoadFromFile(options.Project);
    } catch (const Exception& e) {
      throw Exception(options.Project + ": " + e.what());
    }
    if (file.Image1Path.empty() || file.Image2Path.empty())
      throw Exception(options.Project + ": the project does not name both images");
    if (file.Project.PointCount <= 0) throw Exception("no point pairs in " + options.Project);
    inputs.Image1Path = file.Image1Path;
    inputs.Image2Path = file.Image2Path;
    inputs.Project = file.Project;
    return inputs;
  }
  if (options.Image1.empty() || options.Image2.empty() || options.Points.empty())
    throw CLI::ValidationError("--image1, --image2 and --points go together");
  inputs.Image1Path = options.Image1;
  inputs.Image2Path = options.Image2;
  const auto pairs = ReadPointPairsFile(options.Points);
  if (pairs.empty()) throw Exception("no point pairs in " + options.Points);
  inputs.Project.PointCount = static_cast<int32_t>(pairs.size());
  std::copy(pairs.begin(), pairs.end(), inputs.Project.Points.begin());
  return inputs;
}

// Messages may carry the dialog's line break, which would overwrite a terminal line.
std::string OneLine(std::string text) {
  for (char& c : text)
    if (c == '\r' || c == '\n') c = ' ';
  return text;
}

void RunReconstruct(const TReconstructOptions& options) {
  const TInputs inputs = ReadInputs(options);
  // Outputs that cannot be written fail now, not after all the work.
  CheckOutputName(options.Output, TFileKind::Model, "reconstruct writes a model (.m3d or .ply)");
  TSurfaceColorModel().SetFileFormat(options.Output);
  if (!options.SaveWarped.empty()) CheckOutputFolder(options.SaveWarped + "1.png");
  if (!options.SaveDisparity.empty()) CheckOutputFolder(options.SaveDisparity);

  TLinearBitmap image1, image2;
  TReconstructionPipeline pipeline(image1, image2, inputs.Project);
  pipeline.Params = options.Params;
  pipeline.Params.AutoCrop = !options.NoCrop;
  pipeline.Params.Warp = ParseWarpMethod(options.Warp);
  pipeline.Params.Matcher = ParseMatcherMethod(options.Matcher);
  if (!options.MedianGiven) pipeline.Params.MedianSize = SuggestedFilterSize(pipeline.Params.Matcher);
  if (!options.SmoothGiven) pipeline.Params.SmoothSize = SuggestedFilterSize(pipeline.Params.Matcher);
  std::exception_ptr failure;
  {
    TProgressBar progress(options.Quiet);
    pipeline.SetStageHandler([&progress](const std::string& stage) { progress.Stage(stage); });
    try {
      progress.Stage("Loading images");
      LoadImagePair(inputs.Image1Path, inputs.Image2Path, image1, image2,
                    [&inputs](int image, const TLoadReport& report) {
                      const std::string& path = image == 1 ? inputs.Image1Path : inputs.Image2Path;
                      for (const std::string& warning : report.Warnings) PrintWarning(path + ": " + warning);
                    });
      // The whole chain: warp, dispersion map, filters, model.
      pipeline.BuildModel();
      progress.Stage("Saving");
      pipeline.Model()->SaveToFile(options.Output);
      if (!options.SaveWarped.empty()) {
        pipeline.Warped1().SaveToFile(options.SaveWarped + "1.png");
        pipeline.Warped2().SaveToFile(options.SaveWarped + "2.png");
      }
      if (!options.SaveDisparity.empty()) SaveDisparityPfm(pipeline.Map(), options.SaveDisparity);
    } catch (...) {
      failure = std::current_exception();
    }
    // A map that could not become a model is what a user needs to see why.
    if (failure && !options.SaveDisparity.empty() && pipeline.HasMap()) {
      try {
        SaveDisparityPfm(pipeline.Map(), options.SaveDisparity);
      } catch (const Exception& e) {
        PrintError(options.SaveDisparity + ": " + e.what());
      }
    }
  }
  // What was reached is reported even when a later step failed.
  if (pipeline.HasWarp()) {
    const TCommonArea& area = pipeline.CommonArea();
    std::printf("%s\ncommon area: %d %d %d %d\n", pipeline.PointErrorText().c_str(), area.Left, area.Top, area.Width,
                area.Height);
  }
  if (failure) {
    try {
      std::rethrow_exception(failure);
    } catch (const Exception& e) {
      throw Exception(OneLine(e.what()));
    }
  }
  std::printf("vertices: %d\ntriangles: %d\n", pipeline.Model()->VertexCount, pipeline.Model()->TriangleCount);
  std::fflush(stdout);
}

const bool registered = RegisterCommand([](CLI::App& app) {
  auto options = std::make_shared<TReconstructOptions>();
  auto* command = app.add_subcommand("reconstruct",
                                     "Build a coloured 3D surface model from two photographs and "
                                     "their point pairs (a project, or images and a pairs file)");
  command->add_option("project", options->Project, "Project file (.kst) naming both images and holding the pairs");
  command->add_option("--image1", options->Image1, "Image 1 (the left photograph)");
  command->add_option("--image2", options->Image2, "Image 2 (the right photograph)");
  command->add_option("--points", options->Points, "Point pairs, one 'x1 y1 x2 y2' per line, '#' comments");
  command->add_option("-o,--output", options->Output, "Model file to write; .m3d or .ply picks the format")->required();
  TReconstructionParams& p = options->Params;
  command->add_option("--spread", p.Spread, "Colour difference scale")
      ->check(FiniteNumber())
      ->check(CLI::Range(0.0, 100.0))
      ->capture_default_str();
  command->add_option("--occlusion", p.Occlusion, "Price of an unmatched pixel")
      ->check(FiniteNumber())
      ->check(CLI::Range(0.0, 100.0))
      ->capture_default_str();
  auto* median = command->add_option("--median", p.MedianSize, "Median filter size (1 = off; 1 by default with sgm)")
                     ->check(CLI::Range(1, 100))
                     ->capture_default_str();
  auto* smooth = command->add_option("--smooth", p.SmoothSize, "Smooth filter size (1 = off; 1 by default with sgm)")
                     ->check(CLI::Range(1, 100))
                     ->capture_default_str();
  command->add_option("--zf", p.Zf, "Zf: focal length in pixels")
      ->check(FiniteNumber())
      ->check(CLI::Range(-1e102, 1e102))
      ->capture_default_str();
  command->add_option("--d", p.D, "d: offset added to every disparity")
      ->check(FiniteNumber())
      ->check(CLI::Range(-1e102, 1e102))
      ->capture_default_str();
  command
      ->add_option("--warp", options->Warp,
                   "How the rows are lined up: projective (fit image 2 onto image 1; d about 60), none (the "
                   "pair is already rectified; d = 0 for parallel views) or epipolar (rectify both from 8 or "
                   "more pairs; d near 0)")
      ->check(CLI::IsMember({"projective", "none", "epipolar"}))
      ->capture_default_str();
  command
      ->add_option("--matcher", options->Matcher,
                   "How the disparity is found: dp (the row-by-row dispersion map) or sgm (semi-global "
                   "matching)")
      ->check(CLI::IsMember({"dp", "sgm"}))
      ->capture_default_str();
  command->footer(
      "Warp: none when the photos were taken side by side and their rows already match, epipolar for a\n"
      "hand-held pair with 8+ good pairs, projective otherwise.  Matcher: sgm for sharp edges, dp as before.");
  command->add_flag("--no-crop", options->NoCrop, "Keep the whole warped image 2 instead of the auto crop");
  command->add_option("--save-warped", options->SaveWarped,
                      "Also write the warped pair as PREFIX1.png and PREFIX2.png");
  command->add_option("--save-disparity", options->SaveDisparity,
                      "Also write the filtered disparity map as a PFM file");
  command->add_flag("--quiet", options->Quiet, "No progress bar");
  AddMaxPixelsOption(*command);
  command->callback([options, median, smooth] {
    options->MedianGiven = median->count() > 0;
    options->SmoothGiven = smooth->count() > 0;
    RunReconstruct(*options);
  });
});

}  // namespace

}  // namespace sq::cli
