// The bundled sample pair and its reconstruction, as `stereoquill-cli reconstruct
// samples/sample.kst` builds it: the model the viewer and the simplify command
// meet first.  Built once per benchmark program.
#pragma once

#include <memory>
#include <string>

#include "imaging/linear_bitmap.h"
#include "model3d/surface_color_model.h"
#include "project/project_file.h"
#include "recon/pipeline.h"

namespace sq::bench {

struct TSamplePair {
  TSamplePair() {
    File.LoadFromFile(std::string(SQ_SOURCE_DIR) + "/samples/sample.kst");
    Image1.LoadFromFile(File.Image1Path);
    Image2.LoadFromFile(File.Image2Path);
  }
  TProjectFile File;
  TLinearBitmap Image1, Image2;
};

inline TSamplePair& SamplePair() {
  static TSamplePair sample;
  return sample;
}

inline TSurfaceColorModel& SampleReconstruction() {
  static std::unique_ptr<TSurfaceColorModel> model = [] {
    TReconstructionPipeline pipeline(SamplePair().Image1, SamplePair().Image2, SamplePair().File.Project);
    pipeline.BuildModel();
    auto copy = std::make_unique<TSurfaceColorModel>();
    const TSurfaceColorModel& built = *pipeline.Model();
    copy->SetVertexCount(built.VertexCount);
    copy->SetTriangleCount(built.TriangleCount);
    copy->Vertices = built.Vertices;
    copy->Colors = built.Colors;
    copy->Triangles = built.Triangles;
    return copy;
  }();
  return *model;
}

}  // namespace sq::bench
