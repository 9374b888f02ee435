// stereoquill-cli info: describes a project file or an image file.
#include <filesystem>
#include <iostream>
#include <memory>
#include <string>

#include "base/exception.h"
#include "base/format.h"
#include "cli/command.h"
#include "imaging/codecs/bitmap_loader.h"
#include "imaging/linear_bitmap.h"
#include "io/buffered_stream.h"
#include "io/file_stream.h"
#include "project/point_pairs_file.h"
#include "project/project_file.h"

namespace sq::cli {

namespace {

struct TInfoOptions {
  std::string File;
  bool Pairs = false;
  bool Quiet = false;
};

// The extension of the file-name part, upper-cased; folder names may contain dots.
std::string Extension(const std::string& fileName) {
  const size_t slash = fileName.rfind('/');
  const std::string name = slash == std::string::npos ? fileName : fileName.substr(slash + 1);
  const size_t dot = name.rfind('.');
  return dot == std::string::npos ? std::string() : UpperCase(name.substr(dot + 1));
}

void Line(const std::string& name, const std::string& value) {
  std::cout << name << ':';
  if (!value.empty()) std::cout << ' ' << value;
  std::cout << '\n';
}

// The pixel format as a user would name it.
const char* FormatInWords(const TLinearBitmap& bitmap) {
  switch (bitmap.PixelFormat) {
    case pf8bit:
      return bitmap.IsGrayScale() ? "8-bit grey" : "8-bit palette";
    case pf16bit:
      return "16-bit grey";
    case pf24bit:
      return "24-bit colour";
    case pf32bit:
      return "32-bit colour";
    default:
      return "unknown";
  }
}

void ProjectInfo(const TInfoOptions& options) {
  TProjectFile file;
  try {
    file.LoadFromFile(options.File);
  } catch (const Exception& e) {
    throw Exception(options.File + ": " + e.what());
  }
  // The paths as stored, beside where they lead from where the project is now.
  TProjectFile stored;
  {
    TFileStream stream(options.File, TFileStream::fmOpenRead);
    TBufferedStream buffered(stream);
    stored.LoadFromStream(buffered);
  }
  const CorrespondenceProject& project = file.Project;
  Line("image1", file.Image1Path);
  Line("image2", file.Image2Path);
  const std::string* storedPaths[] = {&stored.Image1Path, &stored.Image2Path};
  const std::string* resolvedPaths[] = {&file.Image1Path, &file.Image2Path};
  for (int i = 0; i < 2; ++i) {
    if (storedPaths[i]->empty()) continue;
    const std::string name = "image" + std::to_string(i + 1);
    Line(name + " stored as", *storedPaths[i]);
    Line(name + " found", std::filesystem::exists(*resolvedPaths[i]) ? "yes" : "no");
  }
  Line("points", std::to_string(project.PointCount));
  Line("frames", std::to_string(project.FrameCount));
  Line("animation", std::to_string(project.AnimationType));
  Line("highprecision", std::to_string(project.HighPrecisionRender));
  Line("antialiasing", std::to_string(project.Antialiasing));
  if (options.Pairs) std::cout << FormatPointPairs(project.ValidPoints());
}

void ImageInfo(const TInfoOptions& options) {
  if (options.Pairs) throw Exception("--pairs applies only to project files (.kst)");
  TLinearBitmap bitmap;
  TLoadReport report;
  {
    TProgressBar progress(options.Quiet);
    LoadImageFile(bitmap, options.File, &report);
  }
  Line("width", std::to_string(bitmap.Width));
  Line("height", std::to_string(bitmap.Height));
  Line("format", PixelFormatName(bitmap.PixelFormat));
  Line("pixel format", FormatInWords(bitmap));
  Line("grayscale", bitmap.IsGrayScale() ? "yes" : "no");
  if (!report.Orientation.empty()) Line("orientation", report.Orientation);
  if (report.Damaged) Line("damaged", "yes");
}

void SetupInfoCommand(CLI::App& app) {
  auto* info = app.add_subcommand("info", "Describe a project file (.kst) or an image file");
  auto options = std::make_shared<TInfoOptions>();
  info->add_option("FILE", options->File, "Project or image file")->required();
  info->add_flag("--pairs", options->Pairs, "Also list a project's point pairs as \"x1 y1 x2 y2\" lines");
  info->add_flag("--quiet", options->Quiet, "No progress bar while an image loads");
  AddMaxPixelsOption(*info);
  info->callback([options] {
    if (Extension(options->File) == "KST") {
      ProjectInfo(*options);
    } else {
      CheckInputName(options->File, TFileKind::Image, "info describes images and projects (.kst)");
      ImageInfo(*options);
    }
    std::cout.flush();
  });
}

const bool registered = RegisterCommand(SetupInfoCommand);

}  // namespace

}  // namespace sq::cli
