// The simulated registry's .reg import with arbitrary text; what imports
// must export, and the export must import again.
#include <cstdint>
#include <string>

#include "host/registry.h"
#include "tests/fuzz/fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  host::Registry registry;
  try {
    registry.Import(std::string(reinterpret_cast<const char*>(data), size));
  } catch (const host::RegFileError&) {
    return 0;
  }
  std::string exported = registry.Export();
  host::Registry again;
  again.Import(exported);  // a RegFileError escaping here is a finding
  return 0;
}
