// stereoquill-cli project create: writes a correspondence project file.
#include <climits>
#include <filesystem>
#include <memory>
#include <string>

#include "base/exception.h"
#include "base/format.h"
#include "cli/command.h"
#include "project/point_pairs_file.h"
#include "project/project_file.h"

namespace sq::cli {

namespace {

struct TCreateOptions {
  std::string Output;
  std::string Image1;
  std::string Image2;
  std::string Points;
  int32_t Frames = 25;
  int32_t Animation = 0;
  int HighPrecision = 1;
  int Antialiasing = 0;
};

// A relative image path as given (from the current folder) turned relative to the
// project's folder, so the project finds its images wherever it moves with them.
std::string PathFromProject(const std::string& image, const std::string& project) {
  namespace fs = std::filesystem;
  if (image.empty() || fs::path(image).is_absolute()) return image;
  const fs::path folder = fs::absolute(fs::path(project)).parent_path();
  return fs::absolute(image).lexically_normal().lexically_relative(folder.lexically_normal()).generic_string();
}

void CreateProject(const TCreateOptions& options) {
  CheckOutputFolder(options.Output);
  TProjectFile file;
  file.Image1Path = PathFromProject(options.Image1, options.Output);
  file.Image2Path = PathFromProject(options.Image2, options.Output);
  CorrespondenceProject& project = file.Project;
  if (!options.Points.empty()) {
    const std::vector<PointPair> pairs = ReadPointPairsFile(options.Points);
    std::copy(pairs.begin(), pairs.end(), project.Points.begin());
    project.PointCount = static_cast<int32_t>(pairs.size());
  }
  project.FrameCount = options.Frames;
  project.AnimationType = options.Animation;
  project.HighPrecisionRender = static_cast<uint8_t>(options.HighPrecision);
  project.Antialiasing = static_cast<uint8_t>(options.Antialiasing);
  file.SaveToFile(options.Output);
}

void SetupProjectCommand(CLI::App& app) {
  auto* project = app.add_subcommand("project", "Work with correspondence project files (.kst)");
  project->require_subcommand(1);
  auto* create = project->add_subcommand("create", "Write a project file from two image paths and point pairs");
  auto options = std::make_shared<TCreateOptions>();
  create->add_option("OUT", options->Output, "Project file to write (.kst)")->required();
  create->add_option("--image1", options->Image1,
                     "Path of image 1; a relative path is stored relative to the project file");
  create->add_option("--image2", options->Image2,
                     "Path of image 2; a relative path is stored relative to the project file");
  create->add_option("--points", options->Points,
                     "Text file of point pairs, one \"x1 y1 x2 y2\" per line, '#' starts a comment");
  create->add_option("--frames", options->Frames, "Animation frame count (default 25)")->check(CLI::Range(0, INT_MAX));
  create->add_option("--animation", options->Animation, "Animation type 0..3 (default 0)")->check(CLI::Range(0, 3));
  create->add_option("--highprecision", options->HighPrecision, "High-precision rendering 0 or 1 (default 1)")
      ->check(CLI::Range(0, 1));
  create->add_option("--antialiasing", options->Antialiasing, "Antialiasing 0 or 1 (default 0)")
      ->check(CLI::Range(0, 1));
  create->callback([options] { CreateProject(*options); });
}

const bool registered = RegisterCommand(SetupProjectCommand);

}  // namespace

}  // namespace sq::cli
