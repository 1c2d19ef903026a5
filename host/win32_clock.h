// The tick count and the sleep of the simulated machine (kernel32): both run
// on its virtual clock (host/clock.h), so no real time passes.
#pragma once

#include "host/win32_types.h"

#ifndef INFINITE
#define INFINITE 0xFFFFFFFF
#endif

extern "C" {

DWORD GetTickCount();
void Sleep(DWORD dwMilliseconds);
}
