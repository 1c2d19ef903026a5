#include "runtime/action_frame.h"

void InstallTraceActionEntry(MSIHANDLE hInstall, const ActionInfo& info) {
  bool bLongArrow = info.eTrace == kTraceActionLongArrow || info.eTrace == kTraceOrchestratorLongArrow;
  InstallLog(hInstall, kLogRowTrace, "%s%s", info.szName, bLongArrow ? " -->" : " ->");
}

void InstallTraceActionExit(MSIHANDLE hInstall, const ActionInfo& info, UINT uResult) {
  if (info.eTrace == kTraceOrchestrator || info.eTrace == kTraceOrchestratorLongArrow) {
    InstallLog(hInstall, kLogRowTrace, "%s <- %d", info.szName, static_cast<int>(uResult));
  } else {
    InstallLog(hInstall, kLogRowTrace, "%s <- [%d]", info.szName, static_cast<int>(uResult));
  }
}

void InstallCheckSession(MSIHANDLE hInstall, const ActionInfo& info) {
  if (hInstall == 0 && info.dwNullSession != 0) {
    InstallRaise(info.szNullSessionContext, info.dwNullSession);
  }
}

struct PlainBody {
  void (*pfnBody)(MSIHANDLE);
};

static void RunPlainBody(MSIHANDLE hInstall, PlainBody& body) { body.pfnBody(hInstall); }

static void ReleaseNothing(PlainBody&) {}

UINT InstallRunAction(MSIHANDLE hInstall, const ActionInfo& info, void (*pfnBody)(MSIHANDLE)) {
  PlainBody body = {pfnBody};
  return InstallRunAction(hInstall, info, body, RunPlainBody, ReleaseNothing);
}
