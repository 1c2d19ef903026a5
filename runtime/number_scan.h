// Numbers in properties and profile values, read as the C runtime's "%d"
// reads them, without its undefined overflow.
#pragma once

#include "host/platform.h"

// The decimal number szText starts with: white space, an optional sign,
// digits; what follows is left (*ppchEnd, when given, points at it). False,
// with *pnValue 0, when no digit follows. A number beyond int is held at
// INT_MIN or INT_MAX, and *pbClamped (when given) says so.
bool InstallScanInt(const char* szText, int* pnValue, const char** ppchEnd = nullptr, bool* pbClamped = nullptr);
