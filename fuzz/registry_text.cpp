// Feeds arbitrary text to the settings file reader; whatever it keeps must come back
// unchanged through the writer.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "platform/registry.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace sq;
  TRegistryHive hive("/nonexistent-folder/fuzz.reg", "HKEY_CURRENT_USER");
  hive.FromText(std::string_view(reinterpret_cast<const char*>(data), size));
  const std::string text = hive.ToText();
  TRegistryHive again("/nonexistent-folder/fuzz.reg", "HKEY_CURRENT_USER");
  again.FromText(text);
  if (again.ToText() != text) __builtin_trap();
  return 0;
}
