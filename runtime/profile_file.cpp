#include "runtime/profile_file.h"

#include <cstring>
#include <new>

#include "runtime/install_exception.h"
#include "runtime/install_log.h"

DWORD InstallGetPrivateProfileString(MSIHANDLE hInstall, const char* szSection, const char* szKey,
                                     const char* szDefault, char* szOut, DWORD cchOut, const char* szFile) {
  InstallLog(hInstall, kLogRowTrace, "InstallGetPrivateProfileString -> [%s] %s=(%s)", InstallTraceText(szSection),
             InstallTraceText(szKey), InstallTraceText(szDefault));
  DWORD cchCopied = GetPrivateProfileString(szSection, szKey, szDefault, szOut, cchOut, szFile);
  // A buffer of no bytes was not written, so it holds no text to show.
  const char* szShown = szOut == nullptr ? nullptr : (cchOut == 0 ? "" : szOut);
  if (szShown == nullptr || strchr(szShown, '%') == nullptr) {
    InstallLog(hInstall, kLogRowTrace, "InstallGetPrivateProfileString <- %s", InstallTraceText(szShown));
  }
  return cchCopied;
}

UINT InstallGetPrivateProfileInt(MSIHANDLE hInstall, const char* szSection, const char* szKey, int nDefault,
                                 const char* szFile) {
  InstallLog(hInstall, kLogRowTrace, "InstallGetPrivateProfileInt -> [%s] %s=(%d)", InstallTraceText(szSection),
             InstallTraceText(szKey), nDefault);
  UINT uValue = GetPrivateProfileInt(szSection, szKey, nDefault, szFile);
  InstallLog(hInstall, kLogRowTrace, "InstallGetPrivateProfileInt <- %d", static_cast<int>(uValue));
  return uValue;
}

char* InstallReadFile(MSIHANDLE hInstall, const char* szPath) {
  (void)hInstall;
  HANDLE hFile = CreateFile(szPath, GENERIC_READ, 0, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (hFile == INVALID_HANDLE_VALUE || hFile == nullptr) {
    InstallRaise("InstallReadFile : CreateFile", GetLastError());
  }
  DWORD cbFile = GetFileSize(hFile, nullptr);
  if (cbFile == INVALID_FILE_SIZE) {
    DWORD dwError = GetLastError();
    CloseHandle(hFile);
    InstallRaise("InstallReadFile : GetFileSize", dwError);
  }
  char* szData = new (std::nothrow) char[cbFile];
  if (szData == nullptr) {
    CloseHandle(hFile);
    InstallRaise("InstallReadFile : szData", ERROR_OUTOFMEMORY);
  }
  DWORD cbRead = 0;
  if (!ReadFile(hFile, szData, cbFile, &cbRead, nullptr)) {
    DWORD dwError = GetLastError();
    delete[] szData;
    CloseHandle(hFile);
    InstallRaise("InstallReadFile : ReadFile", dwError);
  }
  CloseHandle(hFile);
  char* szRet = new (std::nothrow) char[static_cast<size_t>(cbFile) + 1];
  if (szRet == nullptr) {
    delete[] szData;
    InstallRaise("InstallReadFile : ret", ERROR_OUTOFMEMORY);
  }
  // A file that shrank while it was read gives what was read; the result is
  // always NUL-terminated.
  memset(szRet, 0, static_cast<size_t>(cbFile) + 1);
  memcpy(szRet, szData, cbRead <= cbFile ? cbRead : cbFile);
  delete[] szData;
  return szRet;
}
