// Scenario files and .idt tables with arbitrary text: either they load or
// they are refused with a ScenarioError, never anything else.
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include "tests/fuzz/fuzz_support.h"
#include "tools/vrinsim/idt_package.h"
#include "tools/vrinsim/scenario.h"

namespace {

namespace fs = std::filesystem;
std::string g_folder;

void Write(const fs::path& path, const std::string& text) { std::ofstream(path, std::ios::binary) << text; }

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  char pattern[] = "/tmp/vrinsim-fuzz-XXXXXX";
  if (mkdtemp(pattern) == nullptr) std::abort();
  g_folder = pattern;
  fs::create_directories(fs::path(g_folder) / "tables");
  // Files a scenario may name.
  Write(fs::path(g_folder) / "machine.reg", "Windows Registry Editor Version 5.00\r\n");
  Write(fs::path(g_folder) / "package.msi", "");
  std::atexit([] { fs::remove_all(g_folder); });
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::vector<std::string> parts = vrinfuzz::Split(data, size, 2);
  Write(fs::path(g_folder) / "scenario.txt", parts[0]);
  Write(fs::path(g_folder) / "tables" / "Table.idt", parts[1]);
  try {
    vrinsim::LoadScenario(g_folder);
  } catch (const vrinsim::ScenarioError&) {
  }
  try {
    vrinsim::IdtTablesSql((fs::path(g_folder) / "tables").string());
  } catch (const vrinsim::ScenarioError&) {
  }
  return 0;
}
