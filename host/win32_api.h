// Win32 calls of the simulated machine, declared with their Windows names and
// signatures so that the library compiles unchanged against them.
#pragma once

#include <cstdarg>

#include "host/win32_clock.h"
#include "host/win32_files.h"
#include "host/win32_mpr.h"
#include "host/win32_netapi.h"
#include "host/win32_network.h"
#include "host/win32_registry.h"
#include "host/win32_security.h"
#include "host/win32_services.h"
#include "host/win32_shell.h"
#include "host/win32_system.h"
#include "host/win32_types.h"
#include "host/win32_user.h"

extern "C" {

DWORD GetLastError();
void SetLastError(DWORD dwErrCode);

DWORD FormatMessageA(DWORD dwFlags, LPCVOID lpSource, DWORD dwMessageId, DWORD dwLanguageId, LPSTR lpBuffer,
                     DWORD nSize, va_list* Arguments);
HLOCAL LocalFree(HLOCAL hMem);
size_t LocalSize(HLOCAL hMem);

int MultiByteToWideChar(UINT CodePage, DWORD dwFlags, LPCSTR lpMultiByteStr, int cbMultiByte, LPWSTR lpWideCharStr,
                        int cchWideChar);
LPSTR CharNextA(LPCSTR lpsz);
BOOL IsDBCSLeadByte(BYTE TestChar);
}

#define FormatMessage FormatMessageA
#define CharNext CharNextA
