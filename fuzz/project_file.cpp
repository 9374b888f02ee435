// Feeds arbitrary bytes to the project file reader, then meshes what it read.
#include <cstddef>
#include <cstdint>

#include "base/exception.h"
#include "io/memory_stream.h"
#include "project/project_file.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  try {
    sq::TReadOnlyMemoryStream stream(data, size);
    sq::TProjectFile file;
    file.LoadFromStream(stream);
    // Hostile coordinates reach the triangulation too; a small count keeps it quick.
    if (file.Project.PointCount <= 64) file.Project.Triangulate();
    file.Project.RemovePointsOutside(1, 640, 480);
  } catch (const sq::Exception&) {
  }
  return 0;
}
