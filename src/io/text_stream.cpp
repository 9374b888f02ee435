#include "io/text_stream.h"

#include "base/exception.h"

namespace sq {

void TTextStream::WriteText(const std::string& text) { Write(text.data(), text.size()); }

void TTextStream::WriteLine(const std::string& text) {
  Write(text.data(), text.size());
  Write(LineBreak.data(), LineBreak.size());
}

namespace {
thread_local int gFailedLine = 0;
}

TTextStream::~TTextStream() {
  if (std::uncaught_exceptions() > uncaught_ && lineNumber_ > 0) gFailedLine = lineNumber_;
}

int TTextStream::FailedLine() { return gFailedLine; }

void TTextStream::ResetFailedLine() { gFailedLine = 0; }

std::string TTextStream::ReadLine() {
  ++lineNumber_;
  int c = GetByte();
  if (c < 0) throw EInOutError("Read less than expected");
  std::string line;
  for (; c >= 0; c = GetByte()) {
    if (breakChar_ < 0 && (c == '\n' || c == '\r')) {
      breakChar_ = c;
      partnerChar_ = c == '\n' ? '\r' : '\n';
    }
    if (c == breakChar_) {
      // A partner right behind the break belongs to it; dropping it here keeps a
      // file that ends in CR LF from yielding an extra empty last line.
      while (PeekByte() == partnerChar_) GetByte();
      return line;
    }
    if (c != partnerChar_) line += static_cast<char>(c);
  }
  return line;
}

}  // namespace sq
