// The orchestrator runner on small tables of its own: feature lookup only
// when needed, conditions evaluated just before their step, the stop rules,
// retargeting, and the report under the orchestrator's name.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "host/faults.h"
#include "sequencing/orchestrator.h"
#include "tests/support/session_fixture.h"

namespace {

const char kComponent[] = "TestApplication.11111111_2222_3333_4444_555555555555";

std::vector<std::string> g_calls;
MSIHANDLE g_session = 0;

UINT __stdcall StepA(MSIHANDLE) {
  g_calls.push_back("A");
  return 0;
}
UINT __stdcall StepB(MSIHANDLE) {
  g_calls.push_back("B");
  return 0;
}
UINT __stdcall Failing(MSIHANDLE) {
  g_calls.push_back("Failing");
  return ERROR_INSTALL_FAILURE;
}
UINT __stdcall SetsFlag(MSIHANDLE hInstall) {
  g_calls.push_back("SetsFlag");
  MsiSetProperty(hInstall, "FLAG", "1");
  return 0;
}

OrchestratorCall Call(PFNINSTALLACTION action, const char* context) {
  return OrchestratorCall{kCallAction, action, context, nullptr, nullptr};
}

std::vector<std::string> PackageSql(bool withComponent) {
  std::vector<std::string> sql = vrintest::ErrorTableSql({});
  sql.push_back(
      "CREATE TABLE `FeatureComponents` (`Feature_` CHAR(38) NOT NULL, `Component_` CHAR(72) NOT NULL "
      "PRIMARY KEY `Feature_`, `Component_`)");
  if (withComponent) {
    sql.push_back(std::string("INSERT INTO `FeatureComponents` (`Feature_`, `Component_`) VALUES ('Main', '") +
                  kComponent + "')");
  }
  return sql;
}

class OrchestratorTest : public vrintest::SessionTest {
 protected:
  void SetUp() override {
    SessionTest::SetUp();
    g_calls.clear();
  }
  UINT Run(const std::vector<OrchestratorStep>& steps) {
    OrchestratorInfo info = {{"VrinTestMergePost", 0, nullptr, ERROR_INSTALL_FAILURE, kTraceOrchestrator},
                             kComponent,
                             steps.data(),
                             steps.size()};
    return InstallRunOrchestrator(g_session, info);
  }
};

TEST_F(OrchestratorTest, UnconditionalAndTrueStepsRunFalseStepsAreSkipped) {
  g_session = OpenSession(PackageSql(false));
  Session().SetProperty("YES", "1");
  EXPECT_EQ(Run({{nullptr, nullptr, 1, {Call(StepA, "VrinTestMergePost : StepA")}},
                 {"YES", "VrinTestMergePost : MsiEvaluateCondition(1)", 1, {Call(StepB, "VrinTestMergePost : StepB")}},
                 {"NO", "VrinTestMergePost : MsiEvaluateCondition(2)", 1, {Call(StepA, "VrinTestMergePost : StepA")}}}),
            0u);
  EXPECT_EQ(g_calls, (std::vector<std::string>{"A", "B"}));
  EXPECT_EQ(LogLines(),
            (std::vector<std::string>{"OV VRIN : VrinTestMergePost ->", "OV VRIN : VrinTestMergePost <- 0"}));
}

TEST_F(OrchestratorTest, FeatureIsLookedUpOnlyWhenAStepTestsIt) {
  // No component in the package: a table without feature conditions still runs.
  g_session = OpenSession(PackageSql(false));
  EXPECT_EQ(Run({{"NOT Installed",
                  "VrinTestMergePost : MsiEvaluateCondition(1)",
                  1,
                  {Call(StepA, "VrinTestMergePost : StepA")}}}),
            0u);
  EXPECT_EQ(g_calls, (std::vector<std::string>{"A"}));
  for (const std::string& line : LogLines()) EXPECT_EQ(line.find("InstallComponentGetFeature"), std::string::npos);
}

TEST_F(OrchestratorTest, MissingComponentFailsBeforeTheFirstStep) {
  g_session = OpenSession(PackageSql(false));
  EXPECT_EQ(
      Run({{nullptr, nullptr, 1, {Call(StepA, "VrinTestMergePost : StepA")}},
           {"&%s > 2", "VrinTestMergePost : MsiEvaluateCondition(1)", 1, {Call(StepB, "VrinTestMergePost : StepB")}}}),
      1603u);
  EXPECT_TRUE(g_calls.empty());
  std::vector<std::string> lines = LogLines();
  EXPECT_EQ(lines.at(lines.size() - 2),
            "OV VRIN : VrinTestMergePost : 259\r\n\r\nCONTEXT = InstallGetARecord : MsiViewFetch\r\n"
            "DESCRIPTION = No more data is available.\r\n");
  EXPECT_EQ(lines.back(), "OV VRIN : VrinTestMergePost <- 1603");
  EXPECT_EQ(OpenHandles(), 0);
}

TEST_F(OrchestratorTest, FeatureStateConditionsUseTheLookedUpFeature) {
  g_session = OpenSession(PackageSql(true));
  Session().SetFeatureState("Main", INSTALLSTATE_ABSENT, INSTALLSTATE_LOCAL);
  EXPECT_EQ(
      Run({{"&%s > 2", "VrinTestMergePost : MsiEvaluateCondition(1)", 1, {Call(StepA, "VrinTestMergePost : StepA")}},
           {"&%s = 2", "VrinTestMergePost : MsiEvaluateCondition(2)", 1, {Call(StepB, "VrinTestMergePost : StepB")}}}),
      0u);
  EXPECT_EQ(g_calls, (std::vector<std::string>{"A"}));
}

TEST_F(OrchestratorTest, FirstFailingCallEndsTheOrchestrator) {
  g_session = OpenSession(PackageSql(false));
  EXPECT_EQ(Run({{nullptr, nullptr, 2, {Call(Failing, "VrinTestMergePost : Failing"), Call(StepA, "x")}},
                 {nullptr, nullptr, 1, {Call(StepB, "y")}}}),
            1603u);
  EXPECT_EQ(g_calls, (std::vector<std::string>{"Failing"}));
  std::vector<std::string> lines = LogLines();
  EXPECT_EQ(lines.at(1),
            "OV VRIN : VrinTestMergePost : 1603\r\n\r\nCONTEXT = VrinTestMergePost : Failing\r\n"
            "DESCRIPTION = Fatal error during installation.\r\n");
}

TEST_F(OrchestratorTest, UndecidedConditionIsAFailureWithItsNumber) {
  g_session = OpenSession(PackageSql(false));
  EXPECT_EQ(Run({{"", "VrinTestMergePost : MsiEvaluateCondition(4)", 1, {Call(StepA, "a")}},
                 {nullptr, nullptr, 1, {Call(StepB, "b")}}}),
            1603u);
  EXPECT_TRUE(g_calls.empty());
  EXPECT_EQ(LogLines().at(1),
            "OV VRIN : VrinTestMergePost : 2\r\n\r\nCONTEXT = VrinTestMergePost : MsiEvaluateCondition(4)\r\n"
            "DESCRIPTION = The system cannot find the file specified.\r\n");
  g_calls.clear();
  EXPECT_EQ(Run({{"((", "VrinTestMergePost : MsiEvaluateCondition(5)", 1, {Call(StepA, "a")}}}), 1603u);
  EXPECT_NE(LogLines()
                .at(LogLines().size() - 2)
                .find("VrinTestMergePost : 3\r\n\r\nCONTEXT = VrinTestMergePost : "
                      "MsiEvaluateCondition(5)"),
            std::string::npos);
}

TEST_F(OrchestratorTest, ConditionSeesWhatAnEarlierStepChanged) {
  g_session = OpenSession(PackageSql(false));
  const std::vector<OrchestratorStep> steps = {
      {"FLAG", "VrinTestMergePost : MsiEvaluateCondition(1)", 1, {Call(StepA, "a")}},
      {nullptr, nullptr, 1, {Call(SetsFlag, "s")}},
      {"FLAG", "VrinTestMergePost : MsiEvaluateCondition(1)", 1, {Call(StepB, "b")}}};
  EXPECT_EQ(Run(steps), 0u);
  EXPECT_EQ(g_calls, (std::vector<std::string>{"SetsFlag", "B"}));
}

TEST_F(OrchestratorTest, IgnoredResultsAndTraceLinesDoNotStop) {
  g_session = OpenSession(PackageSql(false));
  EXPECT_EQ(Run({{nullptr,
                  nullptr,
                  3,
                  {OrchestratorCall{kCallTrace, nullptr, "DeleteOldShortcut", nullptr, nullptr},
                   OrchestratorCall{kCallIgnoringResult, Failing, nullptr, nullptr, nullptr}, Call(StepA, "a")}}}),
            0u);
  EXPECT_EQ(g_calls, (std::vector<std::string>{"Failing", "A"}));
  EXPECT_EQ(LogLines().at(1), "OV VRIN : DeleteOldShortcut");
}

TEST_F(OrchestratorTest, RetargetingFromAProperty) {
  std::vector<std::string> sql = PackageSql(false);
  sql.push_back(
      "CREATE TABLE `Directory` (`Directory` CHAR(72) NOT NULL, `Directory_Parent` CHAR(72), `DefaultDir` "
      "CHAR(255) NOT NULL LOCALIZABLE PRIMARY KEY `Directory`)");
  sql.push_back(
      "INSERT INTO `Directory` (`Directory`, `Directory_Parent`, `DefaultDir`) VALUES ('TARGETDIR', '', "
      "'SourceDir')");
  sql.push_back(
      "INSERT INTO `Directory` (`Directory`, `Directory_Parent`, `DefaultDir`) VALUES ('VRIN', "
      "'TARGETDIR', 'Velmora')");
  g_session = OpenSession(sql);
  Session().SetProperty("TARGETDIR", "C:\\");
  Session().SetProperty("INSTALLDIR", "D:\\Backup\\Velmora");
  const OrchestratorCall retarget = {kCallRetarget, nullptr, "VrinTestMergePost : MsiSetTargetPath", "INSTALLDIR",
                                     "VRIN"};
  EXPECT_EQ(Run({{nullptr, nullptr, 1, {retarget}}}), 0u);
  EXPECT_EQ(Session().TargetPath("VRIN"), "D:\\Backup\\Velmora\\");

  const OrchestratorCall unknown = {kCallRetarget, nullptr, "VrinTestMergePost : MsiSetTargetPath", "INSTALLDIR",
                                    "NOSUCHDIR"};
  EXPECT_EQ(Run({{nullptr, nullptr, 1, {unknown}}}), 1603u);
  EXPECT_NE(LogLines().at(LogLines().size() - 2).find("CONTEXT = VrinTestMergePost : MsiSetTargetPath"),
            std::string::npos);
}

TEST_F(OrchestratorTest, LoggedRetargetingSkipsAnEmptyValueAndOnlyLogsARefusal) {
  g_session = OpenSession(vrintest::RowMarkersSql());
  const OrchestratorCall logged = {kCallRetargetLogged, nullptr, nullptr, "INSTALLDIR", "NOSUCHDIR"};
  EXPECT_EQ(Run({{nullptr, nullptr, 2, {logged, Call(StepA, "a")}}}), 0u);
  EXPECT_EQ(LogLines().size(), 4u) << "empty INSTALLDIR: no target path, no failure line";
  Session().SetProperty("INSTALLDIR", "D:\\Velmora");
  EXPECT_EQ(Run({{nullptr, nullptr, 2, {logged, Call(StepA, "a")}}}), 0u);
  EXPECT_EQ(g_calls, (std::vector<std::string>{"A", "A"}));
  bool found = false;
  for (const std::string& line : LogLines()) {
    found = found || line.rfind("ERR: OV VRIN : Failed to change default install path to D:\\Velmora\\ [", 0) == 0;
  }
  EXPECT_TRUE(found);
}

// A value too long for the 260-byte target path: the retargeting that must
// succeed fails the orchestrator under its own context, the logged one only
// logs it and the orchestrator goes on.
TEST_F(OrchestratorTest, AValueTooLongForATargetPathFailsOrIsOnlyLogged) {
  const std::string value = "D:\\" + std::string(256, 'v');  // 259 characters and the backslash
  for (OrchestratorCallKind kind : {kCallRetarget, kCallRetargetLogged}) {
    SCOPED_TRACE(kind == kCallRetarget ? "retarget" : "logged");
    g_calls.clear();
    g_session = OpenSession(vrintest::RowMarkersSql());
    Session().SetProperty("INSTALLDIR", value);
    const OrchestratorCall retarget = {kind, nullptr, "VrinTestMergePost : MsiSetTargetPath", "INSTALLDIR", "VRIN"};
    const bool logged = kind == kCallRetargetLogged;
    EXPECT_EQ(Run({{nullptr, nullptr, 2, {retarget, Call(StepA, "a")}}}), logged ? 0u : 1603u);
    EXPECT_EQ(g_calls, logged ? std::vector<std::string>{"A"} : std::vector<std::string>{});
    const std::string line = LogLines().at(LogLines().size() - 2);
    EXPECT_EQ(line, logged ? "ERR: OV VRIN : Failed to change default install path to " + value + " [206]"
                           : "ERR: OV VRIN : VrinTestMergePost : 206\r\n\r\nCONTEXT = VrinTestMergePost : "
                             "MsiSetTargetPath\r\nDESCRIPTION = The filename or extension is too long.\r\n");
    Session().Close();
  }
}

}  // namespace
