// The master setup's check and profile writer over arbitrary registry strings
// (product keys of both generations, Windows and BackOffice keys), an
// arbitrary skdwin.ini folder and an arbitrary configuration profile.
#include <cstdint>
#include <cstring>
#include <string>

#include "host/filesystem.h"
#include "host/library_heap.h"
#include "host/machine.h"
#include "host/registry.h"
#include "suite/master_setup.h"
#include "tests/fuzz/fuzz_support.h"
#include "tools/road/pe_builder.h"

namespace {

const char kProduct[] = "HKLM\\Software\\Orvannic\\Lumicor Velmora\\CurrentVersion";
const char kPrevious[] = "HKLM\\Software\\Orvannic\\OV VRIN\\CurrentVersion";
const char kWindows[] = "HKLM\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion";
const char kBackOffice[] = "HKLM\\SOFTWARE\\Microsoft\\BackOffice";
const char kProfile[] = "C:\\Temp\\velmora.icf";
const char kUntouched = '\x5A';

// The parts of the record the library must never write.
bool UntouchedPartsIntact(const ComponentInstallInfo& info) {
  const BYTE* p = reinterpret_cast<const BYTE*>(&info);
  for (size_t i = 0; i < offsetof(ComponentInstallInfo, bWriteInstallDir); ++i)
    if (p[i] != static_cast<BYTE>(kUntouched)) return false;
  for (size_t i = 0; i < sizeof(info.abUntouched); ++i)
    if (info.abUntouched[i] != static_cast<BYTE>(kUntouched)) return false;
  return true;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  vrinfuzz::PrepareSessions();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  // The first byte picks which keys exist and how the check runs.
  const uint8_t flags = data[0];
  std::vector<std::string> parts = vrinfuzz::Split(data + 1, size - 1, 9);
  host::ResetMachine();
  host::Registry& registry = host::LocalRegistry();
  const char* key = (flags & 1) != 0 ? kProduct : kPrevious;
  registry.SetString(key, "Version", parts[0]);
  registry.SetString(key, "ServicePath", parts[1]);
  registry.SetString(key, "GuiPath", parts[2]);
  registry.SetString(key, "ConfigurationPath", parts[3]);
  if ((flags & 2) != 0) registry.SetDword(key, "BuildNumber", static_cast<uint32_t>(size * 7));
  if ((flags & 4) != 0) registry.SetDword(key, "Products", 1);
  registry.SetString(kWindows, "ProgramFilesDir", parts[4]);
  registry.SetString(kBackOffice, "SuiteName", parts[5]);
  registry.SetString(kBackOffice, "Version", parts[6]);
  host::Files().AddDirectory("C:\\Temp");
  host::Files().AddDirectory("C:\\Apps");
  host::Files().AddFile("C:\\Apps\\skdnt.exe", vrintest::VersionedDll({8, 0, 2100, 0}));
  host::Files().AddFile("C:\\Apps\\skdwin.exe", vrintest::VersionedDll({7, 1, 0, 0}));
  if ((flags & 8) != 0) host::Files().AddFile("C:\\WINDOWS\\skdwin.ini", "[SKDInformation]\r\nDir=" + parts[7]);
  if ((flags & 16) != 0) host::Files().AddFile(kProfile, parts[8]);

  ComponentInstallInfo info;
  std::memset(&info, kUntouched, sizeof(info));
  info.bWriteInstallDir = (flags & 32) != 0 ? 1 : 0;
  info.bInstallDirFixed = 0;
  info.szInstallDir[0] = '\0';
  char message[512] = {};
  size_t blocks = host::LibraryAllocationCount();
  const int fullCheck = (flags & 64) != 0 ? 0 : 1;
  CheckInstallInfo(nullptr, 2, 3, message, 5, &info, kProfile, 8, fullCheck);
  CreateConfigProfile(nullptr, 2, 3, nullptr, 5, &info, kProfile, 8, 1);
  if (!UntouchedPartsIntact(info) || strnlen(message, sizeof(message)) == sizeof(message)) __builtin_trap();
  if (strnlen(info.szInstallDir, sizeof(info.szInstallDir)) == sizeof(info.szInstallDir)) __builtin_trap();
  vrinfuzz::CheckReleased(blocks);
  return 0;
}
