// vrinsim_master_setup.exe: the backup suite's master setup as vrinsim's Wine
// engine plays a "road = master-setup" step. It loads vrinca.dll, calls
// CheckInstallInfo for the machine (empty: this one), CreateConfigProfile
// when a profile is given, and GetPostConfigInfo, and prints what came back
// as "VRINSIM name=value" lines; the library's own traces on standard output
// are every other line.
//
// Usage: vrinsim_master_setup.exe <vrinca.dll> <machine|-> <profile|-> <full check: 0|1>
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "suite/master_setup.h"

typedef int(__cdecl* MasterSetupCall)(const char*, ULONG_PTR, ULONG_PTR, char*, ULONG_PTR, ComponentInstallInfo*,
                                      const char*, ULONG_PTR, int);
typedef int(__cdecl* PostConfigCall)();

template <typename T>
static T Export(HMODULE library, const char* name) {
  return reinterpret_cast<T>(reinterpret_cast<void*>(GetProcAddress(library, name)));
}

int main(int argc, char** argv) {
  if (argc != 5) {
    fprintf(stderr, "usage: vrinsim_master_setup <vrinca.dll> <machine|-> <profile|-> <0|1>\n");
    return 2;
  }
  HMODULE library = LoadLibraryA(argv[1]);
  if (library == nullptr) {
    fprintf(stderr, "LoadLibrary failed with %lu\n", GetLastError());
    return 3;
  }
  auto check = Export<MasterSetupCall>(library, "CheckInstallInfo");
  auto create = Export<MasterSetupCall>(library, "CreateConfigProfile");
  auto post = Export<PostConfigCall>(library, "GetPostConfigInfo");
  if (check == nullptr || create == nullptr || post == nullptr) {
    fprintf(stderr, "an export of the master setup is missing\n");
    return 4;
  }
  const char* machine = strcmp(argv[2], "-") == 0 ? nullptr : argv[2];
  const char* profile = strcmp(argv[3], "-") == 0 ? nullptr : argv[3];
  const int fullCheck = atoi(argv[4]);

  static ComponentInstallInfo info;
  info.bWriteInstallDir = 1;
  char message[1024] = "";
  const int checked = check(machine, 0, 0, message, 0, &info, profile, 0, fullCheck);
  fflush(stdout);
  printf("VRINSIM check=%d\n", checked);
  printf("VRINSIM message=%s\n", message);
  printf("VRINSIM folder=%s\n", info.szInstallDir);
  printf("VRINSIM fixed=%d\n", info.bInstallDirFixed);
  for (const auto& component : info.szComponents) {
    if (component[0] != '\0') printf("VRINSIM component=%s\n", component);
  }
  if (profile != nullptr) {
    fflush(stdout);
    const int written = create(machine, 0, 0, message, 0, &info, profile, 0, fullCheck);
    fflush(stdout);
    printf("VRINSIM create=%d\n", written);
  }
  fflush(stdout);
  const int posted = post();
  fflush(stdout);
  printf("VRINSIM post=%d\n", posted);
  FreeLibrary(library);
  return 0;
}
