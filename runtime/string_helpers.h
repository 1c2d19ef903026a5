// Path and string helpers over caller-owned buffers. Paths that would not fit
// the buffer are refused (raised with ERROR_FILENAME_EXCED_RANGE, or answered
// false), never cut.
#pragma once

#include <cstddef>

#include "host/platform.h"

// Appends a backslash unless the path is null, empty or already ends in one
// (a test on the last byte, not the last multibyte character).
void InstallAddBackslash(char* szPath, size_t cbPath);

// szOut = szDirectory (with one trailing backslash) followed by szName;
// either may be null.
void InstallMakePath(char* szOut, size_t cbOut, const char* szDirectory, const char* szName);

// The same for routines that may not raise: false, with szOut empty, when
// the path does not fit.
bool InstallTryMakePath(char* szOut, size_t cbOut, const char* szDirectory, const char* szName);

// A new wide copy of an ANSI string (caller frees with delete[]), or null
// when it cannot be allocated or converted.
WCHAR* InstallAnsiToWide(const char* szText);

// Copies szSource into a buffer of cbDest bytes, cutting at a character
// boundary when it does not fit; always terminates.
void InstallCopyTruncated(char* szDest, size_t cbDest, const char* szSource);
