// The reconstruction workflow shared by the "Create 3D model" dialog and the command
// line: warp, dispersion map, filters, surface model.  Each step first runs the
// earlier steps that have not run yet, and every intermediate result is kept so the
// caller can show it or run a later step again with other settings.
#pragma once

#include <functional>
#include <memory>
#include <span>
#include <string>

#include "imaging/codecs/bitmap_loader.h"
#include "imaging/float_map.h"
#include "imaging/linear_bitmap.h"
#include "model3d/surface_color_model.h"
#include "project/correspondence_project.h"
#include "recon/point_transform.h"
#include "recon/reconstruction_method.h"
#include "recon/semi_global_map.h"
#include "recon/warp_bitmap.h"

namespace sq {

// The settings of the workflow, with the dialog's defaults.  The steps read them
// when they run; changing one invalidates nothing by itself.
struct TReconstructionParams {
  TWarpMethod Warp = TWarpMethod::Projective;
  TMatcherMethod Matcher = TMatcherMethod::DynamicProgramming;
  bool AutoCrop = true;
  double Spread = 8;     // colour difference scale, 0 ... 100
  double Occlusion = 6;  // price of an unmatched pixel, 0 ... 100
  int MedianSize = 11;   // 1 ... 100; 1 skips the median filter
  int SmoothSize = 11;   // 1 ... 100; 1 skips the smooth filter
  double Zf = 869;       // focal length in pixels
  double D = 60;         // offset added to every disparity
};

// Decodes the two image files of a pair side by side, and then tells as if they had
// been loaded one after the other: `loaded` (on the calling thread) receives image
// 1's report, or image 1's failure is raised as "PATH: message"; then the same for
// image 2.
using TImageLoaded = std::function<void(int image, const TLoadReport& report)>;
void LoadImagePair(const std::string& path1, const std::string& path2, TLinearBitmap& image1, TLinearBitmap& image2,
                   const TImageLoaded& loaded = {});

// Names of the stages reported to the stage handler.
extern const char* const kStageFit;
extern const char* const kStageWarp;
extern const char* const kStageDispersion;
extern const char* const kStageMedian;
extern const char* const kStageSmooth;
extern const char* const kStageModel;

class TReconstructionPipeline {
 public:
  // Called when a stage starts; its progress then comes through the process-wide
  // progress notification.
  using TStageHandler = std::function<void(const std::string& stage)>;

  // The images and the project are not owned and must outlive the pipeline; the
  // project's pairs are read again by every warp.
  TReconstructionPipeline(const TLinearBitmap& image1, const TLinearBitmap& image2,
                          const CorrespondenceProject& project);
  ~TReconstructionPipeline();
  TReconstructionPipeline(const TReconstructionPipeline&) = delete;
  TReconstructionPipeline& operator=(const TReconstructionPipeline&) = delete;

  TReconstructionParams Params;
  void SetStageHandler(TStageHandler handler) { stageHandler_ = std::move(handler); }

  // Fits the transform, warps image 2 and crops both images to their common area.
  // Replaces the warp results; an existing map stays.  On failure the earlier
  // results stay as they were.
  void Warp();
  // Computes the map from the warp results (warping first if needed), replacing
  // any earlier or filtered map.
  void ComputeDispersionMap();
  // Median and then smooth filter, each when its size is above 1, on the current
  // map (computing it first if needed).  Every call filters again.
  void ApplyFilters();
  // Builds the model from the current map, filtered or not (running the filters
  // first when there is no map).  A division by zero is reported as
  // "Floating point division by zero.\rTry increasing d".
  void BuildModel();
  // Discards the map; the warp results stay.
  void Reset();

  bool HasWarp() const { return warped1_.Present; }
  // A map exists and fits the current warp results.  A map from an earlier warp of
  // another size counts as none, so the next step computes it again.
  bool HasMap() const;
  bool HasModel() const { return model_ != nullptr; }

  // The warp results: image 1 and image 2 cropped to the common area.
  const TLinearBitmap& Warped1() const { return warped1_; }
  const TLinearBitmap& Warped2() const { return warped2_; }
  // The fitted transform (image-2 to image-1 coordinates) and its cost.  With the
  // epipolar warp: image 2 to the rectified frame, and the cost is the sum of the
  // pairs' squared row differences there (so also without a warp).
  const PointTransform& Transform() const { return transform_; }
  double Cost() const { return cost_; }
  // Image 1 to the frame of the results: the identity except for the epipolar warp.
  const PointTransform& Transform1() const { return transform1_; }
  // "Point error: " and the cost.
  std::string PointErrorText() const;
  // The common area in image-1 coordinates (the rectified frame for the epipolar
  // warp); pixel (x, y) of both results stands for position (x + Left, y + Top).
  const TCommonArea& CommonArea() const { return area_; }
  // The map as computed, and as filtered so far.
  const TFloatMap& RawMap() const { return rawMap_; }
  const TFloatMap& Map() const { return mapIsRaw_ ? rawMap_ : map_; }
  int FilterPasses() const { return filterPasses_; }
  // The model of the last build; null before the first.
  TSurfaceColorModel* Model() { return model_.get(); }
  const TSurfaceColorModel* Model() const { return model_.get(); }

 private:
  void Stage(const char* name);
  void WarpWithoutFit(std::span<const PointPair> pairs);
  TDisparityRange PairDisparityRange() const;

  const TLinearBitmap& image1_;
  const TLinearBitmap& image2_;
  const CorrespondenceProject& project_;
  TStageHandler stageHandler_;

  TLinearBitmap warped1_, warped2_;
  PointTransform transform_ = kIdentityTransform;
  PointTransform transform1_ = kIdentityTransform;
  double cost_ = 0;
  TCommonArea area_;
  TFloatMap rawMap_, map_;
  bool mapIsRaw_ = false;  // no filter has run since the map was computed
  bool mapPresent_ = false;
  int filterPasses_ = 0;
  std::unique_ptr<TSurfaceColorModel> model_;
};

}  // namespace sq
