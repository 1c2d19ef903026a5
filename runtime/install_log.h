// The library's trace routine and the rows of the Error table it uses.
#pragma once

#include "host/platform.h"

const int kLogRowFailure = 1;
const int kLogRowWarning = 2;
const int kLogRowTrace = 4;

// Writes "OV VRIN : " and the formatted text to standard output and, with a
// session, into the installation log with the package's Error row nRow as
// template. Never raises; an over-long line is cut at a character boundary.
void InstallLog(MSIHANDLE hInstall, int nRow, const char* szFormat, ...) __attribute__((format(printf, 3, 4)));

// A null text is traced as "Null".
inline const char* InstallTraceText(const char* szText) { return szText != nullptr ? szText : "Null"; }
