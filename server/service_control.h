// The filter driver SKDDriver and the service Skelda in the Service Control
// Manager: the driver is registered and corrected here, both are started
// after an installation and deleted by the removal of the last server.
#pragma once

#include "host/platform.h"

// Polls the service's status into *pStatus until its state is dwState (TRUE),
// or it stops making progress: the same state with a checkpoint that has not
// grown since the last poll (FALSE), or the status cannot be read (FALSE, the
// query's last error). When dwTimeout milliseconds have passed it returns
// TRUE with the last error ERROR_TIMEOUT: the caller tells that from success
// by the state in *pStatus. INFINITE waits without limit. Between polls it
// sleeps the wait hint the service reported, never past the time-out.
BOOL WaitForServiceState(SC_HANDLE hService, DWORD dwState, SERVICE_STATUS* pStatus, DWORD dwTimeout);

// The Service Control Manager of the local computer with all access, and an
// entry of it with all access; each raises szContext with the last error.
SC_HANDLE InstallOpenServiceManager(const char* szContext);
SC_HANDLE InstallOpenServiceEntry(SC_HANDLE hManager, const char* szName, const char* szContext);
// Closes a manager or entry handle (if any) and nulls the owner's variable.
void InstallCloseService(SC_HANDLE& hService);

// The contexts of the three ways reading a configuration can fail.
struct ServiceConfigContexts {
  const char* szSizeQuery;   // the first QueryServiceConfig (any error but 122)
  const char* szAllocation;  // the buffer (14)
  const char* szQuery;       // the second QueryServiceConfig
};

// The entry's configuration: a new[] buffer that starts with the
// QUERY_SERVICE_CONFIG record its strings follow. Raises on failure.
BYTE* InstallReadServiceConfig(SC_HANDLE hService, const ServiceConfigContexts& contexts);

extern "C" {
// Registers the driver, or brings the path and display name of its existing
// entry into line. 1603 after a failure, except for ERROR_SERVICE_EXISTS and
// ERROR_SERVICE_MARKED_FOR_DELETE, which give 0.
UINT __stdcall VrinNTInstallDriver(MSIHANDLE hInstall);
// Deletes the driver entry when NTSERVERREFCOUNTER is "1". Always 0.
UINT __stdcall VrinNTUninstallDriver(MSIHANDLE hInstall);
// Deletes the service entry when NTSERVERREFCOUNTER is "1", else starts the
// service again. Always 0.
UINT __stdcall VrinNTUninstallService(MSIHANDLE hInstall);
// Starts the driver and then the service, unless a reboot is due or the
// system's C runtime is too old. A failed start asks for a reboot through
// STARTUPMODE. Always 0.
UINT __stdcall VrinNTStartVrin(MSIHANDLE hInstall);
// Sets DRIVERPENDINGDELETION to "1" for a running driver whose entry is
// marked for deletion. Always 0.
UINT __stdcall VrinNTInstallationValidation(MSIHANDLE hInstall);
}
