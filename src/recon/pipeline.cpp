#include "recon/pipeline.h"

#include <algorithm>
#include <exception>
#include <future>
#include <span>
#include <system_error>
#include <vector>

#include "base/exception.h"
#include "recon/disparity_filters.h"
#include "recon/dispersion_map.h"
#include "recon/epipolar_warp.h"
#include "recon/surface_builder.h"
#include "recon/warp_fit.h"

namespace sq {

const char* const kStageFit = "Fitting the warp";
const char* const kStageWarp = "Warping image 2";
const char* const kStageDispersion = "Dispersion map";
const char* const kStageMedian = "Median filter";
const char* const kStageSmooth = "Smooth filter";
const char* const kStageModel = "Building the model";

namespace {

// Every later step tells missing image data by the 24-bit background colour, so
// the images enter the workflow as 24-bit pixels whatever their format.
const TLinearBitmap& As24Bit(const TLinearBitmap& image, TLinearBitmap& converted) {
  if (image.PixelFormat == pf24bit) return image;
  converted.Assign(image);
  converted.SetPixelFormat(pf24bit);
  return converted;
}

}  // namespace

void LoadImagePair(const std::string& path1, const std::string& path2, TLinearBitmap& image1, TLinearBitmap& image2,
                   const TImageLoaded& loaded) {
  struct TLoad {
    TLoadReport Report;
    std::exception_ptr Failure;
  } loads[2];
  auto load = [](const std::string& path, TLinearBitmap& image, TLoad& result) {
    try {
      image.LoadFromFile(path, &result.Report);
    } catch (const Exception& e) {
      result.Failure = std::make_exception_ptr(Exception(path + ": " + e.what()));
    } catch (...) {
      result.Failure = std::current_exception();
    }
  };
  std::future<void> second;
  try {
    second = std::async(std::launch::async, load, std::cref(path2), std::ref(image2), std::ref(loads[1]));
  } catch (const std::system_error&) {
    load(path2, image2, loads[1]);  // no thread to be had
  }
  load(path1, image1, loads[0]);
  if (second.valid()) second.get();
  for (int i = 0; i < 2; ++i) {
    if (loads[i].Failure) std::rethrow_exception(loads[i].Failure);
    if (loaded) loaded(i + 1, loads[i].Report);
  }
}

TReconstructionPipeline::TReconstructionPipeline(const TLinearBitmap& image1, const TLinearBitmap& image2,
                                                 const CorrespondenceProject& project)
    : image1_(image1), image2_(image2), project_(project) {}

TReconstructionPipeline::~TReconstructionPipeline() = default;

void TReconstructionPipeline::Stage(const char* name) {
  if (stageHandler_) stageHandler_(name);
}

void TReconstructionPipeline::Warp() {
  if (!image1_.Present || !image2_.Present) throw Exception("The reconstruction needs two images");
  const size_t count = static_cast<size_t>(std::clamp<int32_t>(project_.PointCount, 0, kMaxPointPairs));
  const std::span<const PointPair> pairs(project_.Points.data(), std::min(count, project_.Points.size()));
  if (Params.Warp != TWarpMethod::Projective) return WarpWithoutFit(pairs);

  // Step 1: the transform that brings image 2 onto image 1.
  Stage(kStageFit);
  const TWarpFit fit = FitWarpTransform(pairs, image2_.Width, image2_.Height);

  // Step 2: resample image 2 through it.
  Stage(kStageWarp);
  TLinearBitmap converted1, converted2;
  const TLinearBitmap& source1 = As24Bit(image1_, converted1);
  const TLinearBitmap& source2 = As24Bit(image2_, converted2);
  TLinearBitmap warped;
  TIntPoint origin;
  WarpBitmap(source2, warped, fit.Transform, origin, kBackgroundColor, Params.AutoCrop);

  // Step 3: crop both to the area they share; only now replace the old results.
  TLinearBitmap result1, result2;
  const TCommonArea area = CropToCommonArea(source1, warped, origin, kBackgroundColor, result1, result2);
  warped1_.TakeOver(result1);
  warped2_.TakeOver(result2);
  transform_ = fit.Transform;
  transform1_ = kIdentityTransform;
  cost_ = fit.Cost;
  area_ = area;
}

void TReconstructionPipeline::WarpWithoutFit(std::span<const PointPair> pairs) {
  TLinearBitmap converted1, converted2;
  const TLinearBitmap& source1 = As24Bit(image1_, converted1);
  const TLinearBitmap& source2 = As24Bit(image2_, converted2);
  TLinearBitmap result1, result2;
  if (Params.Warp == TWarpMethod::Epipolar) {
    Stage(kStageFit);
    const TEpipolarWarp warp =
        EpipolarWarp(source1, source2, pairs, kBackgroundColor, Params.AutoCrop, result1, result2);
    transform1_ = warp.Transform1;
    transform_ = warp.Transform2;
    cost_ = warp.Cost;
    area_ = warp.Area;
  } else {
    // Already rectified: both as they are, cut to the size they share.
    Stage(kStageWarp);
    TLinearBitmap copy2(source2);
    area_ = CropToCommonArea(source1, copy2, TIntPoint{}, kBackgroundColor, result1, result2);
    transform1_ = transform_ = kIdentityTransform;
    cost_ = 0;
    for (const PointPair& p : pairs) cost_ += double(p.y1 - p.y2) * (p.y1 - p.y2);
  }
  warped1_.TakeOver(result1);
  warped2_.TakeOver(result2);
}

// Disparities of the pairs in the frame of the results; pairs that map to infinity
// tell nothing.
TDisparityRange TReconstructionPipeline::PairDisparityRange() const {
  const size_t count = static_cast<size_t>(std::clamp<int32_t>(project_.PointCount, 0, kMaxPointPairs));
  std::vector<double> disparities;
  for (size_t i = 0; i < std::min(count, project_.Points.size()); ++i) {
    const PointPair& p = project_.Points[i];
    try {
      disparities.push_back(TransformPoint(transform1_, p.x1, p.y1).X - TransformPoint(transform_, p.x2, p.y2).X);
    } catch (const EMathError&) {
    }
  }
  return DisparityRangeOfPairs(disparities, warped1_.Width);
}

void TReconstructionPipeline::ComputeDispersionMap() {
  if (!HasWarp()) Warp();
  Stage(kStageDispersion);
  TFloatMap computed;
  if (Params.Matcher == TMatcherMethod::SemiGlobal)
    ComputeSemiGlobalMap(warped1_, warped2_, computed, kBackgroundColor, PairDisparityRange());
  else
    sq::ComputeDispersionMap(warped1_, warped2_, computed, kBackgroundColor, Params.Spread, Params.Occlusion);
  // The filters write a new map anyway: until the first, the filtered map is the
  // raw one, and no copy is made.
  rawMap_.TakeOver(computed);
  map_.Dispose();
  mapIsRaw_ = true;
  mapPresent_ = true;
  filterPasses_ = 0;
}

void TReconstructionPipeline::ApplyFilters() {
  if (!HasMap()) ComputeDispersionMap();
  if (Params.MedianSize > 1) {
    Stage(kStageMedian);
    MedianFilterMap(Map(), map_, Params.MedianSize);
    mapIsRaw_ = false;
  }
  if (Params.SmoothSize > 1) {
    Stage(kStageSmooth);
    SmoothFilterMap(Map(), map_, Params.SmoothSize);
    mapIsRaw_ = false;
  }
  ++filterPasses_;
}

void TReconstructionPipeline::BuildModel() {
  if (!HasMap()) ApplyFilters();
  Stage(kStageModel);
  if (!model_) model_ = std::make_unique<TSurfaceColorModel>();
  try {
    BuildSurfaceModel(Map(), warped1_, warped2_, kBackgroundColor, *model_, Params.D, Params.Zf);
  } catch (const EZeroDivide& e) {
    throw EMathError(std::string(e.what()) + ".\rTry increasing d");
  }
}

void TReconstructionPipeline::Reset() {
  map_.Dispose();
  rawMap_.Dispose();
  mapIsRaw_ = false;
  mapPresent_ = false;
  filterPasses_ = 0;
}

bool TReconstructionPipeline::HasMap() const {
  return mapPresent_ && Map().Width == warped1_.Width && Map().Height == warped1_.Height;
}

std::string TReconstructionPipeline::PointErrorText() const { return sq::PointErrorText(cost_); }

}  // namespace sq
