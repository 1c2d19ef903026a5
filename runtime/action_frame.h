// The frame every exported action follows: entry trace, refusal of a missing
// session, one guarded body, report of a caught CInstallException, exit trace.
#pragma once

#include "host/platform.h"
#include "runtime/install_exception.h"
#include "runtime/install_log.h"

enum ActionTraceStyle {
  kTraceAction,                // "Name ->" ... "Name <- [%d]"
  kTraceActionLongArrow,       // "Name -->" ... "Name <- [%d]"
  kTraceOrchestrator,          // "Name ->" ... "Name <- %d"
  kTraceOrchestratorLongArrow  // "Name -->" ... "Name <- %d"
};

struct ActionInfo {
  const char* szName;                // export name
  DWORD dwNullSession;               // refusal code for a missing session; 0: not checked
  const char* szNullSessionContext;  // "<name> : hInstall"
  UINT uCaughtFailure;               // result after a reported failure
  ActionTraceStyle eTrace;
};

void InstallTraceActionEntry(MSIHANDLE hInstall, const ActionInfo& info);
void InstallTraceActionExit(MSIHANDLE hInstall, const ActionInfo& info, UINT uResult);
void InstallCheckSession(MSIHANDLE hInstall, const ActionInfo& info);

// Runs an action whose body owns strings or handles in a Locals struct that
// the caller value-initialises, so everything in it is null before anything
// can fail. pfnRelease frees what the struct still owns after the body, and on
// the failure path before the report; it must leave the struct null.
template <typename Locals>
UINT InstallRunAction(MSIHANDLE hInstall, const ActionInfo& info, Locals& locals, void (*pfnBody)(MSIHANDLE, Locals&),
                      void (*pfnRelease)(Locals&)) {
  InstallTraceActionEntry(hInstall, info);
  UINT uResult = ERROR_SUCCESS;
  try {
    InstallCheckSession(hInstall, info);
    pfnBody(hInstall, locals);
    pfnRelease(locals);
  } catch (CInstallException* pException) {
    pfnRelease(locals);
    InstallEndFailure(hInstall, info.szName, pException, true);
    uResult = info.uCaughtFailure;
  }
  InstallTraceActionExit(hInstall, info, uResult);
  return uResult;
}

// The same for a body that owns nothing across its calls.
UINT InstallRunAction(MSIHANDLE hInstall, const ActionInfo& info, void (*pfnBody)(MSIHANDLE));
