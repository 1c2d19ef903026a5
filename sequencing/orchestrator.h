// The pattern every merge-module orchestrator follows: a fixed table of steps,
// each unconditional or guarded by one condition, run in order by one runner
// that stops at the first failing call or undecided condition.
#pragma once

#include <cstddef>

#include "host/platform.h"
#include "runtime/action_frame.h"

typedef UINT(__stdcall* PFNINSTALLACTION)(MSIHANDLE hInstall);

enum OrchestratorCallKind {
  kCallAction,          // call; a result other than 0 fails with szText as context
  kCallIgnoringResult,  // call; the result is not read
  kCallTrace,           // write szText as a trace line
  kCallRetarget,        // point szDirectory at the folder in szProperty; a refusal fails with szText
  kCallRetargetLogged   // the same, but skipped for an empty value and a refusal is only logged
};

struct OrchestratorCall {
  OrchestratorCallKind eKind;
  PFNINSTALLACTION pfnAction;
  const char* szText;
  const char* szProperty;
  const char* szDirectory;
};

const size_t kMaxOrchestratorCalls = 4;

struct OrchestratorStep {
  // Condition template, null for an unconditional step; "%s" stands for the
  // feature that carries the module's component.
  const char* szCondition;
  // "<orchestrator> : MsiEvaluateCondition(n)": the context of an evaluation
  // that is neither true nor false.
  const char* szConditionContext;
  size_t cCalls;
  OrchestratorCall aCalls[kMaxOrchestratorCalls];
};

struct OrchestratorInfo {
  ActionInfo action;        // name and trace style; failures give 1603
  const char* szComponent;  // the module's component, whose feature the conditions test
  const OrchestratorStep* pSteps;
  size_t cSteps;
};

UINT InstallRunOrchestrator(MSIHANDLE hInstall, const OrchestratorInfo& info);
