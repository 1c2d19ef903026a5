// The installed server's detection through its service: an arbitrary image
// path as the service configuration holds it, an arbitrary PRODUCTS and an
// image whose version numbers come from the input.
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>

#include "host/filesystem.h"
#include "host/library_heap.h"
#include "host/machine.h"
#include "host/package.h"
#include "host/registry.h"
#include "host/services.h"
#include "host/session.h"
#include "server/server_version.h"
#include "tests/fuzz/fuzz_support.h"
#include "tools/road/package_sql.h"
#include "tools/road/pe_builder.h"

namespace {
std::shared_ptr<host::Package> g_package;
const char kImage[] = "C:\\Velmora\\skdnt.exe";
}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  vrinfuzz::PrepareSessions();
  g_package = host::Package::FromSql(vrintest::RowMarkersSql());
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::vector<std::string> parts = vrinfuzz::Split(data, size, 3);
  const std::string& version = parts[2];
  auto number = [&](size_t i) { return static_cast<uint16_t>(i < version.size() ? uint8_t(version[i]) : 0); };
  host::ResetMachine();
  host::Services().Add({"Skelda", "OV Velmora Service", SERVICE_WIN32_OWN_PROCESS, SERVICE_AUTO_START,
                        SERVICE_ERROR_NORMAL, parts[0], "", "LocalSystem"});
  host::Files().AddFile(kImage, vrintest::VersionedDll({number(0), number(1), number(2), number(3)}));
  host::LocalRegistry().SetString("HKEY_LOCAL_MACHINE\\SOFTWARE\\Orvannic\\Lumicor Velmora\\CurrentVersion", "Version",
                                  "9");
  std::shared_ptr<host::Session> session = host::Session::Open(g_package);
  session->SetProperty("PRODUCTS", parts[1]);
  size_t blocks = host::LibraryAllocationCount();
  if (VrinNTPreviousVersionInstalled(session->Handle()) != ERROR_SUCCESS) __builtin_trap();
  WriteBuildNumber(session->Handle());
  char szImage[MAX_PATH];
  if (GetServiceImagePath(szImage, sizeof(szImage)) && strlen(szImage) >= sizeof(szImage)) __builtin_trap();
  session->Close();
  vrinfuzz::CheckReleased(blocks);
  return 0;
}
