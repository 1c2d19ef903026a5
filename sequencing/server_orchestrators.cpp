// The server module's orchestrators as step tables for the shared runner.
#include "sequencing/common_resources.h"
#include "sequencing/orchestrator.h"
#include "sequencing/orchestrators.h"
#include "sequencing/product_subtype.h"
#include "server/hidden_share.h"
#include "server/leftovers.h"
#include "server/migration.h"
#include "server/products.h"
#include "server/reference_counts.h"
#include "server/server_tuning.h"
#include "server/server_version.h"
#include "server/service_control.h"

const char kServerComponent[] = "NTServerApplication.7C3E4A12_9F5D_4B43_9E77_3A4C5D6E7F83";

// The build number is recorded in every run; its outcome never stops the module.
static UINT __stdcall WriteBuildNumberStep(MSIHANDLE hInstall) {
  WriteBuildNumber(hInstall);
  return ERROR_SUCCESS;
}

static constexpr OrchestratorCall Call(PFNINSTALLACTION pfnAction, const char* szContext) {
  return OrchestratorCall{kCallAction, pfnAction, szContext, nullptr, nullptr};
}

static const OrchestratorStep kPostLaunchConditions[] = {
    {"&%s <> 2",
     "VrinNTMergePostLaunchConditions : MsiEvaluateCondition",
     1,
     {Call(VrinNTInstallationValidation, "VrinNTMergePostLaunchConditions : VrinNTInstallationValidation")}},
};

static const OrchestratorStep kPostInstallInitialize[] = {
    {nullptr, nullptr, 1, {Call(VrinNTInitialise, "VrinNTMergePostInstallInitialize : VrinNTInitialise")}},
    {"NOT Installed",
     "VrinNTMergePostInstallInitialize : MsiEvaluateCondition(1)",
     1,
     {Call(VrinNTMigrateTarrowRegistry, "VrinNTMergePostInstallInitialize : VrinNTMigrateTarrowRegistry")}},
    // The product's folder follows the package's INSTALLDIR; a refusal is only logged.
    {"UILevel = 2 OR PRODUCTS <> 1",
     "VrinNTMergePostInstallInitialize : MsiEvaluateCondition(2)",
     1,
     {OrchestratorCall{kCallRetargetLogged, nullptr, nullptr, "INSTALLDIR", "VRIN"}}},
    {nullptr,
     nullptr,
     1,
     {Call(VrinNTPreviousVersionInstalled, "VrinNTMergePostInstallInitialize : VrinNTPreviousVersionInstalled")}},
    // An upgrade installs the server where the earlier one was.
    {"NTSERVERINSTALLDIR",
     "VrinNTMergePostInstallInitialize : MsiEvaluateCondition(3)",
     1,
     {OrchestratorCall{kCallRetarget, nullptr, "VrinNTMergePostInstallInitialize : MsiSetTargetPath",
                       "NTSERVERINSTALLDIR", "NTSERVERFOLDER"}}},
    {nullptr, nullptr, 1, {Call(VrinNTReadRefCounter, "VrinNTMergePostInstallInitialize : VrinNTReadRefCounter")}},
};

static const OrchestratorStep kPreInstallExecute[] = {
    {"&%s = 2",
     "VrinNTMergePreInstallExecute : MsiEvaluateCondition(1)",
     2,
     {Call(VrinNTUnSetProducts, "VrinNTMergePreInstallExecute : VrinNTUnSetProducts"),
      Call(VrinNTLastAgentUninstall, "VrinNTMergePreInstallExecute : VrinNTLastAgentUninstall")}},
};

// The condition numbers run 1 to 6, then 8.
static const OrchestratorStep kPreInstallFinalize[] = {
    {"NOT Installed AND &%s > 2",
     "VrinNTMergePreInstallFinalize : MsiEvaluateCondition(1)",
     1,
     {Call(VrinWriteProductSubType, "VrinNTMergePreInstallFinalize : VrinWriteProductSubType")}},
    // A maintenance run keeps the server registered for the product only
    // when the product has the server: one that carries the console alone
    // must not count as a user of the server.
    {"Installed AND !%s > 2 AND &%s <> 2 AND PRODUCTS <> 1",
     "VrinNTMergePreInstallFinalize : MsiEvaluateCondition(2)",
     1,
     {Call(VrinNTSetProducts, "VrinNTMergePreInstallFinalize : VrinNTSetProducts")}},
    {"&%s > 2",
     "VrinNTMergePreInstallFinalize : MsiEvaluateCondition(3)",
     2,
     {Call(VrinNTInstallDriver, "VrinNTMergePreInstallFinalize : VrinNTInstallDriver"),
      Call(VrinNTSetProducts, "VrinNTMergePreInstallFinalize : VrinNTSetProducts")}},
    {"&%s = 2",
     "VrinNTMergePreInstallFinalize : MsiEvaluateCondition(4)",
     1,
     {Call(VrinNTUnSetProducts, "VrinNTMergePreInstallFinalize : VrinNTUnSetProducts")}},
    {"&%s = 2",
     "VrinNTMergePreInstallFinalize : MsiEvaluateCondition(5)",
     2,
     {Call(VrinNTUninstallService, "VrinNTMergePreInstallFinalize : VrinNTUninstallService"),
      Call(VrinNTUninstallDriver, "VrinNTMergePreInstallFinalize : VrinNTUninstallDriver")}},
    {"&%s > 2 AND (NOT NTSERVERREFCOUNTER OR NTSERVERREFCOUNTER=\"0\")",
     "VrinNTMergePreInstallFinalize : MsiEvaluateCondition(6)",
     1,
     {Call(VrinNTSetIRPStackSize, "VrinNTMergePreInstallFinalize : VrinNTSetIRPStackSize")}},
    {"&%s = 2 AND NTSERVERREFCOUNTER AND NTSERVERREFCOUNTER = \"1\"",
     "VrinNTMergePreInstallFinalize : MsiEvaluateCondition(8)",
     2,
     {Call(VrinNTUnSetIRPStackSize, "VrinNTMergePreInstallFinalize : VrinNTUnSetIRPStackSize"),
      Call(VrinNTDeleteLeftOvers, "VrinNTMergePreInstallFinalize : VrinNTDeleteLeftOvers")}},
};

static const OrchestratorStep kPostInstallFinalize[] = {
    {"Installed AND &%s = 2",
     "VrinNTMergePostInstallFinalize : MsiEvaluateCondition(1)",
     1,
     {Call(VrinDeleteCommonResources, "VrinNTMergePostInstallFinalize : VrinDeleteCommonResources")}},
    {"&%s > 2 AND NTSERVERUPGRADE",
     "VrinNTMergePostInstallFinalize : MsiEvaluateCondition(2)",
     2,
     {Call(VrinNTDeleteUpgradeLeftOvers, "VrinNTMergePostInstallFinalize : VrinNTDeleteUpgradeLeftOvers"),
      Call(VrinNTDecrementRefCounter, "VrinNTMergePostInstallFinalize : VrinNTDecrementRefCounter")}},
    // The same number as the step before.
    {"&%s > 2 AND NTSERVERUPGRADE2",
     "VrinNTMergePostInstallFinalize : MsiEvaluateCondition(2)",
     1,
     {Call(VrinNTDecrementRefCounter, "VrinNTMergePostInstallFinalize : VrinNTDecrementRefCounter")}},
    // No share without a user interface.
    {"&%s > 2 AND (UILevel <> 2) AND (NOT NTSERVERREFCOUNTER OR NTSERVERREFCOUNTER=\"0\")",
     "VrinNTMergePostInstallFinalize : MsiEvaluateCondition(3)",
     1,
     {Call(VrinNTCreateShare, "VrinNTMergePostInstallFinalize : VrinNTCreateShare")}},
    {"&%s = 2 AND NTSERVERREFCOUNTER AND NTSERVERREFCOUNTER = \"1\"",
     "VrinNTMergePostInstallFinalize : MsiEvaluateCondition(4)",
     1,
     {Call(VrinNTDeleteShare, "VrinNTMergePostInstallFinalize : VrinNTDeleteShare")}},
    {"STARTUPMODE~=\"Manual\" AND &%s > 2",
     "VrinNTMergePostInstallFinalize : MsiEvaluateCondition(9)",
     1,
     {Call(VrinNTStartVrin, "VrinNTMergePostInstallFinalize : VrinNTStartVrin")}},
    {nullptr, nullptr, 1, {OrchestratorCall{kCallIgnoringResult, WriteBuildNumberStep, nullptr, nullptr, nullptr}}},
};

static UINT RunServerOrchestrator(MSIHANDLE hInstall, const char* szName, ActionTraceStyle eTrace,
                                  const OrchestratorStep* pSteps, size_t cSteps) {
  const OrchestratorInfo info = {{szName, 0, nullptr, ERROR_INSTALL_FAILURE, eTrace}, kServerComponent, pSteps, cSteps};
  return InstallRunOrchestrator(hInstall, info);
}

extern "C" UINT __stdcall VrinNTMergePostLaunchConditions(MSIHANDLE hInstall) {
  return RunServerOrchestrator(hInstall, "VrinNTMergePostLaunchConditions", kTraceOrchestratorLongArrow,
                               kPostLaunchConditions, sizeof(kPostLaunchConditions) / sizeof(kPostLaunchConditions[0]));
}

extern "C" UINT __stdcall VrinNTMergePostInstallInitialize(MSIHANDLE hInstall) {
  return RunServerOrchestrator(hInstall, "VrinNTMergePostInstallInitialize", kTraceOrchestrator, kPostInstallInitialize,
                               sizeof(kPostInstallInitialize) / sizeof(kPostInstallInitialize[0]));
}

extern "C" UINT __stdcall VrinNTMergePreInstallExecute(MSIHANDLE hInstall) {
  return RunServerOrchestrator(hInstall, "VrinNTMergePreInstallExecute", kTraceOrchestrator, kPreInstallExecute,
                               sizeof(kPreInstallExecute) / sizeof(kPreInstallExecute[0]));
}

extern "C" UINT __stdcall VrinNTMergePreInstallFinalize(MSIHANDLE hInstall) {
  return RunServerOrchestrator(hInstall, "VrinNTMergePreInstallFinalize", kTraceOrchestrator, kPreInstallFinalize,
                               sizeof(kPreInstallFinalize) / sizeof(kPreInstallFinalize[0]));
}

extern "C" UINT __stdcall VrinNTMergePostInstallFinalize(MSIHANDLE hInstall) {
  return RunServerOrchestrator(hInstall, "VrinNTMergePostInstallFinalize", kTraceOrchestrator, kPostInstallFinalize,
                               sizeof(kPostInstallFinalize) / sizeof(kPostInstallFinalize[0]));
}
