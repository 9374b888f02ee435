// The program's exception hierarchy.  Every error reaches the user as the exception's
// message text, so the texts are part of the program's behaviour.
#pragma once

#include <stdexcept>
#include <string>

namespace sq {

class Exception : public std::runtime_error {
 public:
  explicit Exception(const std::string& message) : std::runtime_error(message) {}
};

// Input/output failures: files, streams, damaged data.
class EInOutError : public Exception {
 public:
  using Exception::Exception;
};

// A file whose content does not follow its format.
class EBadFormat : public EInOutError {
 public:
  using EInOutError::EInOutError;
};

class ELinearBitmap : public Exception {
 public:
  using Exception::Exception;
};

class EUnsupportedFileFormat : public Exception {
 public:
  using Exception::Exception;
};

// "Cannot assign X to Y" when neither side of an assignment knows the other.
class EConvertError : public Exception {
 public:
  using Exception::Exception;
};

// An error in an arithmetic expression; Position is the 1-based text position.
class EExpressionError : public Exception {
 public:
  EExpressionError(const std::string& message, int position) : Exception(message), Position(position) {}
  int Position;
};

class ETWAINError : public Exception {
 public:
  using Exception::Exception;
};

// Floating-point faults.  IEEE arithmetic does not trap, so code that relies on
// them checks its results and raises these.
class EMathError : public Exception {
 public:
  using Exception::Exception;
};

class EZeroDivide : public EMathError {
 public:
  EZeroDivide() : EMathError("Floating point division by zero") {}
};

class EOverflow : public EMathError {
 public:
  EOverflow() : EMathError("Floating point overflow") {}
};

class EInvalidOp : public EMathError {
 public:
  EInvalidOp() : EMathError("Invalid floating point operation") {}
};

// A user's cancellation of a long operation; not an error to report.
class EAbort : public Exception {
 public:
  EAbort() : Exception("Operation aborted") {}
};

}  // namespace sq
