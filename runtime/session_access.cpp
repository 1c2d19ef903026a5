#include "runtime/session_access.h"

#include <cstdio>
#include <new>

#include "runtime/install_exception.h"
#include "runtime/install_log.h"

typedef UINT(WINAPI* PFNSESSIONGETTER)(MSIHANDLE, LPCSTR, LPSTR, DWORD*);

// The common worker of the property and path accessors.
static char* InstallGetSessionString(MSIHANDLE hInstall, const char* szName, PFNSESSIONGETTER pfnGetter,
                                     const char* szAccessor) {
  InstallLog(hInstall, kLogRowTrace, "%s -> %s", szAccessor, InstallTraceText(szName));
  char szEmpty[1] = {'\0'};
  DWORD cch = 0;
  UINT uResult = pfnGetter(hInstall, szName, szEmpty, &cch);
  if (uResult != ERROR_MORE_DATA) {
    InstallRaise("MsiGetSourcePath", uResult);
  }
  DWORD cchBuffer = cch + 1;
  char* szValue = new (std::nothrow) char[cchBuffer];
  if (szValue == nullptr) {
    InstallRaise("ret", ERROR_OUTOFMEMORY);
  }
  uResult = pfnGetter(hInstall, szName, szValue, &cchBuffer);
  if (uResult != ERROR_SUCCESS) {
    delete[] szValue;
    InstallRaise("MsiGetSourcePath", uResult);
  }
  InstallLog(hInstall, kLogRowTrace, "%s <- (%s)", szAccessor, szValue);
  return szValue;
}

char* InstallGetProperty(MSIHANDLE hInstall, const char* szName) {
  return InstallGetSessionString(hInstall, szName, MsiGetProperty, "InstallGetProperty");
}

char* InstallGetSourcePath(MSIHANDLE hInstall, const char* szDirectory) {
  return InstallGetSessionString(hInstall, szDirectory, MsiGetSourcePath, "InstallGetSourcePath");
}

char* InstallGetTargetPath(MSIHANDLE hInstall, const char* szDirectory) {
  return InstallGetSessionString(hInstall, szDirectory, MsiGetTargetPath, "InstallGetTargetPath");
}

char* InstallGetRecordString(MSIHANDLE hInstall, MSIHANDLE hRecord, unsigned int uField) {
  InstallLog(hInstall, kLogRowTrace, "InstallGetRecordString -> %d", static_cast<int>(uField));
  char szEmpty[1] = {'\0'};
  DWORD cch = 0;
  UINT uResult = MsiRecordGetString(hRecord, uField, szEmpty, &cch);
  if (uResult != ERROR_MORE_DATA) {
    InstallRaise("InstallGetRecordString : MsiRecordGetString (1)", uResult);
  }
  DWORD cchBuffer = cch + 1;
  char* szValue = new (std::nothrow) char[cchBuffer];
  if (szValue == nullptr) {
    InstallRaise("InstallGetRecordString : ret", ERROR_OUTOFMEMORY);
  }
  uResult = MsiRecordGetString(hRecord, uField, szValue, &cchBuffer);
  if (uResult != ERROR_SUCCESS) {
    delete[] szValue;
    InstallRaise("InstallGetRecordString : MsiRecordGetString (2)", uResult);
  }
  InstallLog(hInstall, kLogRowTrace, "InstallGetRecordString <- (%s)", szValue);
  return szValue;
}

void InstallSetProperty(MSIHANDLE hInstall, const char* szName, int nValue) {
  InstallLog(hInstall, kLogRowTrace, "InstallSetProperty -> %s = %d", InstallTraceText(szName), nValue);
  char szValue[16] = {};
  snprintf(szValue, sizeof(szValue), "%d", nValue);
  UINT uResult = MsiSetProperty(hInstall, szName, szValue);
  if (uResult != ERROR_SUCCESS) {
    InstallRaise("InstallSetProperty : MsiSetProperty", uResult);
  }
  InstallLog(hInstall, kLogRowTrace, "InstallSetProperty <-");
}

void InstallDeleteProperty(MSIHANDLE hInstall, const char* szName) {
  InstallLog(hInstall, kLogRowTrace, "Deleting %s", InstallTraceText(szName));
  UINT uResult = MsiSetProperty(hInstall, szName, "");
  if (uResult != ERROR_SUCCESS) {
    InstallRaise("InstallSetProperty : MsiSetProperty", uResult);
  }
}

void InstallFreeString(char*& szString) {
  delete[] szString;
  szString = nullptr;
}

void InstallCloseHandle(MSIHANDLE& hHandle) {
  if (hHandle != 0) {
    MsiCloseHandle(hHandle);
    hHandle = 0;
  }
}
