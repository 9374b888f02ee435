#include "io/stream_class.h"

#include "base/exception.h"
#include "io/buffered_stream.h"
#include "io/file_stream.h"

namespace sq {

void TStreamClass::SaveToStream(TBaseStream&) { throw Exception(ClassName() + ".SaveToStream not implemented"); }

void TStreamClass::LoadFromStream(TBaseStream&) { throw Exception(ClassName() + ".LoadFromStream not implemented"); }

void TStreamClass::SaveToFile(const std::string& fileName) {
  TAtomicFileSave save(fileName);
  {
    TBufferedStream buffered(save.Stream());
    SaveToStream(buffered);
    buffered.Flush();
  }
  save.Commit();
}

void TStreamClass::LoadFromFile(const std::string& fileName) {
  TFileStream file(fileName, TFileStream::fmOpenRead);
  TBufferedStream buffered(file);
  LoadFromStream(buffered);
}

}  // namespace sq
