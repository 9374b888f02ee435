// Feeds arbitrary bytes to the ASCII PLY model reader, then writes and reduces what
// was read.
#include <cstddef>
#include <cstdint>

#include "base/exception.h"
#include "io/memory_stream.h"
#include "model3d/melax_reduce.h"
#include "model3d/surface_color_model.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  try {
    sq::TSurfaceColorModel model;
    model.FileFormat = sq::ffPLY;
    sq::TReadOnlyMemoryStream in(data, size);
    model.LoadFromStream(in);
    if (model.VertexCount <= 4096 && model.TriangleCount <= 8192) {
      model.ComputeFaceNormals();
      model.ComputeVertexLight(sq::T3DPoint{0, 0, 1});
      sq::MelaxReduce(model, model.VertexCount / 2);
      sq::TMemoryStream out;
      model.FileFormat = sq::ffM3D;
      model.SaveToStream(out);
    }
  } catch (const sq::Exception&) {
  }
  return 0;
}
