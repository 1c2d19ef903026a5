// A Windows program standing in for the backup suite's master setup: it loads
// vrinca.dll, calls the three exports with a record laid out as the master
// setup lays it out, and prints what came back, one "name=value" a line.
//
// Usage: master_setup_probe.exe <vrinca.dll> <profile.icf> <install folder>
#include <windows.h>

#include <cstdio>
#include <cstring>

#include "suite/master_setup.h"

typedef int(__cdecl* PFNMASTERSETUP)(const char*, ULONG_PTR, ULONG_PTR, char*, ULONG_PTR, ComponentInstallInfo*,
                                     const char*, ULONG_PTR, int);
typedef int(__cdecl* PFNPOSTCONFIG)();

// GetProcAddress's generic pointer, as the export's own type.
template <typename T>
static T Export(HMODULE hLibrary, const char* name) {
  return reinterpret_cast<T>(reinterpret_cast<void*>(GetProcAddress(hLibrary, name)));
}

// The master setup's own parts of the record must come back as they went in.
static bool Untouched(const ComponentInstallInfo& info) {
  for (BYTE b : info.abMasterSetup) {
    if (b != 0xA5) return false;
  }
  for (BYTE b : info.abUntouched) {
    if (b != 0xA5) return false;
  }
  return true;
}

int main(int argc, char** argv) {
  if (argc != 4) {
    fprintf(stderr, "usage: master_setup_probe <vrinca.dll> <profile.icf> <install folder>\n");
    return 2;
  }
  HMODULE hLibrary = LoadLibraryA(argv[1]);
  if (hLibrary == nullptr) {
    fprintf(stderr, "LoadLibrary failed with %lu\n", GetLastError());
    return 3;
  }
  auto pfnCheck = Export<PFNMASTERSETUP>(hLibrary, "CheckInstallInfo");
  auto pfnCreate = Export<PFNMASTERSETUP>(hLibrary, "CreateConfigProfile");
  auto pfnPost = Export<PFNPOSTCONFIG>(hLibrary, "GetPostConfigInfo");
  if (pfnCheck == nullptr || pfnCreate == nullptr || pfnPost == nullptr) {
    fprintf(stderr, "an export is missing\n");
    return 4;
  }

  static ComponentInstallInfo info;
  memset(&info, 0xA5, sizeof(info));
  info.bWriteInstallDir = 1;
  info.bInstallDirFixed = 0;
  info.szInstallDir[0] = '\0';
  memset(info.szComponents, 0, sizeof(info.szComponents));
  char message[1024] = "";
  int checked = pfnCheck(nullptr, 0, 0, message, 0, &info, argv[2], 0, 1);
  printf("check=%d\n", checked);
  printf("fixed=%d\n", info.bInstallDirFixed);
  printf("component0=%s\n", info.szComponents[0]);
  printf("untouched=%d\n", Untouched(info) ? 1 : 0);

  snprintf(info.szInstallDir, sizeof(info.szInstallDir), "%s", argv[3]);
  printf("create=%d\n", pfnCreate(nullptr, 0, 0, message, 0, &info, argv[2], 0, 1));
  printf("untouched=%d\n", Untouched(info) ? 1 : 0);
  printf("post=%d\n", pfnPost());
  FreeLibrary(hLibrary);
  return 0;
}
