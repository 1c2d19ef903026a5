// Profile-file helpers, which trace and never raise, and InstallReadFile,
// which reads a whole file and raises on failure.
#pragma once

#include "host/platform.h"

// GetPrivateProfileString with the trace: the count it returns. cchOut is
// the size of szOut in bytes.
DWORD InstallGetPrivateProfileString(MSIHANDLE hInstall, const char* szSection, const char* szKey,
                                     const char* szDefault, char* szOut, DWORD cchOut, const char* szFile);

// GetPrivateProfileInt with the trace: the value it returns.
UINT InstallGetPrivateProfileInt(MSIHANDLE hInstall, const char* szSection, const char* szKey, int nDefault,
                                 const char* szFile);

// The file's bytes as they are, NUL-terminated, in a new buffer owned by the
// caller (delete[]). The file is opened without sharing. Raises on failure.
char* InstallReadFile(MSIHANDLE hInstall, const char* szPath);
