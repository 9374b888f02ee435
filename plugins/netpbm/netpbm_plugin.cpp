// The Netpbm image plug-in: the exported side of netpbm_format.
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "netpbm_format.h"

namespace {

// Reads a whole file; false when it cannot be opened or read.
bool ReadFile(const char* fileName, std::vector<uint8_t>& bytes) {
  std::FILE* file = std::fopen(fileName, "rb");
  if (file == nullptr) return false;
  uint8_t buffer[65536];
  size_t got;
  while ((got = std::fread(buffer, 1, sizeof buffer, file)) > 0) bytes.insert(bytes.end(), buffer, buffer + got);
  const bool ok = !std::ferror(file);
  std::fclose(file);
  return ok;
}

}  // namespace

extern "C" {

__attribute__((visibility("default"))) const char* LibGetLoadFilter(void) {
  return "Netpbm image (*.pbm,*.pgm,*.ppm,*.pnm,*.pam)|*.pbm;*.pgm;*.ppm;*.pnm;*.pam";
}

__attribute__((visibility("default"))) const char* LibGetSaveFilter(void) {
  return "Portable graymap (*.pgm)|*.pgm|Portable pixmap (*.ppm)|*.ppm";
}

__attribute__((visibility("default"))) int32_t LibLoadImage(const char* fileName, const char* /*extension*/,
                                                            TImageContainer* container) {
  if (fileName == nullptr || container == nullptr) return SQ_PLUGIN_BAD_DATA;
  std::vector<uint8_t> bytes;
  if (!ReadFile(fileName, bytes)) return SQ_PLUGIN_OPEN_FAILED;
  try {
    return sq::netpbm::ReadNetpbm(bytes.data(), bytes.size(), *container);
  } catch (...) {  // out of memory must not cross into the program
    return SQ_PLUGIN_BAD_DATA;
  }
}

__attribute__((visibility("default"))) int32_t LibSaveImage(const char* fileName, const char* extension,
                                                            TImageContainer* container) {
  if (fileName == nullptr || extension == nullptr || container == nullptr) return SQ_PLUGIN_BAD_DATA;
  std::vector<uint8_t> bytes;
  try {
    const int code = sq::netpbm::WriteNetpbm(*container, std::strcmp(extension, "PGM") != 0, bytes);
    if (code != SQ_PLUGIN_OK) return code;
  } catch (...) {
    return SQ_PLUGIN_BAD_DATA;
  }
  std::FILE* file = std::fopen(fileName, "wb");
  if (file == nullptr) return SQ_PLUGIN_OPEN_FAILED;
  const bool written = std::fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size();
  if (std::fclose(file) != 0 || !written) return SQ_PLUGIN_CLOSE_FAILED;
  return SQ_PLUGIN_OK;
}

__attribute__((visibility("default"))) int32_t LibFreeImage(TImageContainer* container) {
  if (container != nullptr) sq::netpbm::FreeContainer(*container);
  return SQ_PLUGIN_OK;
}

}  // extern "C"
