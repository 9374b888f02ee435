// Feeds arbitrary bytes to the M3D model reader, then runs the operations a loaded
// model meets next (merging, reduction, both writers) on what was read.
#include <cstddef>
#include <cstdint>

#include "base/exception.h"
#include "io/memory_stream.h"
#include "model3d/melax_reduce.h"
#include "model3d/texture_model.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  try {
    sq::TTextureModel model;
    model.FileFormat = sq::ffM3D;
    sq::TReadOnlyMemoryStream in(data, size);
    model.LoadFromStream(in);
    if (model.VertexCount <= 4096 && model.TriangleCount <= 8192) {
      sq::TMemoryStream out;
      model.FileFormat = sq::ffPLY;
      model.SaveToStream(out);
      model.RemoveDuplicatePoints();
      sq::MelaxReduce(model, model.VertexCount / 2);
      model.FileFormat = sq::ffM3D;
      model.SaveToStream(out);
    }
  } catch (const sq::Exception&) {
  }
  return 0;
}
