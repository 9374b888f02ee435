// Line-oriented text over a buffered stream.  Reading accepts CR LF, LF CR, LF and CR
// line ends alike: the first break met fixes the break character, and the other one
// is dropped wherever it occurs.
#pragma once

#include <exception>
#include <string>

#include "io/buffered_stream.h"

namespace sq {

class TTextStream : public TBufferedStream {
 public:
  using TBufferedStream::TBufferedStream;
  ~TTextStream() override;

  // Writes text without a line break.
  virtual void WriteText(const std::string& text);
  // Writes text followed by LineBreak.
  virtual void WriteLine(const std::string& text);
  // Reads one line without its break.  A last line without a break is returned
  // normally; nothing at all left raises "Read less than expected".
  virtual std::string ReadLine();

  // Written after each line; CR LF unless the owner wants otherwise.
  std::string LineBreak = "\r\n";

  // The number of the line read last (or being read), from 1.
  int LineNumber() const { return lineNumber_; }

  // The line a text stream on this thread was at when an error last left a reader
  // through it (0: none since the reset), so the caller's message can name it
  // without every reader catching and re-raising.
  static int FailedLine();
  static void ResetFailedLine();

 private:
  int lineNumber_ = 0;
  int uncaught_ = std::uncaught_exceptions();
  int breakChar_ = -1;    // fixed by the first CR or LF read
  int partnerChar_ = -1;  // the other of the two, dropped
};

}  // namespace sq
