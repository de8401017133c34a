// Registry files as a person may have edited them: a file the device reads
// it also writes back, and what it writes reads back to the same registry.
#include <cstdint>
#include <cstdlib>
#include <string>

#include "device/RegistryStore.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  cehost::RegistryStore store("");
  std::string error;
  if (!store.ParseText(std::string(reinterpret_cast<const char*>(data), size), &error)) return 0;
  const std::string written = store.Text();
  cehost::RegistryStore again("");
  if (!again.ParseText(written, &error) || again.Text() != written) std::abort();
  return 0;
}
