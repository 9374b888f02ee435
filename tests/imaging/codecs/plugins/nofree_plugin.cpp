// A library with a load function but no free function: the program must not keep it.
#include <cstdint>

#include "imaging/codecs/image_plugin_api.h"

extern "C" {
__attribute__((visibility("default"))) const char* LibGetLoadFilter(void) { return "No free (*.nof)|*.nof"; }
__attribute__((visibility("default"))) int32_t LibLoadImage(const char*, const char*, TImageContainer*) { return 0; }
}
