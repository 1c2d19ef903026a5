#include "runtime/resource_string.h"

#include <cstdarg>
#include <cstdlib>

#include "runtime/install_exception.h"
#include "runtime/install_log.h"
#include "runtime/module.h"
#include "runtime/number_scan.h"
#include "runtime/session_access.h"

static const DWORD kFallbackLanguage = 1033;
static const DWORD kMinimumAllocation = 1024;

// The number at the start of ProductLanguage as "%d" reads it; a text without
// one, or a number outside int, leaves US English.
static DWORD InstallParseLanguage(const char* szLanguage) {
  int nLanguage = 0;
  bool bClamped = false;
  if (!InstallScanInt(szLanguage, &nLanguage, nullptr, &bClamped) || bClamped) {
    return kFallbackLanguage;
  }
  return static_cast<DWORD>(nLanguage);
}

// One attempt in one language; the inserts come from the caller's list.
static DWORD InstallFormatResource(DWORD dwMessageId, DWORD dwLanguage, char** pszText, va_list* pArguments) {
  return FormatMessageA(FORMAT_MESSAGE_FROM_HMODULE | FORMAT_MESSAGE_ALLOCATE_BUFFER, g_hModule, dwMessageId,
                        dwLanguage, reinterpret_cast<LPSTR>(pszText), kMinimumAllocation, pArguments);
}

char* InstallGetResourceString(MSIHANDLE hInstall, DWORD dwMessageId, ...) {
  char* szLanguage = InstallGetProperty(hInstall, "ProductLanguage");
  InstallLog(hInstall, kLogRowTrace, "InstallGetResourceString -> %lx", static_cast<unsigned long>(dwMessageId));
  DWORD dwLanguage = InstallParseLanguage(szLanguage);
  InstallFreeString(szLanguage);
  InstallLog(hInstall, kLogRowTrace, "Looking for language %d", static_cast<int>(dwLanguage & 0xFFFF));

  // Each attempt gets a fresh list: the first may have read some inserts.
  char* szText = nullptr;
  va_list arguments;
  va_start(arguments, dwMessageId);
  DWORD cchText = InstallFormatResource(dwMessageId, dwLanguage, &szText, &arguments);
  DWORD dwError = GetLastError();
  va_end(arguments);
  if (cchText == 0 && dwError == ERROR_RESOURCE_LANG_NOT_FOUND) {
    InstallLog(hInstall, kLogRowTrace, "Looking for language %d", static_cast<int>(kFallbackLanguage));
    va_start(arguments, dwMessageId);
    cchText = InstallFormatResource(dwMessageId, kFallbackLanguage, &szText, &arguments);
    dwError = GetLastError();
    va_end(arguments);
    if (cchText == 0) {
      InstallRaise("InstallGetResourceString : FormatMessage", dwError);
    }
  }

  // Every text of the table ends in CR LF.
  if (szText != nullptr && cchText >= 2) {
    szText[cchText - 2] = '\0';
  }
  InstallLog(hInstall, kLogRowTrace, "InstallGetResourceString <- %s", InstallTraceText(szText));
  return szText;
}
