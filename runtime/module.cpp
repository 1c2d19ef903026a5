#include "runtime/module.h"

HINSTANCE g_hModule = nullptr;

extern "C" BOOL WINAPI DllMain(HINSTANCE hinstDLL, DWORD fdwReason, LPVOID lpvReserved) {
  (void)lpvReserved;
  if (fdwReason == DLL_PROCESS_ATTACH) {
    g_hModule = hinstDLL;
  }
  return TRUE;
}
