// The eight orchestrators' tables: each condition, made undecidable in turn,
// must end its orchestrator with 1603 and the failure context that names the
// orchestrator and the condition's number.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "host/faults.h"
#include "sequencing/orchestrators.h"
#include "tests/support/session_fixture.h"

namespace {

struct ConditionCase {
  const char* orchestrator;
  UINT (*run)(MSIHANDLE);
  const char* condition;  // as evaluated, with the features "Server" and "Console"
  int occurrence;         // which evaluation of that text fails
  const char* context;
};

const ConditionCase kCases[] = {
    {"VrinNTMergePostLaunchConditions", VrinNTMergePostLaunchConditions, "&Server <> 2", 1,
     "VrinNTMergePostLaunchConditions : MsiEvaluateCondition"},
    {"VrinNTMergePostInstallInitialize", VrinNTMergePostInstallInitialize, "NOT Installed", 1,
     "VrinNTMergePostInstallInitialize : MsiEvaluateCondition(1)"},
    {"VrinNTMergePostInstallInitialize", VrinNTMergePostInstallInitialize, "UILevel = 2 OR PRODUCTS <> 1", 1,
     "VrinNTMergePostInstallInitialize : MsiEvaluateCondition(2)"},
    {"VrinNTMergePostInstallInitialize", VrinNTMergePostInstallInitialize, "NTSERVERINSTALLDIR", 1,
     "VrinNTMergePostInstallInitialize : MsiEvaluateCondition(3)"},
    {"VrinNTMergePreInstallExecute", VrinNTMergePreInstallExecute, "&Server = 2", 1,
     "VrinNTMergePreInstallExecute : MsiEvaluateCondition(1)"},
    {"VrinNTMergePreInstallFinalize", VrinNTMergePreInstallFinalize, "NOT Installed AND &Server > 2", 1,
     "VrinNTMergePreInstallFinalize : MsiEvaluateCondition(1)"},
    {"VrinNTMergePreInstallFinalize", VrinNTMergePreInstallFinalize,
     "Installed AND !Server > 2 AND &Server <> 2 AND PRODUCTS <> 1", 1,
     "VrinNTMergePreInstallFinalize : MsiEvaluateCondition(2)"},
    {"VrinNTMergePreInstallFinalize", VrinNTMergePreInstallFinalize, "&Server > 2", 1,
     "VrinNTMergePreInstallFinalize : MsiEvaluateCondition(3)"},
    {"VrinNTMergePreInstallFinalize", VrinNTMergePreInstallFinalize, "&Server = 2", 1,
     "VrinNTMergePreInstallFinalize : MsiEvaluateCondition(4)"},
    {"VrinNTMergePreInstallFinalize", VrinNTMergePreInstallFinalize, "&Server = 2", 2,
     "VrinNTMergePreInstallFinalize : MsiEvaluateCondition(5)"},
    {"VrinNTMergePreInstallFinalize", VrinNTMergePreInstallFinalize,
     "&Server > 2 AND (NOT NTSERVERREFCOUNTER OR NTSERVERREFCOUNTER=\"0\")", 1,
     "VrinNTMergePreInstallFinalize : MsiEvaluateCondition(6)"},
    {"VrinNTMergePreInstallFinalize", VrinNTMergePreInstallFinalize,
     "&Server = 2 AND NTSERVERREFCOUNTER AND NTSERVERREFCOUNTER = \"1\"", 1,
     "VrinNTMergePreInstallFinalize : MsiEvaluateCondition(8)"},
    {"VrinNTMergePostInstallFinalize", VrinNTMergePostInstallFinalize, "Installed AND &Server = 2", 1,
     "VrinNTMergePostInstallFinalize : MsiEvaluateCondition(1)"},
    {"VrinNTMergePostInstallFinalize", VrinNTMergePostInstallFinalize, "&Server > 2 AND NTSERVERUPGRADE", 1,
     "VrinNTMergePostInstallFinalize : MsiEvaluateCondition(2)"},
    {"VrinNTMergePostInstallFinalize", VrinNTMergePostInstallFinalize, "&Server > 2 AND NTSERVERUPGRADE2", 1,
     "VrinNTMergePostInstallFinalize : MsiEvaluateCondition(2)"},
    {"VrinNTMergePostInstallFinalize", VrinNTMergePostInstallFinalize,
     "&Server > 2 AND (UILevel <> 2) AND (NOT NTSERVERREFCOUNTER OR NTSERVERREFCOUNTER=\"0\")", 1,
     "VrinNTMergePostInstallFinalize : MsiEvaluateCondition(3)"},
    {"VrinNTMergePostInstallFinalize", VrinNTMergePostInstallFinalize,
     "&Server = 2 AND NTSERVERREFCOUNTER AND NTSERVERREFCOUNTER = \"1\"", 1,
     "VrinNTMergePostInstallFinalize : MsiEvaluateCondition(4)"},
    {"VrinNTMergePostInstallFinalize", VrinNTMergePostInstallFinalize, "STARTUPMODE~=\"Manual\" AND &Server > 2", 1,
     "VrinNTMergePostInstallFinalize : MsiEvaluateCondition(9)"},
    {"VrinGUIMergePostInstallInitialize", VrinGUIMergePostInstallInitialize, "GUIINSTALLDIR", 1,
     "VrinGUIMergePostInstallInitialize : MsiEvaluateCondition(1)"},
    {"VrinGUIMergePreInstallFinalize", VrinGUIMergePreInstallFinalize, "NOT Installed AND &Console > 2", 1,
     "VrinGUIMergePreInstallFinalize : MsiEvaluateCondition(1)"},
    {"VrinGUIMergePreInstallFinalize", VrinGUIMergePreInstallFinalize,
     "&Console = 2 AND GUIREFCOUNTER AND GUIREFCOUNTER = \"1\"", 1,
     "VrinGUIMergePreInstallFinalize : MsiEvaluateCondition(5)"},
    {"VrinGUIMergePostInstallFinalize", VrinGUIMergePostInstallFinalize, "Installed AND &Console = 2", 1,
     "VrinGUIMergePostInstallFinalize : MsiEvaluateCondition(1)"},
    {"VrinGUIMergePostInstallFinalize", VrinGUIMergePostInstallFinalize, "&Console > 2 AND GUIUPGRADE", 1,
     "VrinGUIMergePostInstallFinalize : MsiEvaluateCondition(2)"},
};

std::vector<std::string> PackageSql() {
  std::vector<std::string> sql = vrintest::ErrorTableSql({});
  sql.push_back(
      "CREATE TABLE `FeatureComponents` (`Feature_` CHAR(38) NOT NULL, `Component_` CHAR(72) NOT NULL "
      "PRIMARY KEY `Feature_`, `Component_`)");
  sql.push_back(std::string("INSERT INTO `FeatureComponents` (`Feature_`, `Component_`) VALUES ('Server', '") +
                kServerComponent + "')");
  sql.push_back(std::string("INSERT INTO `FeatureComponents` (`Feature_`, `Component_`) VALUES ('Console', '") +
                kConsoleComponent + "')");
  sql.push_back(
      "CREATE TABLE `File` (`File` CHAR(72) NOT NULL, `Component_` CHAR(72) NOT NULL, `FileName` CHAR(255) NOT "
      "NULL, `FileSize` LONG NOT NULL, `Version` CHAR(72), `Language` CHAR(20), `Attributes` SHORT, `Sequence` "
      "SHORT NOT NULL PRIMARY KEY `File`)");
  sql.push_back(
      "INSERT INTO `File` (`File`, `Component_`, `FileName`, `FileSize`, `Version`, `Sequence`) VALUES "
      "('Skdnt.exe', 'Server', 'Skdnt.exe', 1000, '7.1.2141.0', 1)");
  return sql;
}

class OrchestratorTablesTest : public vrintest::SessionTest, public ::testing::WithParamInterface<ConditionCase> {};

TEST_P(OrchestratorTablesTest, UndecidableConditionNamesItsNumber) {
  const ConditionCase& c = GetParam();
  MSIHANDLE hInstall = OpenSession(PackageSql());
  // The condition under test cannot be evaluated; every other one is false,
  // so that no conditional step runs before it.
  host::Faults::Instance().Fail("MsiEvaluateCondition", MSICONDITION_ERROR, c.occurrence, c.condition);
  host::Faults::Instance().Fail("MsiEvaluateCondition", MSICONDITION_FALSE, 0);
  EXPECT_EQ(c.run(hInstall), 1603u);
  std::vector<std::string> lines = LogLines();
  ASSERT_GE(lines.size(), 2u);
  EXPECT_EQ(lines[lines.size() - 2], std::string("OV VRIN : ") + c.orchestrator + " : 3\r\n\r\nCONTEXT = " + c.context +
                                         "\r\nDESCRIPTION = The system cannot find the path specified.\r\n");
  EXPECT_EQ(lines.back(), std::string("OV VRIN : ") + c.orchestrator + " <- 1603");
  EXPECT_EQ(OpenHandles(), 0);
}

INSTANTIATE_TEST_SUITE_P(EveryCondition, OrchestratorTablesTest, ::testing::ValuesIn(kCases));

}  // namespace
