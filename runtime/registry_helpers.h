// Registry helpers with the library's trace. They never raise: they return
// the Win32 result, a default, null or a flag, and the caller decides.
#pragma once

#include "host/platform.h"

// The value's data under HKEY_LOCAL_MACHINE as a new NUL-terminated string
// (InstallFreeString), or null when the key or value is missing or empty.
char* InstallGetRegString(MSIHANDLE hInstall, const char* szSubKey, const char* szValueName);

// The value's 4 bytes as a DWORD, or dwDefault when the key or value is
// missing or the value is not 4 bytes long.
DWORD InstallGetRegValue(MSIHANDLE hInstall, const char* szSubKey, const char* szValueName, DWORD dwDefault);

LONG InstallSetRegValue(MSIHANDLE hInstall, const char* szSubKey, const char* szValueName, DWORD dwValue);
LONG InstallSetRegString(MSIHANDLE hInstall, const char* szSubKey, const char* szValueName, const char* szValue);
LONG InstallDelRegValue(MSIHANDLE hInstall, const char* szSubKey, const char* szValueName);

// Deletes root\subkey and everything below it; TRUE when all of it is gone.
BOOL InstallDelRegTree(MSIHANDLE hInstall, HKEY hRoot, const char* szSubKey);
