// advapi32's Service Control Manager calls over the simulated manager
// (host/services.h). Every call can be made to fail (host/faults.h) under its
// name without the A; the key is the service's name, none for OpenSCManager.
#include "host/faults.h"
#include "host/services.h"
#include "host/win32_api.h"

namespace {

SC_HANDLE ToHandle(uintptr_t value) { return reinterpret_cast<SC_HANDLE>(value); }
uintptr_t FromHandle(SC_HANDLE handle) { return reinterpret_cast<uintptr_t>(handle); }

// The key of a fault rule for a call on a service handle.
const char* KeyOf(SC_HANDLE handle) { return host::Services().HandleKey(FromHandle(handle)); }

BOOL Result(uint32_t error) {
  if (error == ERROR_SUCCESS) return TRUE;
  SetLastError(error);
  return FALSE;
}

SC_HANDLE HandleResult(uint32_t error, uintptr_t handle) {
  if (error == ERROR_SUCCESS) return ToHandle(handle);
  SetLastError(error);
  return nullptr;
}

}  // namespace

extern "C" {

SC_HANDLE OpenSCManagerA(LPCSTR lpMachineName, LPCSTR lpDatabaseName, DWORD dwDesiredAccess) {
  if (auto error = host::Faults::Instance().Check("OpenSCManager")) return HandleResult(*error, 0);
  uintptr_t handle = 0;
  uint32_t error = host::Services().OpenManager(lpMachineName, lpDatabaseName, dwDesiredAccess, &handle);
  return HandleResult(error, handle);
}

SC_HANDLE OpenServiceA(SC_HANDLE hSCManager, LPCSTR lpServiceName, DWORD dwDesiredAccess) {
  if (auto error = host::Faults::Instance().Check("OpenService", lpServiceName)) return HandleResult(*error, 0);
  uintptr_t handle = 0;
  uint32_t error = host::Services().OpenEntry(FromHandle(hSCManager), lpServiceName, dwDesiredAccess, &handle);
  return HandleResult(error, handle);
}

SC_HANDLE CreateServiceA(SC_HANDLE hSCManager, LPCSTR lpServiceName, LPCSTR lpDisplayName, DWORD dwDesiredAccess,
                         DWORD dwServiceType, DWORD dwStartType, DWORD dwErrorControl, LPCSTR lpBinaryPathName,
                         LPCSTR lpLoadOrderGroup, LPDWORD lpdwTagId, LPCSTR lpDependencies, LPCSTR lpServiceStartName,
                         LPCSTR lpPassword) {
  (void)lpPassword;
  if (auto error = host::Faults::Instance().Check("CreateService", lpServiceName)) return HandleResult(*error, 0);
  uintptr_t handle = 0;
  uint32_t error = host::Services().CreateEntry(
      FromHandle(hSCManager), lpServiceName, lpDisplayName, dwDesiredAccess, dwServiceType, dwStartType, dwErrorControl,
      lpBinaryPathName, lpLoadOrderGroup, lpdwTagId, lpDependencies, lpServiceStartName, &handle);
  return HandleResult(error, handle);
}

BOOL QueryServiceConfigA(SC_HANDLE hService, LPQUERY_SERVICE_CONFIGA lpServiceConfig, DWORD cbBufSize,
                         LPDWORD pcbBytesNeeded) {
  if (auto error = host::Faults::Instance().Check("QueryServiceConfig", KeyOf(hService))) return Result(*error);
  return Result(host::Services().QueryConfig(FromHandle(hService), lpServiceConfig, cbBufSize, pcbBytesNeeded));
}

BOOL ChangeServiceConfigA(SC_HANDLE hService, DWORD dwServiceType, DWORD dwStartType, DWORD dwErrorControl,
                          LPCSTR lpBinaryPathName, LPCSTR lpLoadOrderGroup, LPDWORD lpdwTagId, LPCSTR lpDependencies,
                          LPCSTR lpServiceStartName, LPCSTR lpPassword, LPCSTR lpDisplayName) {
  (void)lpPassword;
  if (auto error = host::Faults::Instance().Check("ChangeServiceConfig", KeyOf(hService))) return Result(*error);
  return Result(host::Services().ChangeConfig(FromHandle(hService), dwServiceType, dwStartType, dwErrorControl,
                                              lpBinaryPathName, lpLoadOrderGroup, lpdwTagId, lpDependencies,
                                              lpServiceStartName, lpDisplayName));
}

BOOL QueryServiceStatus(SC_HANDLE hService, LPSERVICE_STATUS lpServiceStatus) {
  if (auto error = host::Faults::Instance().Check("QueryServiceStatus", KeyOf(hService))) return Result(*error);
  return Result(host::Services().QueryStatus(FromHandle(hService), lpServiceStatus));
}

BOOL StartServiceA(SC_HANDLE hService, DWORD dwNumServiceArgs, LPCSTR* lpServiceArgVectors) {
  (void)dwNumServiceArgs;
  (void)lpServiceArgVectors;
  if (auto error = host::Faults::Instance().Check("StartService", KeyOf(hService))) return Result(*error);
  return Result(host::Services().Start(FromHandle(hService)));
}

BOOL DeleteService(SC_HANDLE hService) {
  if (auto error = host::Faults::Instance().Check("DeleteService", KeyOf(hService))) return Result(*error);
  return Result(host::Services().Delete(FromHandle(hService)));
}

// A failure made by a fault rule leaves the handle open, as a close that
// did not happen would.
BOOL CloseServiceHandle(SC_HANDLE hSCObject) {
  if (auto error = host::Faults::Instance().Check("CloseServiceHandle", KeyOf(hSCObject))) return Result(*error);
  return Result(host::Services().Close(FromHandle(hSCObject)));
}
}
