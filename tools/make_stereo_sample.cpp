// Renders the bundled sample: a textured synthetic scene (a back wall, a floor, two
// balls and a turned box) seen by two cameras, the second one a step to the right
// and slightly turned, as a hand-held second photograph would be.  Writes:
//
//   left.jpg, right.jpg      the two photographs (image 1 and image 2)
//   sample.kst               the project: both image names and the point pairs
//   sample_pairs.txt         the same pairs as text, for the command line
//   truth_disparity.pfm      the true disparity f B / Z of image 1 at every second
//                            pixel: value (i, j) belongs to pixel (2i, 2j)
//   truth.txt                focal length, baseline and the homography H of the
//                            turn: a pixel (x, y) of image 1 with disparity D shows
//                            the scene point that image 2 shows at H (x - D, y)
//
// Usage: make_stereo_sample OUTPUT_FOLDER
#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <optional>
#include <string>
#include <vector>

#include "base/exception.h"
#include "base/format.h"
#include "base/rounding.h"
#include "imaging/codecs/jpeg_loader.h"
#include "imaging/linear_bitmap.h"
#include "io/file_stream.h"
#include "project/point_pairs_file.h"
#include "project/project_file.h"

namespace {

constexpr int kWidth = 1024, kHeight = 768;
constexpr double kFocal = 869, kCx = (kWidth - 1) / 2.0, kCy = (kHeight - 1) / 2.0;
constexpr double kBaseline = 0.7;
constexpr double kPi = 3.14159265358979323846;

struct Vec {
  double x, y, z;
  Vec operator+(const Vec& o) const { return {x + o.x, y + o.y, z + o.z}; }
  Vec operator-(const Vec& o) const { return {x - o.x, y - o.y, z - o.z}; }
  Vec operator*(double s) const { return {x * s, y * s, z * s}; }
  double Dot(const Vec& o) const { return x * o.x + y * o.y + z * o.z; }
  Vec Normalized() const { return *this * (1.0 / std::sqrt(Dot(*this))); }
};

using Mat = std::array<double, 9>;  // row by row

Vec Apply(const Mat& m, const Vec& v) {
  return {m[0] * v.x + m[1] * v.y + m[2] * v.z, m[3] * v.x + m[4] * v.y + m[5] * v.z,
          m[6] * v.x + m[7] * v.y + m[8] * v.z};
}

Mat Multiply(const Mat& a, const Mat& b) {
  Mat r{};
  for (int i = 0; i < 3; ++i)
    for (int j = 0; j < 3; ++j)
      for (int k = 0; k < 3; ++k) r[3 * i + j] += a[3 * i + k] * b[3 * k + j];
  return r;
}

Mat Transposed(const Mat& m) { return {m[0], m[3], m[6], m[1], m[4], m[7], m[2], m[5], m[8]}; }

Mat RotationY(double a) { return {std::cos(a), 0, std::sin(a), 0, 1, 0, -std::sin(a), 0, std::cos(a)}; }
Mat RotationX(double a) { return {1, 0, 0, 0, std::cos(a), -std::sin(a), 0, std::sin(a), std::cos(a)}; }
Mat RotationZ(double a) { return {std::cos(a), -std::sin(a), 0, std::sin(a), std::cos(a), 0, 0, 0, 1}; }

// ---- Procedural texture: value noise summed over octaves -------------------------

double Hash(int x, int y, int seed) {
  uint32_t h = static_cast<uint32_t>(x) * 374761393u + static_cast<uint32_t>(y) * 668265263u +
               static_cast<uint32_t>(seed) * 2246822519u;
  h = (h ^ (h >> 13)) * 1274126177u;
  return ((h ^ (h >> 16)) & 0xFFFFFF) / double(0xFFFFFF);
}

double ValueNoise(double x, double y, int seed) {
  const double fx = std::floor(x), fy = std::floor(y);
  const int ix = static_cast<int>(fx), iy = static_cast<int>(fy);
  double tx = x - fx, ty = y - fy;
  tx = tx * tx * (3 - 2 * tx);
  ty = ty * ty * (3 - 2 * ty);
  const double a = Hash(ix, iy, seed), b = Hash(ix + 1, iy, seed), c = Hash(ix, iy + 1, seed),
               d = Hash(ix + 1, iy + 1, seed);
  return (a * (1 - tx) + b * tx) * (1 - ty) + (c * (1 - tx) + d * tx) * ty;
}

double Fbm(double x, double y, int seed) {
  double sum = 0, amplitude = 0.5;
  for (int octave = 0; octave < 4; ++octave) {
    sum += amplitude * ValueNoise(x, y, seed + octave);
    x *= 2.03;
    y *= 2.03;
    amplitude *= 0.5;
  }
  return sum / 0.9375;
}

Vec Hue(double h) {
  h = h - std::floor(h);
  return {0.5 + 0.5 * std::cos(2 * kPi * h), 0.5 + 0.5 * std::cos(2 * kPi * (h - 1 / 3.0)),
          0.5 + 0.5 * std::cos(2 * kPi * (h - 2 / 3.0))};
}

// Surface colour (red, green, blue in 0..1) at surface coordinates (u, v).
Vec Texture(int material, double u, double v) {
  const double coarse = Fbm(u * 1.3, v * 1.3, 10 * material);
  const double fine = Fbm(u * 7.0, v * 7.0, 10 * material + 5);
  const double tint = Fbm(u * 0.4 + 31, v * 0.4, 10 * material + 7);
  Vec base;
  double pattern = 0;
  switch (material) {
    case 0: {  // wall: bricks in shifting colours
      const double row = std::floor(v / 0.35);
      const double brick = std::floor(u / 0.8 + 0.5 * row);
      const double mortarU = std::fabs(u / 0.8 + 0.5 * row - brick - 0.5), mortarV = std::fabs(v / 0.35 - row - 0.5);
      pattern = (mortarU > 0.46 || mortarV > 0.40) ? -0.45 : 0.25 * (Hash(int(brick), int(row), 3) - 0.5);
      base = Hue(0.02 + 0.12 * tint + 0.1 * Hash(int(brick), int(row), 4)) * 0.5 + Vec{0.45, 0.3, 0.25};
      break;
    }
    case 1: {  // floor: tiles
      const bool dark = (int(std::floor(u / 0.9)) + int(std::floor(v / 0.9))) & 1;
      pattern = dark ? -0.25 : 0.15;
      base = Hue(0.55 + 0.2 * tint) * 0.4 + Vec{0.35, 0.4, 0.4};
      break;
    }
    case 2:  // big ball: bands
      pattern = 0.2 * std::sin(v * 9.0 + 3 * coarse);
      base = Hue(0.3 + 0.3 * tint) * 0.7 + Vec{0.2, 0.25, 0.1};
      break;
    case 3:  // small ball: spots
      pattern = Fbm(u * 3, v * 3, 99) > 0.6 ? -0.35 : 0.1;
      base = Hue(0.8 + 0.2 * tint) * 0.6 + Vec{0.35, 0.2, 0.3};
      break;
    default:  // box: grain
      pattern = 0.15 * std::sin(u * 25 + 6 * coarse);
      base = Hue(0.1 + 0.08 * tint) * 0.5 + Vec{0.4, 0.28, 0.15};
      break;
  }
  const double light = std::clamp(0.55 + 0.45 * (coarse - 0.5) + 0.35 * (fine - 0.5) + pattern, 0.05, 1.2);
  return base * light;
}

// ---- Scene -----------------------------------------------------------------------

struct Hit {
  double t;
  Vec point;
  Vec normal;
  int material;
  double u, v;
};

struct Sphere {
  Vec centre;
  double radius;
  int material;
};

constexpr double kWallZ = 14.0, kFloorY = 2.2;
const Sphere kSpheres[] = {{{-1.4, kFloorY - 1.3, 8.0}, 1.3, 2}, {{0.55, kFloorY - 0.55, 6.2}, 0.55, 3}};
const Vec kBoxCentre{2.1, kFloorY - 1.2, 9.0}, kBoxHalf{0.8, 1.2, 0.8};
const double kBoxTurn = 35 * kPi / 180;

void Consider(std::optional<Hit>& best, const Hit& hit) {
  if (hit.t > 1e-6 && (!best || hit.t < best->t)) best = hit;
}

std::optional<Hit> Trace(const Vec& origin, const Vec& dir) {
  std::optional<Hit> best;
  if (dir.z > 0) {
    const double t = (kWallZ - origin.z) / dir.z;
    const Vec p = origin + dir * t;
    Consider(best, {t, p, {0, 0, -1}, 0, p.x, p.y});
  }
  if (dir.y > 0) {
    const double t = (kFloorY - origin.y) / dir.y;
    const Vec p = origin + dir * t;
    if (p.z < kWallZ) Consider(best, {t, p, {0, -1, 0}, 1, p.x, p.z});
  }
  for (const Sphere& s : kSpheres) {
    const Vec oc = origin - s.centre;
    const double b = oc.Dot(dir), a = dir.Dot(dir), c = oc.Dot(oc) - s.radius * s.radius;
    const double disc = b * b - a * c;
    if (disc < 0) continue;
    const double t = (-b - std::sqrt(disc)) / a;
    const Vec p = origin + dir * t;
    const Vec n = (p - s.centre) * (1 / s.radius);
    Consider(best,
             {t, p, n, s.material, std::atan2(n.x, -n.z) * s.radius, std::asin(std::clamp(n.y, -1.0, 1.0)) * s.radius});
  }
  {
    // The box in its own frame: turned about the vertical axis.
    const Mat toLocal = RotationY(-kBoxTurn), toWorld = RotationY(kBoxTurn);
    const Vec o = Apply(toLocal, origin - kBoxCentre), d = Apply(toLocal, dir);
    double t0 = -1e300, t1 = 1e300;
    int axis0 = 0;
    const double os[3] = {o.x, o.y, o.z}, ds[3] = {d.x, d.y, d.z}, hs[3] = {kBoxHalf.x, kBoxHalf.y, kBoxHalf.z};
    bool miss = false;
    for (int i = 0; i < 3 && !miss; ++i) {
      if (std::fabs(ds[i]) < 1e-12) {
        miss = std::fabs(os[i]) > hs[i];
        continue;
      }
      double a = (-hs[i] - os[i]) / ds[i], b = (hs[i] - os[i]) / ds[i];
      if (a > b) std::swap(a, b);
      if (a > t0) t0 = a, axis0 = i;
      t1 = std::min(t1, b);
      miss = t0 > t1;
    }
    if (!miss && t0 > 0) {
      const Vec pl = o + d * t0;
      const double pls[3] = {pl.x, pl.y, pl.z};
      Vec nl{0, 0, 0};
      (axis0 == 0 ? nl.x : axis0 == 1 ? nl.y : nl.z) = ds[axis0] > 0 ? -1 : 1;
      const double u = pls[(axis0 + 1) % 3], v = pls[(axis0 + 2) % 3];
      Consider(best, {t0, origin + dir * t0, Apply(toWorld, nl), 4, u + 3 * axis0, v});
    }
  }
  return best;
}

Vec Shade(const Hit& hit) {
  const Vec towardsLight = Vec{-0.45, -0.8, -0.4}.Normalized();
  const double lambert = std::max(0.0, hit.normal.Dot(towardsLight));
  return Texture(hit.material, hit.u, hit.v) * (0.4 + 0.6 * lambert);
}

struct Camera {
  Vec origin;
  Mat rotation;  // camera axes to world
  Vec Ray(double x, double y) const { return Apply(rotation, Vec{(x - kCx) / kFocal, (y - kCy) / kFocal, 1}); }
};

// 3 x 3 samples per pixel, so that edges are smooth as in a photograph.
sq::TLinearBitmap Render(const Camera& camera) {
  sq::TLinearBitmap image(kWidth, kHeight, sq::pf24bit);
  for (int y = 0; y < kHeight; ++y) {
    uint8_t* out = image.ScanLine(y);
    for (int x = 0; x < kWidth; ++x, out += 3) {
      Vec sum{0, 0, 0};
      for (int sy = -1; sy <= 1; ++sy)
        for (int sx = -1; sx <= 1; ++sx) {
          const auto hit = Trace(camera.origin, camera.Ray(x + sx / 3.0, y + sy / 3.0));
          if (hit) sum = sum + Shade(*hit);
        }
      sum = sum * (255.0 / 9);
      out[0] = sq::RoundToByte(sum.z);
      out[1] = sq::RoundToByte(sum.y);
      out[2] = sq::RoundToByte(sum.x);
    }
  }
  return image;
}

const Camera kCamera1{{0, 0, 0}, {1, 0, 0, 0, 1, 0, 0, 0, 1}};
const Camera kCamera2{
    {kBaseline, 0, 0},
    Multiply(RotationZ(0.9 * kPi / 180), Multiply(RotationX(0.6 * kPi / 180), RotationY(-1.2 * kPi / 180)))};

// Depth (camera-1 z) of the scene point at pixel (x, y) of image 1.
double Depth1(double x, double y) { return Trace(kCamera1.origin, kCamera1.Ray(x, y))->t; }

double Disparity(double x, double y) { return kFocal * kBaseline / Depth1(x, y); }

// H = K R^T K^-1: image-2 position of the image-1 position shifted by the disparity.
Mat Homography() {
  const Mat k = {kFocal, 0, kCx, 0, kFocal, kCy, 0, 0, 1};
  const Mat kInverse = {1 / kFocal, 0, -kCx / kFocal, 0, 1 / kFocal, -kCy / kFocal, 0, 0, 1};
  return Multiply(k, Multiply(Transposed(kCamera2.rotation), kInverse));
}

std::array<double, 2> ToImage2(const Mat& h, double x, double y) {
  const Vec p = Apply(h, Vec{x, y, 1});
  return {p.x / p.z, p.y / p.z};
}

// A point both cameras see, away from depth edges, so that a user could click it.
bool GoodPoint(const Mat& h, int x, int y) {
  const double d = Disparity(x, y);
  for (int dy = -4; dy <= 4; dy += 4)
    for (int dx = -4; dx <= 4; dx += 4)
      if (std::fabs(Disparity(x + dx, y + dy) - d) > 2.5) return false;
  const auto p2 = ToImage2(h, x - d, y);
  if (p2[0] < 5 || p2[1] < 5 || p2[0] > kWidth - 6 || p2[1] > kHeight - 6) return false;
  const Vec world = kCamera1.Ray(x, y) * Depth1(x, y);
  const auto seen = Trace(kCamera2.origin, kCamera2.Ray(p2[0], p2[1]));
  return seen && (seen->point - world).Dot(seen->point - world) < 1e-4;
}

void WriteText(const std::string& fileName, const std::string& text) {
  sq::TFileStream file(fileName, sq::TFileStream::fmCreateWrite);
  file.WriteString(text);
  file.Close();
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: make_stereo_sample OUTPUT_FOLDER\n");
    return 2;
  }
  const std::string folder = std::string(argv[1]) + "/";
  try {
    // The photographs.
    sq::JPEGLoader().Quality = 90;
    Render(kCamera1).SaveToFile(folder + "left.jpg");
    Render(kCamera2).SaveToFile(folder + "right.jpg");

    // The true disparity at every second pixel, rows bottom to top as PFM has them.
    const int tw = kWidth / 2, th = kHeight / 2;
    sq::TFileStream pfm(folder + "truth_disparity.pfm", sq::TFileStream::fmCreateWrite);
    pfm.WriteString("Pf\n" + std::to_string(tw) + " " + std::to_string(th) + "\n-1.0\n");
    for (int j = th - 1; j >= 0; --j)
      for (int i = 0; i < tw; ++i) pfm.WriteFloat(static_cast<float>(Disparity(2 * i, 2 * j)));
    pfm.Close();

    const Mat h = Homography();
    std::string truth = "# Ground truth of the sample pair (see tools/make_stereo_sample.cpp)\n";
    truth += sq::Format("focal %.17g\nbaseline %.17g\nhomography", kFocal, kBaseline);
    for (double v : h) truth += sq::Format(" %.17g", v);
    WriteText(folder + "truth.txt", truth + "\n");

    // Point pairs on a grid, each moved along its row to a spot a user could click.
    sq::TProjectFile project;
    project.Image1Path = "left.jpg";
    project.Image2Path = "right.jpg";
    std::vector<sq::PointPair> pairs;
    for (int row = 0; row < 4; ++row)
      for (int column = 0; column < 6; ++column) {
        const int y = 80 + row * 200;
        for (int nudge = 0; nudge < 80; nudge += 8) {
          const int x = 90 + column * 168 + nudge;
          if (!GoodPoint(h, x, y)) continue;
          const auto p2 = ToImage2(h, x - Disparity(x, y), y);
          pairs.push_back({x, y, sq::RoundInt(p2[0]), sq::RoundInt(p2[1])});
          break;
        }
      }
    if (pairs.size() < 15) throw sq::Exception("too few point pairs found");
    project.Project.PointCount = static_cast<int>(pairs.size());
    std::copy(pairs.begin(), pairs.end(), project.Project.Points.begin());
    project.SaveToFile(folder + "sample.kst");
    WriteText(folder + "sample_pairs.txt",
              "# x1 y1 x2 y2: left.jpg and right.jpg of this folder\n" + sq::FormatPointPairs(pairs));
    std::printf("%zu point pairs\n", pairs.size());
  } catch (const std::exception& e) {
    std::fprintf(stderr, "make_stereo_sample: %s\n", e.what());
    return 1;
  }
  return 0;
}
