#include "server/server_version.h"

#include <climits>
#include <cstdio>
#include <cstring>
#include <new>

#include "runtime/action_frame.h"
#include "runtime/database_helpers.h"
#include "runtime/file_helpers.h"
#include "runtime/number_scan.h"
#include "runtime/session_access.h"
#include "runtime/text_compare.h"
#include "server/service_control.h"

static const char kServiceName[] = "Skelda";
static const char kPackagedImage[] = "Skdnt.exe";
static const char kProductKey[] = "SOFTWARE\\Orvannic\\Lumicor Velmora\\CurrentVersion";
static const char kBuildNumberValue[] = "BuildNumber";
// Installed majors below this one are the generation before the previous one.
static const DWORD kFirstPreviousMajor = 7;
static const DWORD kLastPreviousMajor = 10;
static const DWORD kCurrentMajor = 9;
// The product that owns the previous generation's installation itself.
static const int kOwningProduct = 1;

static const ActionInfo kInitialise = {"VrinNTInitialise", ERROR_INVALID_HANDLE, "VrinNTInitialise : hInstall",
                                       ERROR_INSTALL_FAILURE, kTraceAction};
static const ActionInfo kPreviousVersionInstalled = {"VrinNTPreviousVersionInstalled", ERROR_BAD_ARGUMENTS,
                                                     "VrinNTPreviousVersionInstalled : hInstall", ERROR_SUCCESS,
                                                     kTraceAction};

// The image path as the configuration holds it, into a MAX_PATH buffer: a
// path registered in double quotes without them (and without whatever
// follows the closing quote); false when it does not fit.
static bool CopyImagePath(char* szOut, size_t cbOut, const char* szConfigured) {
  const char* pStart = szConfigured != nullptr ? szConfigured : "";
  size_t cch = strlen(pStart);
  if (pStart[0] == '"') {
    ++pStart;
    // A quote is never the trail byte of a double-byte character.
    const char* pClose = strchr(pStart, '"');
    cch = pClose != nullptr ? static_cast<size_t>(pClose - pStart) : strlen(pStart);
  }
  if (cbOut == 0 || cch + 1 > cbOut) {
    return false;
  }
  memcpy(szOut, pStart, cch);
  szOut[cch] = '\0';
  return true;
}

// --- VrinNTInitialise ---

struct InitialiseLocals {
  MSIHANDLE hDatabase;
  char* szVersion;
};

static void ReleaseInitialise(InitialiseLocals& locals) {
  InstallCloseHandle(locals.hDatabase);
  InstallFreeString(locals.szVersion);
}

static void InitialiseBody(MSIHANDLE hInstall, InitialiseLocals& locals) {
  locals.hDatabase = MsiGetActiveDatabase(hInstall);
  if (locals.hDatabase == 0) {
    InstallRaiseMsi("VrinNTInitialise : MsiGetActiveDatabase");
  }
  locals.szVersion = InstallGetSourceFileVersion(hInstall, locals.hDatabase, kPackagedImage);
  // "major.minor.build.revision"; numbers that are not there count as 0, so a
  // short or empty version still gives a trace.
  int anVersion[4] = {};
  const char* pch = locals.szVersion;
  for (int i = 0; i < 4; ++i) {
    if ((i > 0 && *pch++ != '.') || !InstallScanInt(pch, &anVersion[i], &pch)) {
      break;
    }
  }
  char szBuildVersion[32] = {};
  snprintf(szBuildVersion, sizeof(szBuildVersion), "%d.%d", anVersion[0], anVersion[1]);
  InstallLog(hInstall, kLogRowTrace, "Set BUILDVERSION=%s", szBuildVersion);
}

extern "C" UINT __stdcall VrinNTInitialise(MSIHANDLE hInstall) {
  InitialiseLocals locals = {};
  return InstallRunAction(hInstall, kInitialise, locals, InitialiseBody, ReleaseInitialise);
}

// --- VrinNTPreviousVersionInstalled ---

struct PreviousVersionLocals {
  SC_HANDLE hManager;
  SC_HANDLE hService;
  BYTE* pConfig;
  VS_FIXEDFILEINFO* pVersion;
  char* szProducts;
};

static void ReleasePreviousVersion(PreviousVersionLocals& locals) {
  InstallCloseService(locals.hService);
  InstallCloseService(locals.hManager);
  delete[] locals.pConfig;
  locals.pConfig = nullptr;
  delete locals.pVersion;
  locals.pVersion = nullptr;
  InstallFreeString(locals.szProducts);
}

static void SetFlag(MSIHANDLE hInstall, const char* szName, const char* szValue, const char* szContext) {
  UINT uResult = MsiSetProperty(hInstall, szName, szValue);
  if (uResult != ERROR_SUCCESS) {
    InstallRaise(szContext, uResult);
  }
}

static void PreviousVersionBody(MSIHANDLE hInstall, PreviousVersionLocals& locals) {
  locals.hManager = InstallOpenServiceManager("VrinNTPreviousVersionInstalled : OpenSCManager");
  locals.hService =
      InstallOpenServiceEntry(locals.hManager, kServiceName, "VrinNTPreviousVersionInstalled : OpenService");
  const ServiceConfigContexts contexts = {"VrinNTPreviousVersionInstalled : QueryServiceConfig(1)",
                                          "VrinNTPreviousVersionInstalled : szConfig",
                                          "VrinNTPreviousVersionInstalled : QueryServiceConfig(2)"};
  locals.pConfig = InstallReadServiceConfig(locals.hService, contexts);
  const QUERY_SERVICE_CONFIG* pConfig = reinterpret_cast<const QUERY_SERVICE_CONFIG*>(locals.pConfig);

  // A path that would not fit MAX_PATH is refused rather than cut.
  char szImage[MAX_PATH] = {};
  if (!CopyImagePath(szImage, sizeof(szImage), pConfig->lpBinaryPathName)) {
    InstallRaise("VrinNTPreviousVersionInstalled : lpBinaryPathName", ERROR_FILENAME_EXCED_RANGE);
  }
  locals.pVersion = InstallGetFileVersion(hInstall, szImage);
  const DWORD dwMajor = locals.pVersion->dwFileVersionMS >> 16;

  if (dwMajor < kFirstPreviousMajor) {
    InstallLog(hInstall, kLogRowTrace, "Set NTSERVERUPGRADE");
    SetFlag(hInstall, "NTSERVERUPGRADE", "1", "VrinNTPreviousVersionInstalled : MsiSetProperty(1)");
  }

  locals.szProducts = InstallGetProperty(hInstall, "PRODUCTS");
  int nProduct = 0;
  const char* pch = locals.szProducts;
  if (pch[0] != '\0' && !InstallScanInt(pch, &nProduct, &pch)) {
    nProduct = 0;
  }
  if (nProduct != kOwningProduct && dwMajor >= kFirstPreviousMajor && dwMajor <= kLastPreviousMajor &&
      dwMajor != kCurrentMajor) {
    InstallLog(hInstall, kLogRowTrace, "Set NTSERVERUPGRADE2");
    SetFlag(hInstall, "NTSERVERUPGRADE2", "1", "VrinNTPreviousVersionInstalled : MsiSetProperty(1)");
  }

  char* pLastBackslash = InstallFindLastChar(szImage, '\\');
  if (pLastBackslash != nullptr) {
    *pLastBackslash = '\0';
  }
  InstallLog(hInstall, kLogRowTrace, "Set NTSERVERINSTALLDIR = %s", szImage);
  SetFlag(hInstall, "NTSERVERINSTALLDIR", szImage, "VrinNTPreviousVersionInstalled : MsiSetProperty(2)");
}

extern "C" UINT __stdcall VrinNTPreviousVersionInstalled(MSIHANDLE hInstall) {
  PreviousVersionLocals locals = {};
  return InstallRunAction(hInstall, kPreviousVersionInstalled, locals, PreviousVersionBody, ReleasePreviousVersion);
}

// --- Routines that never raise ---

BOOL GetServiceImagePath(char* szImagePath, size_t cbImagePath) {
  SC_HANDLE hManager = OpenSCManager("", nullptr, SC_MANAGER_ALL_ACCESS);
  if (hManager == nullptr) {
    return FALSE;
  }
  SC_HANDLE hService = OpenService(hManager, kServiceName, SERVICE_ALL_ACCESS);
  BYTE* pConfig = nullptr;
  BOOL bResult = FALSE;
  DWORD cbNeeded = 0;
  if (hService != nullptr && !QueryServiceConfig(hService, nullptr, 0, &cbNeeded) &&
      GetLastError() == ERROR_INSUFFICIENT_BUFFER && cbNeeded >= sizeof(QUERY_SERVICE_CONFIG)) {
    pConfig = new (std::nothrow) BYTE[cbNeeded];
  }
  if (pConfig != nullptr &&
      QueryServiceConfig(hService, reinterpret_cast<LPQUERY_SERVICE_CONFIG>(pConfig), cbNeeded, &cbNeeded)) {
    const QUERY_SERVICE_CONFIG* pRecord = reinterpret_cast<const QUERY_SERVICE_CONFIG*>(pConfig);
    bResult = CopyImagePath(szImagePath, cbImagePath, pRecord->lpBinaryPathName) ? TRUE : FALSE;
  }
  delete[] pConfig;
  InstallCloseService(hService);
  InstallCloseService(hManager);
  return bResult;
}

VS_FIXEDFILEINFO* QueryFileVersion(MSIHANDLE hInstall, const char* szPath) {
  InstallLog(hInstall, kLogRowTrace, "InstallGetFileVersion -> %s", InstallTraceText(szPath));
  DWORD dwHandle = 0;
  DWORD cbVersion = GetFileVersionInfoSize(szPath, &dwHandle);
  if (cbVersion == 0) {
    return nullptr;
  }
  BYTE* pVerData = new (std::nothrow) BYTE[cbVersion];
  if (pVerData == nullptr) {
    return nullptr;
  }
  VS_FIXEDFILEINFO* pCopy = nullptr;
  LPVOID pValue = nullptr;
  UINT cbValue = 0;
  // A root block shorter than the fixed record would be read past its end.
  if (GetFileVersionInfo(szPath, dwHandle, cbVersion, pVerData) && VerQueryValue(pVerData, "\\", &pValue, &cbValue) &&
      pValue != nullptr && cbValue >= sizeof(VS_FIXEDFILEINFO)) {
    pCopy = new (std::nothrow) VS_FIXEDFILEINFO;
    if (pCopy != nullptr) {
      memcpy(pCopy, pValue, sizeof(VS_FIXEDFILEINFO));
    }
  }
  delete[] pVerData;
  return pCopy;
}

BOOL WriteBuildNumber(MSIHANDLE hInstall) {
  char szImage[MAX_PATH] = {};
  if (!GetServiceImagePath(szImage, sizeof(szImage))) {
    return FALSE;
  }
  VS_FIXEDFILEINFO* pVersion = QueryFileVersion(hInstall, szImage);
  if (pVersion == nullptr) {
    return FALSE;
  }
  DWORD dwBuild = pVersion->dwFileVersionLS & 0xFFFF;
  if (dwBuild == 0) {
    dwBuild = pVersion->dwFileVersionLS >> 16;
  }
  delete pVersion;
  // Only into a product key that is there: a removed product is not revived.
  HKEY hKey = nullptr;
  if (RegOpenKeyEx(HKEY_LOCAL_MACHINE, kProductKey, 0, KEY_ALL_ACCESS, &hKey) != ERROR_SUCCESS) {
    return FALSE;
  }
  LONG lResult =
      RegSetValueEx(hKey, kBuildNumberValue, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&dwBuild), sizeof(dwBuild));
  RegCloseKey(hKey);
  return lResult == ERROR_SUCCESS ? TRUE : FALSE;
}
