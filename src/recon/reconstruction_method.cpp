#include "recon/reconstruction_method.h"

#include <array>

#include "base/exception.h"

namespace sq {

namespace {

constexpr std::array kWarpMethods = {TWarpMethod::Projective, TWarpMethod::None, TWarpMethod::Epipolar};
constexpr std::array kMatcherMethods = {TMatcherMethod::DynamicProgramming, TMatcherMethod::SemiGlobal};

}  // namespace

std::span<const TWarpMethod> WarpMethods() { return kWarpMethods; }
std::span<const TMatcherMethod> MatcherMethods() { return kMatcherMethods; }

const char* WarpMethodName(TWarpMethod method) {
  switch (method) {
    case TWarpMethod::None:
      return "none";
    case TWarpMethod::Epipolar:
      return "epipolar";
    default:
      return "projective";
  }
}

const char* MatcherMethodName(TMatcherMethod method) { return method == TMatcherMethod::SemiGlobal ? "sgm" : "dp"; }

const char* WarpMethodCaption(TWarpMethod method) {
  switch (method) {
    case TWarpMethod::None:
      return "None (already rectified)";
    case TWarpMethod::Epipolar:
      return "Epipolar rectification";
    default:
      return "Projective fit";
  }
}

const char* MatcherMethodCaption(TMatcherMethod method) {
  return method == TMatcherMethod::SemiGlobal ? "Semi-global matching" : "Dispersion map (row by row)";
}

const char* WarpMethodHint(TWarpMethod method) {
  switch (method) {
    case TWarpMethod::None:
      return "for a pair taken side by side with parallel views, whose rows already match; d = 0 suits";
    case TWarpMethod::Epipolar:
      return "for a hand-held pair with 8 or more good point pairs; keeps all parallax, so d near 0 suits";
    default:
      return "the classic fit; it removes part of the parallax, which d (60 by default) adds back";
  }
}

const char* MatcherMethodHint(TMatcherMethod method) {
  return method == TMatcherMethod::SemiGlobal
             ? "sharper edges and no row streaks; use it without the median and smooth filters"
             : "the classic row-by-row matching; Spread and Occlusion steer it, the filters smooth it";
}

TWarpMethod ParseWarpMethod(const std::string& name) {
  for (TWarpMethod method : kWarpMethods)
    if (name == WarpMethodName(method)) return method;
  throw Exception("Unknown warp \"" + name + "\"; use projective, none or epipolar");
}

TMatcherMethod ParseMatcherMethod(const std::string& name) {
  for (TMatcherMethod method : kMatcherMethods)
    if (name == MatcherMethodName(method)) return method;
  throw Exception("Unknown matcher \"" + name + "\"; use dp or sgm");
}

int SuggestedFilterSize(TMatcherMethod method) { return method == TMatcherMethod::SemiGlobal ? 1 : 11; }

}  // namespace sq
