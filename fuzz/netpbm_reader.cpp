// Feeds arbitrary bytes to the Netpbm plug-in's reader and what it returns through
// the program's container conversion: neither may read outside what they were given.
#include <cstddef>
#include <cstdint>

#include "base/exception.h"
#include "imaging/codecs/image_dll_loader.h"
#include "imaging/linear_bitmap.h"
#include "netpbm/netpbm_format.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace sq;
  TImageContainer container;
  if (netpbm::ReadNetpbm(data, size, container) != SQ_PLUGIN_OK) {
    if (container.Data != nullptr) __builtin_trap();
    return 0;
  }
  try {
    TLinearBitmap bitmap;
    ContainerToBitmap(container, bitmap);
    if (bitmap.Width != container.Width || bitmap.Height != container.Height) __builtin_trap();
  } catch (const Exception&) {
    __builtin_trap();  // the plug-in must only hand out containers the program takes
  }
  netpbm::FreeContainer(container);
  return 0;
}
