#include "sequencing/orchestrator.h"

#include <cstring>
#include <new>

#include "runtime/database_helpers.h"
#include "runtime/install_exception.h"
#include "runtime/install_log.h"
#include "runtime/session_access.h"
#include "runtime/string_helpers.h"

struct OrchestratorLocals {
  const OrchestratorInfo* pInfo;
  char* szFeature;    // the module's feature, looked up once
  char* szCondition;  // the condition being evaluated
  char* szValue;      // a property value being made a target path
};

static void ReleaseOrchestrator(OrchestratorLocals& locals) {
  InstallFreeString(locals.szFeature);
  InstallFreeString(locals.szCondition);
  InstallFreeString(locals.szValue);
}

static bool NeedsFeature(const OrchestratorStep& step) {
  return step.szCondition != nullptr && strstr(step.szCondition, "%s") != nullptr;
}

// The condition text with the feature key put in for each "%s", allocated to
// fit whatever the package's key is.
static char* BuildCondition(const char* szTemplate, const char* szFeature, const char* szContext) {
  size_t cMarkers = 0;
  for (const char* szMarker = strstr(szTemplate, "%s"); szMarker != nullptr; szMarker = strstr(szMarker + 2, "%s")) {
    ++cMarkers;
  }
  size_t cchFeature = cMarkers != 0 ? strlen(szFeature) : 0;
  char* szCondition = new (std::nothrow) char[strlen(szTemplate) - 2 * cMarkers + cMarkers * cchFeature + 1];
  if (szCondition == nullptr) {
    InstallRaise(szContext, ERROR_OUTOFMEMORY);
  }
  char* szOut = szCondition;
  const char* szRest = szTemplate;
  for (const char* szMarker = strstr(szRest, "%s"); szMarker != nullptr; szMarker = strstr(szRest, "%s")) {
    size_t cchHead = static_cast<size_t>(szMarker - szRest);
    memcpy(szOut, szRest, cchHead);
    memcpy(szOut + cchHead, szFeature, cchFeature);
    szOut += cchHead + cchFeature;
    szRest = szMarker + 2;
  }
  memcpy(szOut, szRest, strlen(szRest) + 1);
  return szCondition;
}

// Points a directory at the folder a property names. A value too long for a
// path fails as a refused target path would: the orchestrator fails, or the
// logged retargeting only logs it.
static void Retarget(MSIHANDLE hInstall, const OrchestratorCall& call, OrchestratorLocals& locals) {
  locals.szValue = InstallGetProperty(hInstall, call.szProperty);
  bool bLogged = call.eKind == kCallRetargetLogged;
  if (!bLogged || locals.szValue[0] != '\0') {
    char szPath[MAX_PATH] = {};
    UINT uResult = ERROR_FILENAME_EXCED_RANGE;
    if (InstallTryMakePath(szPath, sizeof(szPath), locals.szValue, nullptr)) {
      uResult = MsiSetTargetPath(hInstall, call.szDirectory, szPath);
    }
    if (uResult != ERROR_SUCCESS) {
      if (!bLogged) {
        InstallRaise(call.szText, uResult);
      }
      InstallLog(hInstall, kLogRowFailure, "Failed to change default install path to %s [%d]",
                 szPath[0] != '\0' ? szPath : locals.szValue, static_cast<int>(uResult));
    }
  }
  InstallFreeString(locals.szValue);
}

static void MakeCall(MSIHANDLE hInstall, const OrchestratorCall& call, OrchestratorLocals& locals) {
  switch (call.eKind) {
    case kCallAction: {
      UINT uResult = call.pfnAction(hInstall);
      if (uResult != ERROR_SUCCESS) {
        InstallRaise(call.szText, uResult);
      }
      break;
    }
    case kCallIgnoringResult:
      call.pfnAction(hInstall);
      break;
    case kCallTrace:
      InstallLog(hInstall, kLogRowTrace, "%s", call.szText);
      break;
    case kCallRetarget:
    case kCallRetargetLogged:
      Retarget(hInstall, call, locals);
      break;
  }
}

static void RunSteps(MSIHANDLE hInstall, OrchestratorLocals& locals) {
  const OrchestratorInfo& info = *locals.pInfo;
  for (size_t i = 0; i < info.cSteps; ++i) {
    if (NeedsFeature(info.pSteps[i])) {
      locals.szFeature = InstallComponentGetFeature(hInstall, info.szComponent);
      break;
    }
  }
  for (size_t i = 0; i < info.cSteps; ++i) {
    const OrchestratorStep& step = info.pSteps[i];
    if (step.szCondition != nullptr) {
      // Evaluated just before its step, so earlier steps' changes count.
      locals.szCondition = BuildCondition(step.szCondition, locals.szFeature, step.szConditionContext);
      MSICONDITION eCondition = MsiEvaluateCondition(hInstall, locals.szCondition);
      InstallFreeString(locals.szCondition);
      if (eCondition == MSICONDITION_FALSE) {
        continue;
      }
      if (eCondition != MSICONDITION_TRUE) {
        InstallRaise(step.szConditionContext, static_cast<DWORD>(eCondition));
      }
    }
    for (size_t c = 0; c < step.cCalls && c < kMaxOrchestratorCalls; ++c) {
      MakeCall(hInstall, step.aCalls[c], locals);
    }
  }
}

UINT InstallRunOrchestrator(MSIHANDLE hInstall, const OrchestratorInfo& info) {
  OrchestratorLocals locals = {&info, nullptr, nullptr, nullptr};
  return InstallRunAction(hInstall, info.action, locals, RunSteps, ReleaseOrchestrator);
}
