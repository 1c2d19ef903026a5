#include "server/service_control.h"

#include <new>

#include "runtime/action_frame.h"
#include "runtime/file_helpers.h"
#include "runtime/resource_string.h"
#include "runtime/session_access.h"
#include "runtime/string_helpers.h"
#include "runtime/text_compare.h"

static const char kDriverName[] = "SKDDriver";
static const char kServiceName[] = "Skelda";
// Written unexpanded: the entry follows the Windows folder wherever it is.
static const char kDriverImagePath[] = "%SystemRoot%\\system32\\drivers\\skdnt.sys";
static const char kDriverGroup[] = "Filter";
static const DWORD kDriverDisplayNameMessage = 0x40000002;
static const char kRefCounterProperty[] = "NTSERVERREFCOUNTER";
// The count of the server's shared files when this removal takes the last user.
static const char kLastUser[] = "1";
static const DWORD kStartTimeout = 15000;
// What the service is given to settle after its start, whatever the wait gave.
static const DWORD kServiceSettleTime = 10000;
static const DWORD kMinimumCrtMajor = 6;

static const ActionInfo kInstallDriver = {"VrinNTInstallDriver", ERROR_BAD_ARGUMENTS, "VrinNTInstallDriver : hInstall",
                                          ERROR_INSTALL_FAILURE, kTraceAction};
static const ActionInfo kUninstallDriver = {"VrinNTUninstallDriver", ERROR_BAD_ARGUMENTS,
                                            "VrinNTUninstallDriver : hInstall", ERROR_SUCCESS, kTraceAction};
static const ActionInfo kUninstallService = {"VrinNTUninstallService", ERROR_BAD_ARGUMENTS,
                                             "VrinNTUninstallService : hInstall", ERROR_SUCCESS, kTraceAction};
static const ActionInfo kStartVrin = {"VrinNTStartVrin", ERROR_BAD_ARGUMENTS, "VrinNTStartVrin : hInstall",
                                      ERROR_SUCCESS, kTraceAction};
static const ActionInfo kInstallationValidation = {"VrinNTInstallationValidation", ERROR_BAD_ARGUMENTS,
                                                   "VrinNTInstallationValidation : hInstall", ERROR_SUCCESS,
                                                   kTraceAction};

// What the five actions own while they run.
struct ServiceLocals {
  SC_HANDLE hManager;
  SC_HANDLE hService;
  char* szDisplayName;  // FormatMessage's allocation: LocalFree
  BYTE* pConfig;
  char* szProperty;
};

static void ReleaseServiceLocals(ServiceLocals& locals) {
  InstallCloseService(locals.hService);
  InstallCloseService(locals.hManager);
  if (locals.szDisplayName != nullptr) {
    LocalFree(locals.szDisplayName);
    locals.szDisplayName = nullptr;
  }
  delete[] locals.pConfig;
  locals.pConfig = nullptr;
  InstallFreeString(locals.szProperty);
}

// --- Shared routines ---

BOOL WaitForServiceState(SC_HANDLE hService, DWORD dwState, SERVICE_STATUS* pStatus, DWORD dwTimeout) {
  // Elapsed time rather than a deadline: the difference of two tick counts is
  // right across the wrap of the tick count after 49.7 days, a comparison
  // with a deadline is not.
  const DWORD dwStart = GetTickCount();
  bool bFirst = true;
  DWORD dwLastState = 0;
  DWORD dwLastCheckPoint = 0;
  for (;;) {
    if (!QueryServiceStatus(hService, pStatus)) {
      return FALSE;
    }
    if (pStatus->dwCurrentState == dwState) {
      return TRUE;
    }
    const DWORD dwElapsed = GetTickCount() - dwStart;
    if (dwTimeout != INFINITE && dwElapsed >= dwTimeout) {
      SetLastError(ERROR_TIMEOUT);
      return TRUE;
    }
    if (bFirst || pStatus->dwCurrentState != dwLastState) {
      bFirst = false;
      dwLastState = pStatus->dwCurrentState;
      dwLastCheckPoint = pStatus->dwCheckPoint;
    } else if (pStatus->dwCheckPoint > dwLastCheckPoint) {
      dwLastCheckPoint = pStatus->dwCheckPoint;
    } else {
      return FALSE;
    }
    // The service's wait hint, but never beyond the time-out: a service that
    // asks for minutes must not hold the installation past it. INFINITE is
    // never passed on, so a wait hint cannot block for ever either.
    DWORD dwSleep = pStatus->dwWaitHint;
    if (dwTimeout != INFINITE && dwSleep > dwTimeout - dwElapsed) {
      dwSleep = dwTimeout - dwElapsed;
    }
    if (dwSleep == INFINITE) {
      dwSleep = INFINITE - 1;
    }
    if (dwSleep != 0) {
      Sleep(dwSleep);
    }
  }
}

SC_HANDLE InstallOpenServiceManager(const char* szContext) {
  SC_HANDLE hManager = OpenSCManager("", nullptr, SC_MANAGER_ALL_ACCESS);
  if (hManager == nullptr) {
    InstallRaise(szContext, GetLastError());
  }
  return hManager;
}

SC_HANDLE InstallOpenServiceEntry(SC_HANDLE hManager, const char* szName, const char* szContext) {
  SC_HANDLE hService = OpenService(hManager, szName, SERVICE_ALL_ACCESS);
  if (hService == nullptr) {
    InstallRaise(szContext, GetLastError());
  }
  return hService;
}

void InstallCloseService(SC_HANDLE& hService) {
  if (hService != nullptr) {
    CloseServiceHandle(hService);
    hService = nullptr;
  }
}

BYTE* InstallReadServiceConfig(SC_HANDLE hService, const ServiceConfigContexts& contexts) {
  DWORD cbNeeded = 0;
  if (!QueryServiceConfig(hService, nullptr, 0, &cbNeeded)) {
    DWORD dwError = GetLastError();
    if (dwError != ERROR_INSUFFICIENT_BUFFER) {
      InstallRaise(contexts.szSizeQuery, dwError);
    }
  }
  // A record of its own size at least: the second call fills it in any case.
  if (cbNeeded < sizeof(QUERY_SERVICE_CONFIG)) {
    cbNeeded = sizeof(QUERY_SERVICE_CONFIG);
  }
  BYTE* pConfig = new (std::nothrow) BYTE[cbNeeded];
  if (pConfig == nullptr) {
    InstallRaise(contexts.szAllocation, ERROR_OUTOFMEMORY);
  }
  if (!QueryServiceConfig(hService, reinterpret_cast<LPQUERY_SERVICE_CONFIG>(pConfig), cbNeeded, &cbNeeded)) {
    DWORD dwError = GetLastError();
    delete[] pConfig;
    InstallRaise(contexts.szQuery, dwError);
  }
  return pConfig;
}

// The driver's display name in the installation's language; null when the
// message table could not give it.
static char* BuildDriverDisplayName(MSIHANDLE hInstall) {
  return InstallGetResourceString(hInstall, kDriverDisplayNameMessage, "OV", "Velmora");
}

static bool IsLastUser(const char* szCounter) { return InstallCompareText(szCounter, kLastUser) == 0; }

// --- VrinNTInstallDriver ---

static void InstallDriverBody(MSIHANDLE hInstall, ServiceLocals& locals) {
  locals.hManager = InstallOpenServiceManager("VrinNTInstallDriver : OpenSCManager");
  locals.szDisplayName = BuildDriverDisplayName(hInstall);
  // Without a display name Windows shows the entry's name.
  locals.hService = CreateService(locals.hManager, kDriverName, locals.szDisplayName, SERVICE_ALL_ACCESS,
                                  SERVICE_FILE_SYSTEM_DRIVER, SERVICE_AUTO_START, SERVICE_ERROR_NORMAL,
                                  kDriverImagePath, kDriverGroup, nullptr, nullptr, nullptr, nullptr);
  if (locals.hService != nullptr) {
    return;
  }
  DWORD dwError = GetLastError();
  if (dwError != ERROR_SERVICE_EXISTS) {
    InstallRaise("VrinNTInstallDriver : CreateService", dwError);
  }

  // The entry exists: only its path and display name are brought into line;
  // its type, start type, error control and group stay as they are.
  locals.hService = InstallOpenServiceEntry(locals.hManager, kDriverName, "VrinNTInstallDriver : OpenService");
  const ServiceConfigContexts contexts = {"VrinNTInstallDriver : QueryServiceConfig(1)",
                                          "VrinNTInstallDriver : szConfig",
                                          "VrinNTInstallDriver : QueryServiceConfig(2)"};
  locals.pConfig = InstallReadServiceConfig(locals.hService, contexts);
  const QUERY_SERVICE_CONFIG* pConfig = reinterpret_cast<const QUERY_SERVICE_CONFIG*>(locals.pConfig);
  InstallLog(hInstall, kLogRowTrace, "Driver path = %s", InstallTraceText(pConfig->lpBinaryPathName));
  InstallLog(hInstall, kLogRowTrace, "Driver display name = %s", InstallTraceText(pConfig->lpDisplayName));
  bool bPathDiffers = InstallCompareTextNoCase(pConfig->lpBinaryPathName, kDriverImagePath) != 0;
  bool bNameDiffers =
      locals.szDisplayName != nullptr && InstallCompareText(pConfig->lpDisplayName, locals.szDisplayName) != 0;
  if (bPathDiffers || bNameDiffers) {
    if (!ChangeServiceConfig(locals.hService, SERVICE_NO_CHANGE, SERVICE_NO_CHANGE, SERVICE_NO_CHANGE, kDriverImagePath,
                             nullptr, nullptr, nullptr, nullptr, nullptr, locals.szDisplayName)) {
      InstallRaise("VrinNTInstallDriver : ChangeServiceConfig", GetLastError());
    }
  }
}

// An entry that exists or waits for its deletion is reported and let pass:
// the installation goes on with the driver that is there.
static void InstallDriverTolerant(MSIHANDLE hInstall, ServiceLocals& locals) {
  try {
    InstallDriverBody(hInstall, locals);
  } catch (CInstallException* pException) {
    if (pException == nullptr ||
        (pException->m_dwError != ERROR_SERVICE_EXISTS && pException->m_dwError != ERROR_SERVICE_MARKED_FOR_DELETE)) {
      throw;
    }
    ReleaseServiceLocals(locals);
    InstallEndFailure(hInstall, kInstallDriver.szName, pException, true);
  }
}

extern "C" UINT __stdcall VrinNTInstallDriver(MSIHANDLE hInstall) {
  ServiceLocals locals = {};
  return InstallRunAction(hInstall, kInstallDriver, locals, InstallDriverTolerant, ReleaseServiceLocals);
}

// --- VrinNTUninstallDriver ---

static void UninstallDriverBody(MSIHANDLE hInstall, ServiceLocals& locals) {
  locals.hManager = InstallOpenServiceManager("VrinNTUninstallDriver : OpenSCManager");
  locals.hService = InstallOpenServiceEntry(locals.hManager, kDriverName, "VrinNTUninstallDriver : OpenService");
  locals.szProperty = InstallGetProperty(hInstall, kRefCounterProperty);
  if (IsLastUser(locals.szProperty) && !DeleteService(locals.hService)) {
    InstallRaise("VrinNTUninstallDriver : DeleteService", GetLastError());
  }
}

extern "C" UINT __stdcall VrinNTUninstallDriver(MSIHANDLE hInstall) {
  ServiceLocals locals = {};
  return InstallRunAction(hInstall, kUninstallDriver, locals, UninstallDriverBody, ReleaseServiceLocals);
}

// --- VrinNTUninstallService ---

static void UninstallServiceBody(MSIHANDLE hInstall, ServiceLocals& locals) {
  locals.hManager = InstallOpenServiceManager("VrinNTUninstallService : OpenSCManager");
  locals.hService = InstallOpenServiceEntry(locals.hManager, kServiceName, "VrinNTUninstallService : OpenService");
  locals.szProperty = InstallGetProperty(hInstall, kRefCounterProperty);
  if (IsLastUser(locals.szProperty)) {
    if (!DeleteService(locals.hService)) {
      InstallRaise("VrinNTUninstallService : DeleteService", GetLastError());
    }
    return;
  }
  // Other products still use the server: it runs on.
  if (!StartService(locals.hService, 0, nullptr)) {
    InstallRaise("VrinNTUninstallService : StartService", GetLastError());
  }
  SERVICE_STATUS status = {};
  WaitForServiceState(locals.hService, SERVICE_RUNNING, &status, kStartTimeout);
}

extern "C" UINT __stdcall VrinNTUninstallService(MSIHANDLE hInstall) {
  ServiceLocals locals = {};
  return InstallRunAction(hInstall, kUninstallService, locals, UninstallServiceBody, ReleaseServiceLocals);
}

// --- VrinNTStartVrin ---

// Whether the components may be started now: not on a system whose C runtime
// predates the one the service needs, not when the installation forces a
// reboot, not when the installer has a reboot pending (the driver is loaded
// at boot then). Raises only when the runtime's version cannot be read.
static bool StartWanted(MSIHANDLE hInstall) {
  char szSystem[MAX_PATH] = {};
  UINT cchSystem = GetSystemDirectory(szSystem, MAX_PATH);
  if (cchSystem != 0 && cchSystem < MAX_PATH) {
    char szCrt[MAX_PATH] = {};
    InstallAddBackslash(szSystem, sizeof(szSystem));
    InstallMakePath(szCrt, sizeof(szCrt), szSystem, "msvcrt.dll");
    VS_FIXEDFILEINFO* pVersion = InstallGetFileVersion(0, szCrt);
    DWORD dwMajor = pVersion->dwFileVersionMS >> 16;
    delete pVersion;
    if (dwMajor < kMinimumCrtMajor) {
      return false;
    }
  }
  // Ten characters are enough to see "Force"; what does not fit is cut.
  char szReboot[10] = {};
  DWORD cchReboot = sizeof(szReboot);
  MsiGetProperty(hInstall, "REBOOT", szReboot, &cchReboot);
  szReboot[sizeof(szReboot) - 1] = '\0';
  if (InstallFindText(szReboot, "Force") != nullptr) {
    return false;
  }
  return !MsiGetMode(hInstall, MSIRUNMODE_REBOOTNOW) && !MsiGetMode(hInstall, MSIRUNMODE_REBOOTATEND);
}

// A component that is not running when its wait ends (stalled, still
// starting, or stopped again) changes neither the result nor what follows,
// but the log must show it.
static void TraceNotRunning(MSIHANDLE hInstall, const char* szName, const SERVICE_STATUS& status) {
  if (status.dwCurrentState != SERVICE_RUNNING) {
    InstallLog(hInstall, kLogRowWarning, "%s not running after start (state %d)", szName,
               static_cast<int>(status.dwCurrentState));
  }
}

static void StartVrinBody(MSIHANDLE hInstall, ServiceLocals& locals) {
  InstallCheckSession(hInstall, kStartVrin);
  locals.hManager = InstallOpenServiceManager("VrinNTStartVrin : OpenSCManager");

  locals.hService = InstallOpenServiceEntry(locals.hManager, kDriverName, "VrinNTStartVrin : OpenService");
  if (!StartService(locals.hService, 0, nullptr)) {
    InstallRaise("VrinNTStartVrin : StartService (1)", GetLastError());
  }
  SERVICE_STATUS status = {};
  BOOL bDriverUp = WaitForServiceState(locals.hService, SERVICE_RUNNING, &status, kStartTimeout);
  InstallCloseService(locals.hService);
  TraceNotRunning(hInstall, kDriverName, status);
  // A driver that stopped making progress would take the service down with it.
  if (!bDriverUp) {
    return;
  }

  locals.hService = InstallOpenServiceEntry(locals.hManager, kServiceName, "VrinNTStartVrin : OpenService");
  if (!StartService(locals.hService, 0, nullptr)) {
    InstallRaise("VrinNTStartVrin : StartService (2)", GetLastError());
  }
  status = SERVICE_STATUS{};
  WaitForServiceState(locals.hService, SERVICE_RUNNING, &status, kStartTimeout);
  TraceNotRunning(hInstall, kServiceName, status);
  Sleep(kServiceSettleTime);
}

// After a failed start the components come up at the next boot: the package
// is told to ask for it, unless it already restarts the machine. A failure
// here is reported and changes nothing else.
static void RequestRebootStartup(MSIHANDLE hInstall) {
  char* szMode = nullptr;
  try {
    szMode = InstallGetProperty(hInstall, "STARTUPMODE");
    if (InstallCompareTextNoCase(szMode, "Reboot") != 0) {
      InstallLog(hInstall, kLogRowTrace, "Set STARTUPMODE=NeedReboot");
      MsiSetProperty(hInstall, "STARTUPMODE", "NeedReboot");
    }
  } catch (CInstallException* pException) {
    InstallEndFailure(hInstall, kStartVrin.szName, pException, true);
  }
  InstallFreeString(szMode);
}

// The frame's steps in the order this action needs them: the checks that may
// skip the start come between the entry trace and the session check, and a
// skip writes no exit trace.
extern "C" UINT __stdcall VrinNTStartVrin(MSIHANDLE hInstall) {
  InstallTraceActionEntry(hInstall, kStartVrin);
  try {
    if (!StartWanted(hInstall)) {
      return ERROR_SUCCESS;
    }
  } catch (CInstallException* pException) {
    // Nothing was started: reported, and the installation goes on.
    InstallEndFailure(hInstall, kStartVrin.szName, pException, true);
    InstallTraceActionExit(hInstall, kStartVrin, ERROR_SUCCESS);
    return ERROR_SUCCESS;
  }

  ServiceLocals locals = {};
  try {
    StartVrinBody(hInstall, locals);
    ReleaseServiceLocals(locals);
  } catch (CInstallException* pException) {
    ReleaseServiceLocals(locals);
    InstallEndFailure(hInstall, kStartVrin.szName, pException, true);
    RequestRebootStartup(hInstall);
  }
  InstallTraceActionExit(hInstall, kStartVrin, ERROR_SUCCESS);
  return ERROR_SUCCESS;
}

// --- VrinNTInstallationValidation ---

static void InstallationValidationBody(MSIHANDLE hInstall, ServiceLocals& locals) {
  locals.hManager = InstallOpenServiceManager("VrinNTInstallationValidation : OpenSCManager");
  locals.hService = InstallOpenServiceEntry(locals.hManager, kDriverName, "VrinNTInstallationValidation : OpenService");
  SERVICE_STATUS status = {};
  if (!QueryServiceStatus(locals.hService, &status)) {
    InstallRaise("VrinNTInstallationValidation : QueryServiceStatus", GetLastError());
  }
  InstallLog(hInstall, kLogRowTrace, "Driver status = %d", static_cast<int>(status.dwCurrentState));
  if (status.dwCurrentState != SERVICE_RUNNING) {
    return;
  }
  // Rewriting the display name is the probe: only an entry marked for
  // deletion refuses it with ERROR_SERVICE_MARKED_FOR_DELETE.
  locals.szDisplayName = BuildDriverDisplayName(hInstall);
  if (!ChangeServiceConfig(locals.hService, SERVICE_NO_CHANGE, SERVICE_NO_CHANGE, SERVICE_NO_CHANGE, nullptr, nullptr,
                           nullptr, nullptr, nullptr, nullptr, locals.szDisplayName) &&
      GetLastError() == ERROR_SERVICE_MARKED_FOR_DELETE) {
    InstallLog(hInstall, kLogRowTrace, "Set DRIVERPENDINGDELETION=1");
    UINT uResult = MsiSetProperty(hInstall, "DRIVERPENDINGDELETION", "1");
    if (uResult != ERROR_SUCCESS) {
      InstallRaise("VrinNTInstallationValidation : MsiSetProperty", uResult);
    }
  }
}

extern "C" UINT __stdcall VrinNTInstallationValidation(MSIHANDLE hInstall) {
  ServiceLocals locals = {};
  return InstallRunAction(hInstall, kInstallationValidation, locals, InstallationValidationBody, ReleaseServiceLocals);
}
