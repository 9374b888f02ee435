// Line-oriented text over a buffered stream.  Reading accepts CR LF, LF CR, LF and CR
// line ends alike: the first break met fixes the break character, and the other one
// is dropped wherever it occurs.
#pragma once

#include <string>

#include "io/buffered_stream.h"

namespace sq {

class TTextStream : public TBufferedStream {
 public:
  using TBufferedStream::TBufferedStream;

  // Writes text without a line break.
  virtual void WriteText(const std::string& text);
  // Writes text followed by LineBreak.
  virtual void WriteLine(const std::string& text);
  // Reads one line without its break.  A last line without a break is returned
  // normally; nothing at all left raises "Read less than expected".
  virtual std::string ReadLine();

  // Written after each line; CR LF unless the owner wants otherwise.
  std::string LineBreak = "\r\n";

 private:
  int breakChar_ = -1;    // fixed by the first CR or LF read
  int partnerChar_ = -1;  // the other of the two, dropped
};

}  // namespace sq
