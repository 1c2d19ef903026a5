// The library's only process-wide state: its module handle, stored at attach.
#pragma once

#include "host/platform.h"

extern HINSTANCE g_hModule;

extern "C" BOOL WINAPI DllMain(HINSTANCE hinstDLL, DWORD fdwReason, LPVOID lpvReserved);
