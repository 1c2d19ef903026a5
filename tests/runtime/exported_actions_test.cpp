// The table of every exported action: how it refuses a missing session (6,
// 160 or not at all), what it returns after a caught failure, and the style
// of its entry and exit lines.
#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <set>
#include <string>
#include <vector>

#include "host/faults.h"
#include "host/filesystem.h"
#include "host/message_table.h"
#include "runtime/module.h"
#include "tests/support/session_fixture.h"
#include "tools/road/pe_builder.h"
#include "tools/vrinsim/action_table.h"

namespace {

enum Style { kAction, kLongArrow, kOrchestrator, kOrchestratorLongArrow };

struct Row {
  const char* name;
  DWORD nullSession;  // refusal code; 0: the action has no such check
  UINT caught;        // result after a caught failure
  Style style;
  // An action without the check: a call that, failing every time, makes its
  // body raise; null when nothing it does can raise.
  const char* fault;
};

const Row kRows[] = {
    {"VrinGUIPreviousVersionInstalled", 160, 0, kAction, nullptr},
    {"VrinGUIDeleteLeftOvers", 160, 0, kAction, nullptr},
    {"VrinGUIReadRefCounter", 0, 0, kAction, "MsiSetProperty"},
    {"VrinGUIDecrementRefCounter", 0, 0, kAction, "RegOpenKeyEx"},
    {"VrinGUIDeleteUpgradeLeftOvers", 0, 0, kAction, "MsiGetProperty"},
    {"VrinNTInitialise", 6, 1603, kAction, nullptr},
    {"VrinNTPreviousVersionInstalled", 160, 0, kAction, nullptr},
    {"VrinNTReadRefCounter", 0, 0, kAction, "MsiSetProperty"},
    {"VrinNTDecrementRefCounter", 0, 0, kAction, "RegOpenKeyEx"},
    {"VrinNTUninstallService", 160, 0, kAction, nullptr},
    {"VrinNTInstallDriver", 160, 1603, kAction, nullptr},
    {"VrinNTUninstallDriver", 160, 0, kAction, nullptr},
    {"VrinNTSetProducts", 160, 1603, kAction, nullptr},
    {"VrinNTUnSetProducts", 160, 1603, kAction, nullptr},
    {"VrinNTLastAgentUninstall", 160, 1603, kAction, nullptr},
    {"VrinNTSetIRPStackSize", 0, 1603, kAction, nullptr},
    {"VrinNTUnSetIRPStackSize", 0, 1603, kAction, nullptr},
    {"VrinNTCreateShare", 0, 0, kAction, nullptr},
    {"VrinNTDeleteShare", 0, 1603, kAction, nullptr},
    {"VrinNTDeleteLeftOvers", 0, 0, kAction, "MsiGetProperty"},
    {"VrinNTDeleteUpgradeLeftOvers", 160, 0, kAction, nullptr},
    {"VrinNTMigrateTarrowRegistry", 160, 0, kAction, nullptr},
    {"VrinNTStartVrin", 160, 0, kAction, nullptr},
    {"VrinNTInstallationValidation", 160, 0, kAction, nullptr},
    {"VrinNTMergePostLaunchConditions", 0, 1603, kOrchestratorLongArrow, "MsiGetActiveDatabase"},
    {"VrinNTMergePostInstallInitialize", 0, 1603, kOrchestrator, "MsiGetActiveDatabase"},
    {"VrinNTMergePreInstallExecute", 0, 1603, kOrchestrator, "MsiGetActiveDatabase"},
    {"VrinNTMergePreInstallFinalize", 0, 1603, kOrchestrator, "MsiGetActiveDatabase"},
    {"VrinNTMergePostInstallFinalize", 0, 1603, kOrchestrator, "MsiGetActiveDatabase"},
    {"VrinGUIMergePostInstallInitialize", 0, 1603, kOrchestrator, "MsiEvaluateCondition"},
    {"VrinGUIMergePreInstallFinalize", 0, 1603, kOrchestrator, "MsiGetActiveDatabase"},
    {"VrinGUIMergePostInstallFinalize", 0, 1603, kOrchestrator, "MsiGetActiveDatabase"},
    {"VrinSetProductSubType", 160, 0, kAction, nullptr},
    {"VrinWriteProductSubType", 160, 0, kAction, nullptr},
    {"VrinDeleteCommonResources", 160, 0, kAction, nullptr},
    {"VrinDeleteLeftOvers", 160, 0, kLongArrow, nullptr},
    {"VrinSetSelectedComponents", 160, 0, kAction, nullptr},
    {"VrinReadInfFile", 160, 1603, kAction, nullptr},
    {"VrinReadIcfFile", 160, 0, kAction, nullptr},
    {"VRINSetSelectedFeatureState", 0, 0, kAction, "MsiGetActiveDatabase"},
    {"VrinNameReadMe", 6, 0, kAction, nullptr},
    {"VrinNameLicense", 6, 1603, kAction, nullptr},
    {"VrinLaunchReadMe", 160, 0, kAction, nullptr},
    {"VrinReadMeLicenseInstall", 160, 0, kAction, nullptr},
    {"VrinSetARPReadMe", 160, 0, kAction, nullptr},
    {"VrinDisableChangeFolder", 160, 0, kAction, nullptr},
    {"VrinWarning", 160, 0, kAction, nullptr},
    {"VrinNothingToInstall", 160, 0, kAction, nullptr},
    {"VrinMessageInstall", 160, 0, kAction, nullptr},
    // Drops its failures without a report.
    {"VrinTerminateSetup", 0, 0, kAction, nullptr},
    {"VrinNovellClientInstalled", 160, 0, kAction, nullptr},
    {"VrinInitUsers", 160, 0, kAction, nullptr},
    {"VrinScheduleReboot", 0, 0, kAction, "MsiSetProperty"},
};

std::string Trace(const std::string& text) { return "OV VRIN : " + text; }

std::string EntryLine(const Row& row) {
  bool longArrow = row.style == kLongArrow || row.style == kOrchestratorLongArrow;
  return Trace(std::string(row.name) + (longArrow ? " -->" : " ->"));
}

std::string ExitLine(const Row& row, UINT result) {
  bool orchestrator = row.style == kOrchestrator || row.style == kOrchestratorLongArrow;
  std::string value = std::to_string(result);
  return Trace(std::string(row.name) + " <- " + (orchestrator ? value : "[" + value + "]"));
}

class ExportedActionsTest : public vrintest::SessionTest {
 protected:
  void SetUp() override {
    SessionTest::SetUp();
    DllMain(host::LibraryModule(), DLL_PROCESS_ATTACH, nullptr);
    // The server start reads the C runtime's version before its check.
    host::Files().AddFile("C:\\WINDOWS\\system32\\msvcrt.dll", vrintest::VersionedDll({7, 0, 2600, 0}));
  }
};

TEST_F(ExportedActionsTest, TheTableNamesEveryExportedAction) {
  std::set<std::string> exported;
  std::ifstream def(std::string(VRINCA_SOURCE_DIR) + "/resources/vrinca.def");
  for (std::string line; std::getline(def, line);) {
    line.erase(0, line.find_first_not_of(" \t"));
    line.erase(line.find_last_not_of(" \t\r") + 1);
    if (line.empty() || line.rfind("LIBRARY", 0) == 0 || line.rfind("EXPORTS", 0) == 0) continue;
    if (vrinsim::FindAction(line) != nullptr) exported.insert(line);
  }
  std::set<std::string> named;
  for (const Row& row : kRows) named.insert(row.name);
  EXPECT_EQ(named, exported);
  EXPECT_EQ(named.size(), 53u);
}

TEST_F(ExportedActionsTest, NullSessionRefusalAndTraceStyle) {
  for (const Row& row : kRows) {
    SCOPED_TRACE(row.name);
    TakeStdout();
    UINT result = vrinsim::FindAction(row.name)(0);
    std::vector<std::string> lines = TakeStdoutLines();
    ASSERT_GE(lines.size(), 2u);
    EXPECT_EQ(lines.front(), EntryLine(row));
    EXPECT_EQ(lines.back(), ExitLine(row, result));
    const std::string refusal = "CONTEXT = " + std::string(row.name) + " : hInstall";
    if (row.nullSession == 0) {
      EXPECT_EQ(std::find(lines.begin(), lines.end(), refusal), lines.end());
      continue;
    }
    EXPECT_EQ(result, row.caught);
    auto report =
        std::find(lines.begin(), lines.end(), Trace(std::string(row.name) + " : " + std::to_string(row.nullSession)));
    ASSERT_LT(report - lines.begin() + 3, lines.end() - lines.begin());
    EXPECT_EQ(report[1], "");
    EXPECT_EQ(report[2], refusal);
    EXPECT_EQ(report[3], row.nullSession == 6 ? "DESCRIPTION = The handle is invalid."
                                              : "DESCRIPTION = One or more arguments are not correct.");
  }
}

// The actions without the check reach their caught-failure result through a
// call that keeps failing.
TEST_F(ExportedActionsTest, CaughtFailureResultOfTheActionsWithoutTheCheck) {
  for (const Row& row : kRows) {
    if (row.nullSession != 0) continue;
    SCOPED_TRACE(row.name);
    MSIHANDLE hInstall = OpenSession();
    TakeStdout();
    host::Faults::Instance().Clear();
    if (row.fault != nullptr) host::Faults::Instance().Fail(row.fault, ERROR_ACCESS_DENIED, 0);
    UINT result = vrinsim::FindAction(row.name)(hInstall);
    host::Faults::Instance().Clear();
    bool reported = false;
    for (const std::string& line : TakeStdoutLines()) {
      reported = reported || line.rfind(Trace(std::string(row.name) + " : "), 0) == 0;
    }
    EXPECT_EQ(reported, row.fault != nullptr);
    EXPECT_EQ(result, row.fault != nullptr ? row.caught : 0u);
    Session().Close();
  }
}

}  // namespace
