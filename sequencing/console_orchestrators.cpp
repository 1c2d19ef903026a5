// The console module's orchestrators as step tables for the shared runner.
#include "console/console_cleanup.h"
#include "console/console_version.h"
#include "sequencing/common_resources.h"
#include "sequencing/orchestrator.h"
#include "sequencing/orchestrators.h"
#include "sequencing/product_subtype.h"
#include "server/reference_counts.h"

const char kConsoleComponent[] = "GuiApplication.8D4F5B23_AA6E_4C54_AF88_4B5D6E7F8094";

static constexpr OrchestratorCall Call(PFNINSTALLACTION pfnAction, const char* szContext) {
  return OrchestratorCall{kCallAction, pfnAction, szContext, nullptr, nullptr};
}

static const OrchestratorStep kPostInstallInitialize[] = {
    {nullptr,
     nullptr,
     1,
     {Call(VrinGUIPreviousVersionInstalled, "VrinGUIMergePostInstallInitialize : VrinGUIPreviousVersionInstalled")}},
    // An upgrade installs the console where the earlier one was.
    {"GUIINSTALLDIR",
     "VrinGUIMergePostInstallInitialize : MsiEvaluateCondition(1)",
     1,
     {OrchestratorCall{kCallRetarget, nullptr, "VrinGUIMergePostInstallInitialize : MsiSetTargetPath", "GUIINSTALLDIR",
                       "GUIFOLDER"}}},
    {nullptr, nullptr, 1, {Call(VrinGUIReadRefCounter, "VrinGUIMergePostInstallInitialize : VrinGUIReadRefCounter")}},
};

// The condition numbers are 1 and 5.
static const OrchestratorStep kPreInstallFinalize[] = {
    {"NOT Installed AND &%s > 2",
     "VrinGUIMergePreInstallFinalize : MsiEvaluateCondition(1)",
     2,
     {Call(VrinGUIWriteGuiCode, "VrinGUIMergePreInstallFinalize : VrinGUIWriteGuiCode"),
      Call(VrinWriteProductSubType, "VrinGUIMergePreInstallFinalize : VrinWriteProductSubType")}},
    {"&%s = 2 AND GUIREFCOUNTER AND GUIREFCOUNTER = \"1\"",
     "VrinGUIMergePreInstallFinalize : MsiEvaluateCondition(5)",
     1,
     {Call(VrinGUIDeleteLeftOvers, "VrinGUIMergePreInstallFinalize : VrinGuiDeleteLeftOvers")}},
};

static const OrchestratorStep kPostInstallFinalize[] = {
    {"Installed AND &%s = 2",
     "VrinGUIMergePostInstallFinalize : MsiEvaluateCondition(1)",
     1,
     {Call(VrinDeleteCommonResources, "VrinGUIMergePostInstallFinalize : VrinDeleteCommonResources")}},
    {"&%s > 2 AND GUIUPGRADE",
     "VrinGUIMergePostInstallFinalize : MsiEvaluateCondition(2)",
     4,
     {OrchestratorCall{kCallTrace, nullptr, "DeleteOldShortcut", nullptr, nullptr},
      OrchestratorCall{kCallIgnoringResult, VRINDeleteOldShortCut, nullptr, nullptr, nullptr},
      Call(VrinGUIDeleteUpgradeLeftOvers, "VrinGUIMergePostInstallFinalize : VrinGUIDeleteUpgradeLeftOvers"),
      Call(VrinGUIDecrementRefCounter, "VrinGUIMergePostInstallFinalize : VrinGUIDecrementRefCounter")}},
};

static UINT RunConsoleOrchestrator(MSIHANDLE hInstall, const char* szName, const OrchestratorStep* pSteps,
                                   size_t cSteps) {
  const OrchestratorInfo info = {
      {szName, 0, nullptr, ERROR_INSTALL_FAILURE, kTraceOrchestrator}, kConsoleComponent, pSteps, cSteps};
  return InstallRunOrchestrator(hInstall, info);
}

extern "C" UINT __stdcall VrinGUIMergePostInstallInitialize(MSIHANDLE hInstall) {
  return RunConsoleOrchestrator(hInstall, "VrinGUIMergePostInstallInitialize", kPostInstallInitialize,
                                sizeof(kPostInstallInitialize) / sizeof(kPostInstallInitialize[0]));
}

extern "C" UINT __stdcall VrinGUIMergePreInstallFinalize(MSIHANDLE hInstall) {
  return RunConsoleOrchestrator(hInstall, "VrinGUIMergePreInstallFinalize", kPreInstallFinalize,
                                sizeof(kPreInstallFinalize) / sizeof(kPreInstallFinalize[0]));
}

extern "C" UINT __stdcall VrinGUIMergePostInstallFinalize(MSIHANDLE hInstall) {
  return RunConsoleOrchestrator(hInstall, "VrinGUIMergePostInstallFinalize", kPostInstallFinalize,
                                sizeof(kPostInstallFinalize) / sizeof(kPostInstallFinalize[0]));
}
