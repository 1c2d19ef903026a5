#include "runtime/install_log.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>

#include "runtime/install_exception.h"
#include "runtime/session_access.h"
#include "runtime/string_helpers.h"

static const char kTracePrefix[] = "OV VRIN : ";
static const size_t kTraceLineSize = 512;
static const size_t kQuerySize = 256;

// The Message of the package's Error row as a new string, or null when the
// package has none (no active database in deferred execution, no table, no
// row). Reading the template never passes a failure on: the line then keeps
// the plain "[1]" template.
static char* GetTraceTemplate(MSIHANDLE hInstall, int nRow) {
  MSIHANDLE hDatabase = MsiGetActiveDatabase(hInstall);
  if (hDatabase == 0) {
    return nullptr;
  }
  char szQuery[kQuerySize] = {};
  snprintf(szQuery, sizeof(szQuery), "SELECT `Message` FROM `Error` WHERE `Error` = %d", nRow);
  char* szTemplate = nullptr;
  MSIHANDLE hView = 0;
  MSIHANDLE hRecord = 0;
  if (MsiDatabaseOpenView(hDatabase, szQuery, &hView) == ERROR_SUCCESS && MsiViewExecute(hView, 0) == ERROR_SUCCESS &&
      MsiViewFetch(hView, &hRecord) == ERROR_SUCCESS) {
    try {
      // Without a session, so that its own trace goes to standard output only.
      szTemplate = InstallGetRecordString(0, hRecord, 1);
    } catch (CInstallException* pException) {
      InstallEndFailure(0, "InstallLog", pException, false);
    }
  }
  if (hRecord != 0) {
    MsiCloseHandle(hRecord);
  }
  if (hView != 0) {
    MsiViewClose(hView);
    MsiCloseHandle(hView);
  }
  MsiCloseHandle(hDatabase);
  return szTemplate;
}

void InstallLog(MSIHANDLE hInstall, int nRow, const char* szFormat, ...) {
  // The prefix is literal text, so formatting the caller's format after it is
  // the same as formatting "OV VRIN : <format>", without a format length limit.
  char szLine[kTraceLineSize] = {};
  const size_t cchPrefix = sizeof(kTracePrefix) - 1;
  memcpy(szLine, kTracePrefix, cchPrefix);
  int cchText = 0;
  if (szFormat != nullptr) {
    va_list args;
    va_start(args, szFormat);
    cchText = vsnprintf(szLine + cchPrefix, sizeof(szLine) - cchPrefix, szFormat, args);
    va_end(args);
  }
  if (cchText < 0) {
    szLine[cchPrefix] = '\0';
  } else if (static_cast<size_t>(cchText) >= sizeof(szLine) - cchPrefix) {
    // Cut: drop a double-byte character whose trail byte did not fit.
    char szCut[kTraceLineSize];
    InstallCopyTruncated(szCut, sizeof(szCut), szLine);
    memcpy(szLine, szCut, sizeof(szLine));
  }

  fputs(szLine, stdout);
  fputs("\r\n", stdout);
  fflush(stdout);

  if (hInstall == 0) {
    return;
  }
  char* szTemplate = GetTraceTemplate(hInstall, nRow);
  MSIHANDLE hRecord = MsiCreateRecord(1);
  if (hRecord != 0) {
    MsiRecordSetString(hRecord, 0, szTemplate != nullptr ? szTemplate : "[1]");
    MsiRecordSetString(hRecord, 1, szLine);
    MsiProcessMessage(hInstall, INSTALLMESSAGE_INFO, hRecord);
    MsiCloseHandle(hRecord);
  }
  delete[] szTemplate;
}
