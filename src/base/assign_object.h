// Base of objects that can be copied into and out of one another by Assign/AssignTo.
#pragma once

#include <string>

#include "base/exception.h"

namespace sq {

class TAssignObject {
 public:
  virtual ~TAssignObject() = default;

  // Copies source into this object.  The base asks the source to do it, and the
  // source's AssignTo raises "Cannot assign ... to ..." when it does not know us.
  virtual void Assign(const TAssignObject& source) { source.AssignTo(*this); }
  virtual void AssignTo(TAssignObject& target) const {
    throw EConvertError("Cannot assign " + ClassName() + " to " + target.ClassName());
  }
  virtual std::string ClassName() const { return "TAssignObject"; }
};

}  // namespace sq
