// stereoquill-cli simplify: merges duplicate vertices and/or reduces a model's vertex
// count, writing the result as M3D, PLY or VRML (by the output's extension).
#include <iostream>
#include <memory>
#include <string>

#include "base/exception.h"
#include "cli/command.h"
#include "model3d/melax_reduce.h"
#include "model3d/model_files.h"

namespace sq::cli {

namespace {

struct TSimplifyOptions {
  std::string Input;
  std::string Output;
  int MaxVertices = 0;
  bool RemoveDuplicates = false;
  bool Quiet = false;
};

void Simplify(const TSimplifyOptions& options) {
  if (options.MaxVertices <= 0 && !options.RemoveDuplicates)
    throw Exception("Nothing to do: give --max-vertices N or --remove-duplicates");
  CheckInputName(options.Input, TFileKind::Model, "simplify reads models (.m3d or .ply)");
  CheckOutputName(options.Output, TFileKind::Model, "simplify writes models (.m3d, .ply or .wrl)");
  TProgressBar progress(options.Quiet);
  progress.Stage("Loading");
  std::unique_ptr<TSurfaceColorModel> model = LoadModelFile(options.Input);
  model->SetFileFormat(options.Output);
  const int vertices = model->VertexCount, triangles = model->TriangleCount;
  if (options.RemoveDuplicates) {
    progress.Stage("Removing duplicates");
    model->RemoveDuplicatePoints();
  }
  if (options.MaxVertices > 0) {
    progress.Stage("Reducing");
    MelaxReduce(*model, options.MaxVertices);
  }
  progress.Stage("Saving");
  model->SaveToFile(options.Output);
  if (!options.Quiet) {
    std::cout << "vertices: " << vertices << " -> " << model->VertexCount << '\n'
              << "triangles: " << triangles << " -> " << model->TriangleCount << '\n';
  }
}

void SetupSimplifyCommand(CLI::App& app) {
  auto* command = app.add_subcommand("simplify", "Reduce a 3D model (.m3d, .ply) and save it (.m3d, .ply, .wrl)");
  auto options = std::make_shared<TSimplifyOptions>();
  command->add_option("MODEL", options->Input, "Model file to read (.m3d or .ply)")->required();
  command->add_option("OUT", options->Output, "Model file to write (.m3d, .ply or .wrl)")->required();
  command->add_option("--max-vertices", options->MaxVertices, "Collapse edges until at most N vertices remain")
      ->check(CLI::Range(1, 2147483647));
  command->add_flag("--remove-duplicates", options->RemoveDuplicates,
                    "Merge vertices at the same place with the same colour");
  command->add_flag("--quiet", options->Quiet, "No progress bar and no summary");
  command->callback([options] { Simplify(*options); });
}

const bool registered = RegisterCommand(SetupSimplifyCommand);

}  // namespace

}  // namespace sq::cli
