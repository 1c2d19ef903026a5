#include "server/server_tuning.h"

#include <cstring>

#include "runtime/action_frame.h"

static const char kServerParametersKey[] = "SYSTEM\\CurrentControlSet\\Services\\LanmanServer\\Parameters";
static const char kIRPStackSizeValue[] = "IRPstackSize";

// The server's range of stack locations changed with build 1946.
static const DWORD kFirstNewBuild = 1946;
static const DWORD kOldLowerBound = 5;
static const DWORD kOldUpperBound = 12;
static const DWORD kNewLowerBound = 15;
static const DWORD kNewUpperBound = 50;

static const ActionInfo kSetIRPStackSize = {"VrinNTSetIRPStackSize", 0, nullptr, ERROR_INSTALL_FAILURE, kTraceAction};
static const ActionInfo kUnSetIRPStackSize = {"VrinNTUnSetIRPStackSize", 0, nullptr, ERROR_INSTALL_FAILURE,
                                              kTraceAction};

// The low 16 bits of the build number (older Windows keep the version in the
// high word); 0 when the version cannot be read, which selects the old bounds.
static DWORD GetWindowsBuild() {
  OSVERSIONINFOA osvi;
  memset(&osvi, 0, sizeof(osvi));
  osvi.dwOSVersionInfoSize = sizeof(osvi);
  if (!GetVersionExA(&osvi)) {
    return 0;
  }
  return osvi.dwBuildNumber & 0xFFFF;
}

void AdjustIRPStackSize(bool bRaise) {
  DWORD dwBuild = GetWindowsBuild();
  DWORD dwLower = dwBuild >= kFirstNewBuild ? kNewLowerBound : kOldLowerBound;
  DWORD dwUpper = dwBuild >= kFirstNewBuild ? kNewUpperBound : kOldUpperBound;

  HKEY hKey = nullptr;
  if (RegOpenKeyEx(HKEY_LOCAL_MACHINE, kServerParametersKey, 0, KEY_ALL_ACCESS, &hKey) != ERROR_SUCCESS) {
    return;
  }
  // The lower bound is also the server's default. Data of another length
  // is no stack size (a shorter one would fill only part of the number).
  DWORD dwCurrent = 0;
  DWORD cbCurrent = sizeof(dwCurrent);
  LONG lRead =
      RegQueryValueEx(hKey, kIRPStackSizeValue, nullptr, nullptr, reinterpret_cast<LPBYTE>(&dwCurrent), &cbCurrent);
  if (lRead != ERROR_SUCCESS || cbCurrent != sizeof(dwCurrent)) {
    dwCurrent = dwLower;
  }

  bool bWrite = false;
  DWORD dwNew = dwCurrent;
  if (bRaise) {
    if (dwCurrent < dwUpper) {
      // A value below the range is one the server replaces by its default,
      // so the raise starts from there rather than writing below the range.
      dwNew = (dwCurrent < dwLower ? dwLower : dwCurrent) + 1;
      bWrite = true;
    }
  } else if (dwCurrent > dwLower && dwCurrent - 1 <= dwUpper) {
    // A value above the range was never raised by us: it stays.
    dwNew = dwCurrent - 1;
    bWrite = true;
  }
  if (bWrite) {
    RegSetValueEx(hKey, kIRPStackSizeValue, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&dwNew), sizeof(dwNew));
  }
  RegCloseKey(hKey);
}

static void RaiseIRPStackSize(MSIHANDLE) { AdjustIRPStackSize(true); }

static void LowerIRPStackSize(MSIHANDLE) { AdjustIRPStackSize(false); }

extern "C" UINT __stdcall VrinNTSetIRPStackSize(MSIHANDLE hInstall) {
  return InstallRunAction(hInstall, kSetIRPStackSize, RaiseIRPStackSize);
}

extern "C" UINT __stdcall VrinNTUnSetIRPStackSize(MSIHANDLE hInstall) {
  return InstallRunAction(hInstall, kUnSetIRPStackSize, LowerIRPStackSize);
}
