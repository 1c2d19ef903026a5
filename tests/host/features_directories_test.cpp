// Features, components, directories and run modes of the simulated session:
// read from the package's tables, set by tests, and reached through
// MsiGetFeatureState, MsiSetFeatureState, MsiGetTargetPath, MsiGetSourcePath,
// MsiSetTargetPath and MsiGetMode.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "host/faults.h"
#include "host/machine.h"
#include "host/platform.h"
#include "host/session.h"
#include "tests/support/session_fixture.h"

namespace {

std::vector<std::string> PackageSql() {
  return {
      "CREATE TABLE `Feature` (`Feature` CHAR(38) NOT NULL, `Feature_Parent` CHAR(38), `Title` CHAR(64), "
      "`Description` CHAR(255), `Display` SHORT, `Level` SHORT NOT NULL, `Directory_` CHAR(72), `Attributes` SHORT "
      "NOT NULL PRIMARY KEY `Feature`)",
      "INSERT INTO `Feature` (`Feature`, `Level`, `Attributes`) VALUES ('Server', 1, 0)",
      "INSERT INTO `Feature` (`Feature`, `Level`, `Attributes`) VALUES ('Console', 1, 0)",
      "INSERT INTO `Feature` (`Feature`, `Feature_Parent`, `Level`, `Attributes`) VALUES ('ServerTools', 'Server', 1, "
      "0)",
      "CREATE TABLE `Component` (`Component` CHAR(72) NOT NULL, `ComponentId` CHAR(38), `Directory_` CHAR(72) NOT "
      "NULL, `Attributes` SHORT NOT NULL, `Condition` CHAR(255), `KeyPath` CHAR(72) PRIMARY KEY `Component`)",
      "INSERT INTO `Component` (`Component`, `Directory_`, `Attributes`) VALUES ('ServerFiles', 'SERVERDIR', 0)",
      "INSERT INTO `Component` (`Component`, `Directory_`, `Attributes`) VALUES ('ConsoleFiles', 'CONSOLEDIR', 0)",
      "INSERT INTO `Component` (`Component`, `Directory_`, `Attributes`) VALUES ('Shared', 'VRIN', 2)",
      "INSERT INTO `Component` (`Component`, `Directory_`, `Attributes`) VALUES ('Remote', 'VRIN', 1)",
      "CREATE TABLE `FeatureComponents` (`Feature_` CHAR(38) NOT NULL, `Component_` CHAR(72) NOT NULL PRIMARY KEY "
      "`Feature_`, `Component_`)",
      "INSERT INTO `FeatureComponents` (`Feature_`, `Component_`) VALUES ('Server', 'ServerFiles')",
      "INSERT INTO `FeatureComponents` (`Feature_`, `Component_`) VALUES ('Server', 'Shared')",
      "INSERT INTO `FeatureComponents` (`Feature_`, `Component_`) VALUES ('Console', 'ConsoleFiles')",
      "INSERT INTO `FeatureComponents` (`Feature_`, `Component_`) VALUES ('Console', 'Shared')",
      "INSERT INTO `FeatureComponents` (`Feature_`, `Component_`) VALUES ('Console', 'Remote')",
      "CREATE TABLE `Directory` (`Directory` CHAR(72) NOT NULL, `Directory_Parent` CHAR(72), `DefaultDir` CHAR(255) "
      "NOT NULL PRIMARY KEY `Directory`)",
      "INSERT INTO `Directory` (`Directory`, `Directory_Parent`, `DefaultDir`) VALUES ('TARGETDIR', '', 'SourceDir')",
      "INSERT INTO `Directory` (`Directory`, `Directory_Parent`, `DefaultDir`) VALUES ('ProgramFilesFolder', "
      "'TARGETDIR', '.:PFiles')",
      "INSERT INTO `Directory` (`Directory`, `Directory_Parent`, `DefaultDir`) VALUES ('VRIN', "
      "'ProgramFilesFolder', 'VELMORA|Lumicor Velmora:Velmora')",
      "INSERT INTO `Directory` (`Directory`, `Directory_Parent`, `DefaultDir`) VALUES ('SERVERDIR', 'VRIN', "
      "'Server')",
      "INSERT INTO `Directory` (`Directory`, `Directory_Parent`, `DefaultDir`) VALUES ('CONSOLEDIR', 'VRIN', "
      "'CONSOLE|Console Files')",
      "INSERT INTO `Directory` (`Directory`, `Directory_Parent`, `DefaultDir`) VALUES ('BIN', 'SERVERDIR', '.')",
      "CREATE TABLE `Property` (`Property` CHAR(72) NOT NULL, `Value` LONGCHAR NOT NULL PRIMARY KEY `Property`)",
      "INSERT INTO `Property` (`Property`, `Value`) VALUES ('ProductName', 'Velmora')",
  };
}

class FeaturesTest : public vrintest::SessionTest {};

TEST_F(FeaturesTest, FeaturesAndComponentsComeFromThePackage) {
  MSIHANDLE hInstall = OpenSession(PackageSql());
  INSTALLSTATE installed = INSTALLSTATE_BROKEN, action = INSTALLSTATE_BROKEN;
  ASSERT_EQ(MsiGetFeatureState(hInstall, "Server", &installed, &action), 0u);
  EXPECT_EQ(installed, INSTALLSTATE_UNKNOWN);
  EXPECT_EQ(action, INSTALLSTATE_UNKNOWN);
  EXPECT_TRUE(Session().ComponentState("Shared").has_value());
  EXPECT_FALSE(Session().ComponentState("shared").has_value()) << "keys are case-sensitive";
  EXPECT_EQ(MsiGetFeatureState(hInstall, "server", &installed, &action), static_cast<UINT>(ERROR_UNKNOWN_FEATURE));
  EXPECT_EQ(MsiGetFeatureState(hInstall, "NoSuchFeature", &installed, &action),
            static_cast<UINT>(ERROR_UNKNOWN_FEATURE));
  EXPECT_EQ(MsiGetFeatureState(hInstall, nullptr, &installed, &action), static_cast<UINT>(ERROR_INVALID_PARAMETER));
  EXPECT_EQ(MsiGetFeatureState(0, "Server", &installed, &action), static_cast<UINT>(ERROR_INVALID_HANDLE));
  EXPECT_EQ(Session().GetProperty("ProductName"), "Velmora") << "the Property table is read too";
}

TEST_F(FeaturesTest, TestsSetBothStates) {
  MSIHANDLE hInstall = OpenSession(PackageSql());
  Session().SetFeatureState("Server", INSTALLSTATE_LOCAL, INSTALLSTATE_ABSENT);
  Session().SetFeatureState("Extra", INSTALLSTATE_ABSENT, INSTALLSTATE_SOURCE);
  INSTALLSTATE installed = INSTALLSTATE_BROKEN, action = INSTALLSTATE_BROKEN;
  ASSERT_EQ(MsiGetFeatureState(hInstall, "Server", &installed, &action), 0u);
  EXPECT_EQ(installed, INSTALLSTATE_LOCAL);
  EXPECT_EQ(action, INSTALLSTATE_ABSENT);
  ASSERT_EQ(MsiGetFeatureState(hInstall, "Extra", &installed, &action), 0u) << "a feature added by the test";
  EXPECT_EQ(installed, INSTALLSTATE_ABSENT);
  EXPECT_EQ(action, INSTALLSTATE_SOURCE);
  Session().SetComponentState("Loose", INSTALLSTATE_LOCAL, INSTALLSTATE_UNKNOWN);
  ASSERT_TRUE(Session().ComponentState("Loose").has_value());
  EXPECT_EQ(Session().ComponentState("Loose")->installed, INSTALLSTATE_LOCAL);
}

TEST_F(FeaturesTest, SetFeatureStateRequestsAndComponentsFollow) {
  MSIHANDLE hInstall = OpenSession(PackageSql());
  Session().SetFeatureState("Console", INSTALLSTATE_LOCAL, INSTALLSTATE_UNKNOWN);
  ASSERT_EQ(MsiSetFeatureState(hInstall, "Server", INSTALLSTATE_LOCAL), 0u);
  INSTALLSTATE installed = INSTALLSTATE_BROKEN, action = INSTALLSTATE_BROKEN;
  ASSERT_EQ(MsiGetFeatureState(hInstall, "Server", &installed, &action), 0u);
  EXPECT_EQ(installed, INSTALLSTATE_UNKNOWN) << "the installed state stays";
  EXPECT_EQ(action, INSTALLSTATE_LOCAL);
  EXPECT_EQ(Session().ComponentState("ServerFiles")->action, INSTALLSTATE_LOCAL);
  EXPECT_EQ(Session().ComponentState("Shared")->action, INSTALLSTATE_LOCAL);
  EXPECT_EQ(Session().ComponentState("ConsoleFiles")->action, INSTALLSTATE_UNKNOWN);

  ASSERT_EQ(MsiSetFeatureState(hInstall, "Console", INSTALLSTATE_ABSENT), 0u);
  EXPECT_EQ(Session().ComponentState("ConsoleFiles")->action, INSTALLSTATE_ABSENT);
  EXPECT_EQ(Session().ComponentState("Shared")->action, INSTALLSTATE_LOCAL) << "still wanted by Server";
  EXPECT_EQ(Session().ComponentState("Remote")->action, INSTALLSTATE_ABSENT);
  ASSERT_EQ(MsiSetFeatureState(hInstall, "Server", INSTALLSTATE_SOURCE), 0u);
  EXPECT_EQ(Session().ComponentState("Shared")->action, INSTALLSTATE_SOURCE);
  EXPECT_EQ(Session().ComponentState("ServerFiles")->action, INSTALLSTATE_LOCAL) << "attributes 0: local only";
  EXPECT_EQ(Session().FeatureState("ServerTools")->action, INSTALLSTATE_SOURCE) << "a child feature follows";
  ASSERT_EQ(MsiSetFeatureState(hInstall, "Server", INSTALLSTATE_ABSENT), 0u);
  EXPECT_EQ(Session().ComponentState("Shared")->action, INSTALLSTATE_ABSENT);
  EXPECT_EQ(Session().FeatureState("ServerTools")->action, INSTALLSTATE_ABSENT);
  EXPECT_EQ(Session().FeatureState("Console")->action, INSTALLSTATE_ABSENT) << "not a child: set before";
  ASSERT_EQ(MsiSetFeatureState(hInstall, "ServerTools", INSTALLSTATE_LOCAL), 0u);
  EXPECT_EQ(Session().FeatureState("Server")->action, INSTALLSTATE_ABSENT) << "a parent does not follow";
  EXPECT_EQ(MsiEvaluateCondition(hInstall, "&Server = 2 AND $Shared = 2 AND !Console = 3"), MSICONDITION_TRUE);

  EXPECT_EQ(MsiSetFeatureState(hInstall, "NoSuchFeature", INSTALLSTATE_LOCAL),
            static_cast<UINT>(ERROR_UNKNOWN_FEATURE));
  EXPECT_EQ(MsiSetFeatureState(hInstall, "Server", INSTALLSTATE_UNKNOWN), static_cast<UINT>(ERROR_FUNCTION_FAILED));
  EXPECT_EQ(MsiSetFeatureState(hInstall, "Server", INSTALLSTATE_DEFAULT), static_cast<UINT>(ERROR_FUNCTION_FAILED));
  EXPECT_EQ(MsiSetFeatureState(hInstall, nullptr, INSTALLSTATE_LOCAL), static_cast<UINT>(ERROR_INVALID_PARAMETER));
  EXPECT_EQ(MsiSetFeatureState(0, "Server", INSTALLSTATE_LOCAL), static_cast<UINT>(ERROR_INVALID_HANDLE));
  ASSERT_EQ(MsiGetFeatureState(hInstall, "Server", &installed, &action), 0u);
  EXPECT_EQ(action, INSTALLSTATE_ABSENT) << "refused calls change nothing";
  // A component already in the requested state has no action; advertising
  // comes after local and source.
  Session().SetComponentState("ServerFiles", INSTALLSTATE_ABSENT, INSTALLSTATE_LOCAL);
  ASSERT_EQ(MsiSetFeatureState(hInstall, "Server", INSTALLSTATE_ABSENT), 0u);
  EXPECT_EQ(Session().ComponentState("ServerFiles")->action, INSTALLSTATE_UNKNOWN);
  ASSERT_EQ(MsiSetFeatureState(hInstall, "Server", INSTALLSTATE_ADVERTISED), 0u);
  EXPECT_EQ(Session().ComponentState("ServerFiles")->action, INSTALLSTATE_ADVERTISED);
  ASSERT_EQ(MsiSetFeatureState(hInstall, "Console", INSTALLSTATE_SOURCE), 0u);
  EXPECT_EQ(Session().ComponentState("Shared")->action, INSTALLSTATE_SOURCE);
  ASSERT_EQ(MsiSetFeatureState(hInstall, "Console", INSTALLSTATE_LOCAL), 0u);
  EXPECT_EQ(Session().ComponentState("Remote")->action, INSTALLSTATE_SOURCE) << "attributes 1: source only";
}

TEST_F(FeaturesTest, FaultsFailTheFeatureCalls) {
  MSIHANDLE hInstall = OpenSession(PackageSql());
  host::Faults::Instance().Fail("MsiGetFeatureState", ERROR_FUNCTION_FAILED, 1, "Server");
  host::Faults::Instance().Fail("MsiSetFeatureState", ERROR_FUNCTION_FAILED, 1, "Console");
  INSTALLSTATE installed = INSTALLSTATE_ABSENT, action = INSTALLSTATE_ABSENT;
  EXPECT_EQ(MsiGetFeatureState(hInstall, "Server", &installed, &action), static_cast<UINT>(ERROR_FUNCTION_FAILED));
  EXPECT_EQ(installed, INSTALLSTATE_ABSENT) << "a failed call leaves the variables";
  EXPECT_EQ(MsiSetFeatureState(hInstall, "Console", INSTALLSTATE_LOCAL), static_cast<UINT>(ERROR_FUNCTION_FAILED));
  EXPECT_EQ(Session().FeatureState("Console")->action, INSTALLSTATE_UNKNOWN);
}

class DirectoriesTest : public vrintest::SessionTest {
 protected:
  std::string Target(MSIHANDLE hInstall, const char* folder) {
    char buffer[MAX_PATH];
    DWORD cch = sizeof(buffer);
    UINT result = MsiGetTargetPath(hInstall, folder, buffer, &cch);
    return result == 0 ? std::string(buffer) : "error " + std::to_string(result);
  }
  std::string Source(MSIHANDLE hInstall, const char* folder) {
    char buffer[MAX_PATH];
    DWORD cch = sizeof(buffer);
    UINT result = MsiGetSourcePath(hInstall, folder, buffer, &cch);
    return result == 0 ? std::string(buffer) : "error " + std::to_string(result);
  }
};

TEST_F(DirectoriesTest, TargetPathsFromTheDirectoryTable) {
  MSIHANDLE hInstall = OpenSession(PackageSql());
  EXPECT_EQ(Target(hInstall, "TARGETDIR"), "C:\\") << "no TARGETDIR, no ROOTDRIVE";
  Session().SetProperty("ROOTDRIVE", "E:\\");
  EXPECT_EQ(Target(hInstall, "TARGETDIR"), "E:\\");
  Session().SetProperty("TARGETDIR", "D:\\Apps");
  EXPECT_EQ(Target(hInstall, "TARGETDIR"), "D:\\Apps\\");
  EXPECT_EQ(Target(hInstall, "ProgramFilesFolder"), "D:\\Apps\\") << "'.' is the parent's folder";
  EXPECT_EQ(Target(hInstall, "VRIN"), "D:\\Apps\\Lumicor Velmora\\") << "the long name";
  EXPECT_EQ(Target(hInstall, "SERVERDIR"), "D:\\Apps\\Lumicor Velmora\\Server\\");
  EXPECT_EQ(Target(hInstall, "CONSOLEDIR"), "D:\\Apps\\Lumicor Velmora\\Console Files\\");
  EXPECT_EQ(Target(hInstall, "BIN"), "D:\\Apps\\Lumicor Velmora\\Server\\");
  EXPECT_EQ(Session().ShortTargetPath("CONSOLEDIR"), "D:\\Apps\\VELMORA\\CONSOLE\\");
  // A property named after a directory overrides its path, and its children
  // follow it.
  Session().SetProperty("ProgramFilesFolder", "C:\\Program Files");
  EXPECT_EQ(Target(hInstall, "SERVERDIR"), "C:\\Program Files\\Lumicor Velmora\\Server\\");
  EXPECT_EQ(Target(hInstall, "targetdir"), "error 267") << "keys are case-sensitive";
  EXPECT_EQ(Target(hInstall, ""), "error 267");
}

TEST_F(DirectoriesTest, SourcePathsNeedTheSourceRoot) {
  MSIHANDLE hInstall = OpenSession(PackageSql());
  EXPECT_EQ(Source(hInstall, "SERVERDIR"), "error 267");
  Session().SetProperty("SourceDir", "D:\\Setup\\");
  EXPECT_EQ(Source(hInstall, "TARGETDIR"), "D:\\Setup\\");
  EXPECT_EQ(Source(hInstall, "ProgramFilesFolder"), "D:\\Setup\\PFiles\\") << "the source half of target:source";
  EXPECT_EQ(Source(hInstall, "VRIN"), "D:\\Setup\\PFiles\\Velmora\\");
  EXPECT_EQ(Source(hInstall, "CONSOLEDIR"), "D:\\Setup\\PFiles\\Velmora\\Console Files\\");
  Session().SetProperty("SourceDir", "");
  Session().SetProperty("SOURCEDIR", "\\\\server\\share");
  EXPECT_EQ(Source(hInstall, "TARGETDIR"), "\\\\server\\share\\");
  // Overrides work for any name, also one the package does not have.
  Session().SetSourcePath("Elsewhere", "F:\\");
  EXPECT_EQ(Source(hInstall, "Elsewhere"), "F:\\");
  EXPECT_EQ(Target(hInstall, "Elsewhere"), "error 267");
}

TEST_F(DirectoriesTest, SetTargetPathMovesADirectoryAndItsChildren) {
  MSIHANDLE hInstall = OpenSession(PackageSql());
  Session().SetProperty("TARGETDIR", "C:\\");
  ASSERT_EQ(MsiSetTargetPath(hInstall, "SERVERDIR", "F:\\Own"), 0u);
  ASSERT_EQ(MsiSetTargetPath(hInstall, "VRIN", "D:\\Backup\\Velmora"), 0u);
  EXPECT_EQ(Target(hInstall, "VRIN"), "D:\\Backup\\Velmora\\");
  EXPECT_EQ(Target(hInstall, "SERVERDIR"), "D:\\Backup\\Velmora\\Server\\") << "a child follows its parent";
  EXPECT_EQ(Target(hInstall, "BIN"), "D:\\Backup\\Velmora\\Server\\");
  EXPECT_EQ(Target(hInstall, "CONSOLEDIR"), "D:\\Backup\\Velmora\\Console Files\\");
  EXPECT_EQ(Target(hInstall, "ProgramFilesFolder"), "C:\\") << "the parent stays";
  // The moved directories' properties carry their paths, as on Windows.
  EXPECT_EQ(Session().GetProperty("VRIN"), "D:\\Backup\\Velmora\\");
  EXPECT_EQ(Session().GetProperty("CONSOLEDIR"), "D:\\Backup\\Velmora\\Console Files\\");
  EXPECT_FALSE(Session().HasProperty("ProgramFilesFolder"));
  // A second move of the parent takes the children along again.
  ASSERT_EQ(MsiSetTargetPath(hInstall, "ProgramFilesFolder", "G:\\"), 0u);
  EXPECT_EQ(Target(hInstall, "SERVERDIR"), "G:\\Lumicor Velmora\\Server\\");
  EXPECT_EQ(Session().GetProperty("SERVERDIR"), "G:\\Lumicor Velmora\\Server\\");
  // The test API moves the same way.
  Session().SetTargetPath("VRIN", "H:\\Velmora\\");
  EXPECT_EQ(Target(hInstall, "CONSOLEDIR"), "H:\\Velmora\\Console Files\\");
}

TEST_F(DirectoriesTest, SetTargetPathCleansThePath) {
  MSIHANDLE hInstall = OpenSession(PackageSql());
  ASSERT_EQ(MsiSetTargetPath(hInstall, "VRIN", "C:\\\\one\\\\two  "), 0u);
  EXPECT_EQ(Target(hInstall, "VRIN"), "C:\\one\\two\\");
  ASSERT_EQ(MsiSetTargetPath(hInstall, "VRIN", "C:\\\\ Program Files \\\\ "), 0u);
  EXPECT_EQ(Target(hInstall, "VRIN"), "C:\\Program Files\\");
  ASSERT_EQ(MsiSetTargetPath(hInstall, "VRIN", "C:/one/two/"), 0u);
  EXPECT_EQ(Target(hInstall, "VRIN"), "C:\\one\\two\\");
  ASSERT_EQ(MsiSetTargetPath(hInstall, "VRIN", "\\\\server\\share\\dir"), 0u);
  EXPECT_EQ(Target(hInstall, "VRIN"), "\\\\server\\share\\dir\\");
}

TEST_F(DirectoriesTest, SetTargetPathRefusesUnknownFoldersAndBadArguments) {
  MSIHANDLE hInstall = OpenSession(PackageSql());
  EXPECT_EQ(MsiSetTargetPath(hInstall, "NOSUCHDIR", "C:\\bogus"), static_cast<UINT>(ERROR_DIRECTORY));
  MSIHANDLE hError = MsiGetLastErrorRecord();
  ASSERT_NE(hError, 0u) << "an error record is left";
  EXPECT_EQ(MsiRecordGetInteger(hError, 1), 2727);
  char buffer[32];
  DWORD cch = sizeof(buffer);
  MsiRecordGetString(hError, 2, buffer, &cch);
  EXPECT_STREQ(buffer, "NOSUCHDIR");
  MsiCloseHandle(hError);
  EXPECT_EQ(Target(hInstall, "NOSUCHDIR"), "error 267") << "nothing was created";
  EXPECT_EQ(MsiSetTargetPath(0, nullptr, nullptr), static_cast<UINT>(ERROR_INVALID_PARAMETER));
  EXPECT_EQ(MsiSetTargetPath(0, "VRIN", "C:\\bogus"), static_cast<UINT>(ERROR_INVALID_HANDLE));
  EXPECT_EQ(MsiSetTargetPath(hInstall, "VRIN", nullptr), static_cast<UINT>(ERROR_INVALID_PARAMETER));
  host::Faults::Instance().Fail("MsiSetTargetPath", ERROR_FUNCTION_FAILED, 1, "VRIN");
  EXPECT_EQ(MsiSetTargetPath(hInstall, "VRIN", "C:\\x"), static_cast<UINT>(ERROR_FUNCTION_FAILED));
  EXPECT_EQ(Target(hInstall, "VRIN"), "C:\\Lumicor Velmora\\");
  // A name known only from a test's override can be moved.
  Session().SetTargetPath("INSTALLDIR", "C:\\Old\\");
  EXPECT_EQ(MsiSetTargetPath(hInstall, "INSTALLDIR", "C:\\New"), 0u);
  EXPECT_EQ(Target(hInstall, "INSTALLDIR"), "C:\\New\\");
}

TEST_F(DirectoriesTest, CyclicParentsResolveToNothing) {
  MSIHANDLE hInstall = OpenSession(
      {"CREATE TABLE `Directory` (`Directory` CHAR(72) NOT NULL, `Directory_Parent` CHAR(72), `DefaultDir` "
       "CHAR(255) NOT NULL PRIMARY KEY `Directory`)",
       "INSERT INTO `Directory` (`Directory`, `Directory_Parent`, `DefaultDir`) VALUES ('A', 'B', 'a')",
       "INSERT INTO `Directory` (`Directory`, `Directory_Parent`, `DefaultDir`) VALUES ('B', 'A', 'b')",
       "INSERT INTO `Directory` (`Directory`, `Directory_Parent`, `DefaultDir`) VALUES ('C', 'Missing', 'c')",
       "INSERT INTO `Directory` (`Directory`, `Directory_Parent`, `DefaultDir`) VALUES ('R', 'R', 'SourceDir')"});
  EXPECT_EQ(Target(hInstall, "A"), "error 267");
  EXPECT_EQ(Target(hInstall, "C"), "error 267");
  EXPECT_EQ(Target(hInstall, "R"), "C:\\") << "its own parent: a root";
  EXPECT_EQ(MsiSetTargetPath(hInstall, "A", "D:\\"), 0u);
  EXPECT_EQ(Target(hInstall, "B"), "D:\\b\\");
}

TEST(RunModeTest, RebootModesAreAnsweredFromTheSession) {
  host::ResetMachine();
  std::shared_ptr<host::Session> session = host::Session::Open(nullptr);
  MSIHANDLE hInstall = session->Handle();
  EXPECT_FALSE(MsiGetMode(hInstall, MSIRUNMODE_REBOOTATEND));
  EXPECT_FALSE(MsiGetMode(hInstall, MSIRUNMODE_REBOOTNOW));
  session->SetMode(MSIRUNMODE_REBOOTATEND, true);
  EXPECT_TRUE(MsiGetMode(hInstall, MSIRUNMODE_REBOOTATEND));
  EXPECT_FALSE(MsiGetMode(hInstall, MSIRUNMODE_REBOOTNOW));
  session->SetMode(MSIRUNMODE_REBOOTNOW, true);
  session->SetMode(MSIRUNMODE_REBOOTATEND, false);
  EXPECT_FALSE(MsiGetMode(hInstall, MSIRUNMODE_REBOOTATEND));
  EXPECT_TRUE(MsiGetMode(hInstall, MSIRUNMODE_REBOOTNOW));
  EXPECT_FALSE(MsiGetMode(0, MSIRUNMODE_REBOOTNOW));
  host::Faults::Instance().Fail("MsiGetMode", ERROR_FUNCTION_FAILED);
  EXPECT_FALSE(MsiGetMode(hInstall, MSIRUNMODE_REBOOTNOW)) << "a failing call answers false";
  EXPECT_TRUE(MsiGetMode(hInstall, MSIRUNMODE_REBOOTNOW));
  host::ResetMachine();
}

}  // namespace
