// The persistence base of the model classes and the float map: an object that saves
// itself to and loads itself from a stream, and through that from a file.
#pragma once

#include <string>

#include "base/assign_object.h"

namespace sq {

class TBaseStream;

class TStreamClass : public TAssignObject {
 public:
  std::string ClassName() const override { return "TStreamClass"; }

  // The base raises ClassName() + ".SaveToStream not implemented".
  virtual void SaveToStream(TBaseStream& stream);
  // The base raises ClassName() + ".LoadFromStream not implemented".
  virtual void LoadFromStream(TBaseStream& stream);
  // Writes through a buffered stream into a temporary file beside fileName and
  // renames it over fileName, so a failed save leaves the old file as it was.
  virtual void SaveToFile(const std::string& fileName);
  // Reads through a buffered stream.
  virtual void LoadFromFile(const std::string& fileName);
};

}  // namespace sq
