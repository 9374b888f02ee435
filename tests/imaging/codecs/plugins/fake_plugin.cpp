// A plug-in that returns whatever container its input file describes, so tests can
// hand the program hostile records.  Input file: "ERR n" makes LibLoadImage return n;
// otherwise four little-endian int32 (Width, Height, BytesPerLine, Options), an int32
// palette flag, then the data bytes.  LibSaveImage writes the same layout back, and
// an extension "FAIL" makes it return 9.  FakeFreeCount counts LibFreeImage calls.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "imaging/codecs/image_plugin_api.h"

extern "C" {

__attribute__((visibility("default"))) int FakeFreeCount = 0;

__attribute__((visibility("default"))) const char* LibGetLoadFilter(void) { return "Fake image (*.fak)|*.fak"; }
__attribute__((visibility("default"))) const char* LibGetSaveFilter(void) {
  return "Fake image (*.fak)|*.fak|Failing (*.fail)|*.fail";
}

__attribute__((visibility("default"))) int32_t LibLoadImage(const char* fileName, const char*, TImageContainer* c) {
  std::FILE* f = std::fopen(fileName, "rb");
  if (!f) return SQ_PLUGIN_OPEN_FAILED;
  std::vector<uint8_t> bytes;
  int ch;
  while ((ch = std::fgetc(f)) != EOF) bytes.push_back(static_cast<uint8_t>(ch));
  std::fclose(f);
  if (bytes.size() >= 4 && std::memcmp(bytes.data(), "ERR ", 4) == 0)
    return std::atoi(reinterpret_cast<const char*>(bytes.data()) + 4);
  if (bytes.size() < 20) return SQ_PLUGIN_BAD_DATA;
  int32_t fields[5];
  std::memcpy(fields, bytes.data(), sizeof fields);
  c->Width = fields[0];
  c->Height = fields[1];
  c->BytesPerLine = fields[2];
  c->Options = fields[3];
  const size_t size = bytes.size() - 20;
  c->Data = std::calloc(size + 16, 1);
  std::memcpy(c->Data, bytes.data() + 20, size);
  static uint8_t palette[768];
  for (int i = 0; i < 256; ++i)
    palette[3 * i] = static_cast<uint8_t>(i), palette[3 * i + 1] = 0, palette[3 * i + 2] = 7;
  c->Palette = fields[4] ? palette : nullptr;
  return SQ_PLUGIN_OK;
}

__attribute__((visibility("default"))) int32_t LibSaveImage(const char* fileName, const char* extension,
                                                            TImageContainer* c) {
  if (std::strcmp(extension, "FAIL") == 0) return 9;
  std::FILE* f = std::fopen(fileName, "wb");
  if (!f) return SQ_PLUGIN_OPEN_FAILED;
  const int32_t fields[5] = {c->Width, c->Height, c->BytesPerLine, c->Options, c->Palette != nullptr};
  std::fwrite(fields, sizeof fields, 1, f);
  std::fwrite(c->Data, 1, static_cast<size_t>(c->BytesPerLine) * c->Height, f);
  return std::fclose(f) == 0 ? SQ_PLUGIN_OK : SQ_PLUGIN_CLOSE_FAILED;
}

__attribute__((visibility("default"))) int32_t LibFreeImage(TImageContainer* c) {
  ++FakeFreeCount;
  std::free(c->Data);
  c->Data = nullptr;
  return SQ_PLUGIN_OK;
}
}
