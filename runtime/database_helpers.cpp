#include "runtime/database_helpers.h"

#include <cstdio>
#include <new>

#include "runtime/install_exception.h"
#include "runtime/install_log.h"
#include "runtime/session_access.h"

static const size_t kQuerySize = 256;

void InstallGetARecord(MSIHANDLE hInstall, MSIHANDLE hDatabase, const char* szQuery, MSIHANDLE* phRecord) {
  InstallLog(hInstall, kLogRowTrace, "InstallGetARecord -> %s", InstallTraceText(szQuery));
  if (phRecord != nullptr) {
    *phRecord = 0;
  }
  MSIHANDLE hView = 0;
  MSIHANDLE hRecord = 0;
  try {
    if (MsiDatabaseOpenView(hDatabase, szQuery, &hView) != ERROR_SUCCESS) {
      hView = 0;
      InstallRaiseMsi("InstallGetARecord : MsiDatabaseOpenView");
    }
    UINT uResult = MsiViewExecute(hView, 0);
    if (uResult != ERROR_SUCCESS) {
      InstallRaise("InstallGetARecord : MsiViewExecute", uResult);
    }
    uResult = MsiViewFetch(hView, &hRecord);
    if (uResult != ERROR_SUCCESS) {
      hRecord = 0;
      InstallRaise("InstallGetARecord : MsiViewFetch", uResult);
    }
  } catch (CInstallException*) {
    InstallCloseHandle(hRecord);
    if (hView != 0) {
      MsiViewClose(hView);
      InstallCloseHandle(hView);
    }
    throw;
  }
  MsiViewClose(hView);
  MsiCloseHandle(hView);
  if (phRecord != nullptr) {
    *phRecord = hRecord;
  } else {
    MsiCloseHandle(hRecord);
  }
  InstallLog(hInstall, kLogRowTrace, "InstallGetARecord <-");
}

// Field 1 of the query's first record; the record is closed on every path.
static char* GetFirstField(MSIHANDLE hInstall, MSIHANDLE hDatabase, const char* szQuery) {
  MSIHANDLE hRecord = 0;
  InstallGetARecord(hInstall, hDatabase, szQuery, &hRecord);
  char* szValue = nullptr;
  try {
    szValue = InstallGetRecordString(hInstall, hRecord, 1);
  } catch (CInstallException*) {
    MsiCloseHandle(hRecord);
    throw;
  }
  MsiCloseHandle(hRecord);
  return szValue;
}

// A query that ends with one key between apostrophes, after szHead. The key
// is only ever an argument, never part of a format. A key that would not fit
// the query buffer is refused rather than cut into a different query.
static void FormatQuery(char* szQuery, const char* szHead, const char* szKey, const char* szContext) {
  int cch = snprintf(szQuery, kQuerySize, "%s%s'", szHead, szKey != nullptr ? szKey : "");
  if (cch < 0 || static_cast<size_t>(cch) >= kQuerySize) {
    InstallRaise(szContext, ERROR_INSUFFICIENT_BUFFER);
  }
}

// The session's active database; raises with the installer's error record
// when there is none (deferred execution).
static MSIHANDLE GetActiveDatabase(MSIHANDLE hInstall, const char* szContext) {
  MSIHANDLE hDatabase = MsiGetActiveDatabase(hInstall);
  if (hDatabase == 0) {
    InstallRaiseMsi(szContext);
  }
  return hDatabase;
}

// Runs a single-field lookup on the active database and closes it again.
static char* LookUpInActiveDatabase(MSIHANDLE hInstall, const char* szQuery, const char* szDatabaseContext) {
  MSIHANDLE hDatabase = GetActiveDatabase(hInstall, szDatabaseContext);
  char* szValue = nullptr;
  try {
    szValue = GetFirstField(hInstall, hDatabase, szQuery);
  } catch (CInstallException*) {
    MsiCloseHandle(hDatabase);
    throw;
  }
  MsiCloseHandle(hDatabase);
  return szValue;
}

char* InstallComponentGetFeature(MSIHANDLE hInstall, const char* szComponent) {
  InstallLog(hInstall, kLogRowTrace, "InstallComponentGetFeature -> %s", InstallTraceText(szComponent));
  char szQuery[kQuerySize] = {};
  FormatQuery(szQuery, "SELECT `Feature_` FROM `FeatureComponents` WHERE `Component_` = '", szComponent,
              "InstallComponentGetFeature : szQuery");
  char* szFeature = LookUpInActiveDatabase(hInstall, szQuery, "InstallComponentGetFeature : MsiGetActiveDatabase");
  InstallLog(hInstall, kLogRowTrace, "InstallComponentGetFeature <- %s", InstallTraceText(szFeature));
  return szFeature;
}

char* InstallGetSourceFileVersion(MSIHANDLE hInstall, MSIHANDLE hDatabase, const char* szFileName) {
  InstallLog(hInstall, kLogRowTrace, "InstallGetSourceFileVersion -> %s", InstallTraceText(szFileName));
  char szQuery[kQuerySize] = {};
  FormatQuery(szQuery, "SELECT `Version` FROM `File` WHERE `FileName` = '", szFileName,
              "InstallGetSourceFileVersion : szQuery");
  char* szVersion = GetFirstField(hInstall, hDatabase, szQuery);
  InstallLog(hInstall, kLogRowTrace, "InstallGetSourceFileVersion <- %s", InstallTraceText(szVersion));
  return szVersion;
}

char* InstallSetWarning(MSIHANDLE hInstall, MSIHANDLE hRecord) {
  InstallLog(hInstall, kLogRowTrace, "InstallSetWarning ->");
  DWORD cch = 0;
  UINT uResult = MsiFormatRecord(hInstall, hRecord, nullptr, &cch);
  if (uResult != ERROR_SUCCESS) {
    InstallRaise("InstallSetWarning : MsiFormatRecord", uResult);
  }
  DWORD cchBuffer = cch + 1;
  char* szWarning = new (std::nothrow) char[cchBuffer];
  if (szWarning == nullptr) {
    InstallRaise("InstallSetWarning : szWarning", ERROR_OUTOFMEMORY);
  }
  uResult = MsiFormatRecord(hInstall, hRecord, szWarning, &cchBuffer);
  if (uResult != ERROR_SUCCESS) {
    delete[] szWarning;
    InstallRaise("InstallSetWarning : MsiFormatRecord", uResult);
  }
  InstallLog(hInstall, kLogRowTrace, "InstallSetWarning <- %s", szWarning);
  return szWarning;
}

char* InstallGetErrorFormat(MSIHANDLE hInstall, int nError) {
  InstallLog(hInstall, kLogRowTrace, "InstallGetErrorFormat -> %d", nError);
  char szQuery[kQuerySize] = {};
  snprintf(szQuery, sizeof(szQuery), "SELECT `Message` FROM `Error` WHERE `Error` = %d", nError);
  char* szMessage = LookUpInActiveDatabase(hInstall, szQuery, "InstallGetErrorFormat : MsiGetActiveDatabase");
  InstallLog(hInstall, kLogRowTrace, "InstallGetErrorFormat <- %s", InstallTraceText(szMessage));
  return szMessage;
}
