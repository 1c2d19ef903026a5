#include "setup/probes.h"

#include <cstring>

#include "runtime/action_frame.h"
#include "runtime/number_scan.h"
#include "runtime/registry_helpers.h"
#include "runtime/session_access.h"

static const ActionInfo kNovellClientInstalled = {"VrinNovellClientInstalled", ERROR_BAD_ARGUMENTS,
                                                  "VrinNovellClientInstalled : hInstall", ERROR_SUCCESS, kTraceAction};
static const ActionInfo kInitUsers = {"VrinInitUsers", ERROR_BAD_ARGUMENTS, "VrinInitUsers : hInstall", ERROR_SUCCESS,
                                      kTraceAction};
static const ActionInfo kScheduleReboot = {"VrinScheduleReboot", 0, nullptr, ERROR_SUCCESS, kTraceAction};

static const char kEnterpriseBackupKey[] = "SOFTWARE\\Orvannic\\Lumicor Enterprise Backup";
static const char kTessaroBackupKey[] = "SOFTWARE\\Orvannic\\Lumicor Tessaro Backup";
static const int kEnterpriseSubType = 2;

BOOL IsNovellClientInstalled() {
  char szProvider[256] = {};
  DWORD cchProvider = sizeof(szProvider);
  if (WNetGetProviderName(WNNC_NET_NETWARE, szProvider, &cchProvider) != ERROR_SUCCESS) {
    return FALSE;
  }
  NETINFOSTRUCT netInfo;
  memset(&netInfo, 0, sizeof(netInfo));
  netInfo.cbStructure = sizeof(netInfo);
  if (WNetGetNetworkInformation(szProvider, &netInfo) != ERROR_SUCCESS) {
    return FALSE;
  }
  return netInfo.dwProviderVersion != 0 ? TRUE : FALSE;
}

static void NovellClientInstalled(MSIHANDLE hInstall) {
  if (!IsNovellClientInstalled()) {
    return;
  }
  InstallLog(hInstall, kLogRowTrace, "Set NOVELLCLIENT = 1");
  UINT uResult = MsiSetProperty(hInstall, "NOVELLCLIENT", "1");
  if (uResult != ERROR_SUCCESS) {
    InstallRaise("VrinNovellClientInstalled : MsiSetProperty(1)", uResult);
  }
}

extern "C" UINT __stdcall VrinNovellClientInstalled(MSIHANDLE hInstall) {
  return InstallRunAction(hInstall, kNovellClientInstalled, NovellClientInstalled);
}

static void SetTracedProperty(MSIHANDLE hInstall, const char* szName, const char* szValue, const char* szContext) {
  InstallLog(hInstall, kLogRowTrace, "Setting %s=%s", szName, szValue);
  UINT uResult = MsiSetProperty(hInstall, szName, szValue);
  if (uResult != ERROR_SUCCESS) {
    InstallRaise(szContext, uResult);
  }
}

// An administrator installs for all users, anybody else for himself.
static void InitUsers(MSIHANDLE hInstall) {
  MSICONDITION eAdmin = MsiEvaluateCondition(hInstall, "AdminUser");
  if (eAdmin == MSICONDITION_TRUE) {
    SetTracedProperty(hInstall, "ALLUSERS", "1", "VrinInitUsers : MsiSetProperty(1)");
    SetTracedProperty(hInstall, "ApplicationUsers", "AllUsers", "VrinInitUsers : MsiSetProperty(2)");
  } else if (eAdmin == MSICONDITION_FALSE) {
    SetTracedProperty(hInstall, "ALLUSERS", "2", "VrinInitUsers : MsiSetProperty(3)");
    SetTracedProperty(hInstall, "ApplicationUsers", "OnlyCurrentUser", "VrinInitUsers : MsiSetProperty(4)");
  } else {
    InstallRaise("VrinInitUsers : MsiEvaluateCondition(1)", static_cast<DWORD>(eAdmin));
  }
}

extern "C" UINT __stdcall VrinInitUsers(MSIHANDLE hInstall) {
  return InstallRunAction(hInstall, kInitUsers, InitUsers);
}

struct ScheduleRebootLocals {
  char* szSubType;
};

static void ReleaseScheduleReboot(ScheduleRebootLocals& locals) { InstallFreeString(locals.szSubType); }

// The backup product of the sub-type restarts the machine itself; the
// installer must not.
static void ScheduleReboot(MSIHANDLE hInstall, ScheduleRebootLocals& locals) {
  locals.szSubType = InstallGetProperty(hInstall, "PRODSUBTYPE");
  if (locals.szSubType[0] != '\0') {
    int nSubType = 0;
    InstallScanInt(locals.szSubType, &nSubType);
    // A failed write is traced by the helper and tolerated.
    InstallSetRegValue(hInstall, nSubType == kEnterpriseSubType ? kEnterpriseBackupKey : kTessaroBackupKey, "Reboot",
                       1);
  }
  UINT uResult = MsiSetProperty(hInstall, "REBOOT", "Suppress");
  if (uResult != ERROR_SUCCESS) {
    InstallRaise("VrinScheduleReboot : MsiSetProperty(REBOOT)", uResult);
  }
}

extern "C" UINT __stdcall VrinScheduleReboot(MSIHANDLE hInstall) {
  ScheduleRebootLocals locals = {};
  return InstallRunAction(hInstall, kScheduleReboot, locals, ScheduleReboot, ReleaseScheduleReboot);
}
