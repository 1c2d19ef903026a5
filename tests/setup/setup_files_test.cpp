// The inf and icf files of the standalone setup and the component selection:
// properties, the VRIN folder and feature states they leave in the session.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "host/faults.h"
#include "host/filesystem.h"
#include "host/library_heap.h"
#include "setup/setup_files.h"
#include "tests/support/session_fixture.h"

namespace {

using host::Faults;
using host::Files;
using Lines = std::vector<std::string>;

const char kServerComponent[] = "NTServerApplication.7C3E4A12_9F5D_4B43_9E77_3A4C5D6E7F83";
const char kConsoleComponent[] = "GuiApplication.8D4F5B23_AA6E_4C54_AF88_4B5D6E7F8094";
const char kIcf[] = "C:\\Temp\\setup.icf";
const char* const kCommon[] = {"Common",    "CommonUSA", "CommonCHT", "CommonSPA", "CommonCHS",
                               "CommonITA", "CommonJPN", "CommonFRN", "CommonGRM", "DS.x86"};

std::string Trace(const std::string& text) { return "OV VRIN : " + text; }
std::string Warning(const std::string& text) { return "WARN: OV VRIN : " + text; }
std::string Error(const std::string& text) { return "ERR: OV VRIN : " + text; }
std::string Report(const std::string& name, int error, const std::string& context) {
  return "ERR: OV VRIN : " + name + " : " + std::to_string(error) + "\r\n\r\nCONTEXT = " + context;
}

// A package with the VRIN folder and the features of the standalone setup:
// the two merge-module components' features and all fixed ones but DS.IA64.
std::vector<std::string> PackageSql(bool withServerComponent = true, bool withConsoleComponent = true) {
  std::vector<std::string> sql = vrintest::RowMarkersSql();
  sql.push_back(
      "CREATE TABLE `Directory` (`Directory` CHAR(72) NOT NULL, `Directory_Parent` CHAR(72), `DefaultDir` "
      "CHAR(255) NOT NULL PRIMARY KEY `Directory`)");
  sql.push_back(
      "INSERT INTO `Directory` (`Directory`, `Directory_Parent`, `DefaultDir`) VALUES ('TARGETDIR', '', "
      "'SourceDir')");
  sql.push_back(
      "INSERT INTO `Directory` (`Directory`, `Directory_Parent`, `DefaultDir`) VALUES ('VRIN', "
      "'TARGETDIR', 'Velmora')");
  sql.push_back(
      "CREATE TABLE `Feature` (`Feature` CHAR(38) NOT NULL, `Feature_Parent` CHAR(38), `Title` CHAR(64), "
      "`Description` CHAR(255), `Display` SHORT, `Level` SHORT NOT NULL, `Directory_` CHAR(72), `Attributes` SHORT "
      "NOT NULL PRIMARY KEY `Feature`)");
  std::vector<std::string> features = {"NTServer", "GUI"};
  features.insert(features.end(), std::begin(kCommon), std::end(kCommon));
  for (const std::string& feature : features) {
    sql.push_back("INSERT INTO `Feature` (`Feature`, `Level`, `Attributes`) VALUES ('" + feature + "', 1, 0)");
  }
  sql.push_back(
      "CREATE TABLE `FeatureComponents` (`Feature_` CHAR(38) NOT NULL, `Component_` CHAR(72) NOT NULL "
      "PRIMARY KEY `Feature_`, `Component_`)");
  if (withServerComponent) {
    sql.push_back(std::string("INSERT INTO `FeatureComponents` (`Feature_`, `Component_`) VALUES ('NTServer', '") +
                  kServerComponent + "')");
  }
  if (withConsoleComponent) {
    sql.push_back(std::string("INSERT INTO `FeatureComponents` (`Feature_`, `Component_`) VALUES ('GUI', '") +
                  kConsoleComponent + "')");
  }
  return sql;
}

class SetupFilesTest : public vrintest::SessionTest {
 protected:
  MSIHANDLE Open(bool withServerComponent = true, bool withConsoleComponent = true) {
    MSIHANDLE hInstall = OpenSession(PackageSql(withServerComponent, withConsoleComponent));
    Session().SetSourcePath("UnCompressedFolder", "C:\\Setup\\");
    Session().SetProperty("INFFILE", "vrin.inf");
    Session().SetProperty("VRINLANGID", "1033");
    Session().SetProperty("ICFPATH", kIcf);
    libraryBlocks_ = host::LibraryAllocationCount();
    return hInstall;
  }

  void TearDown() override {
    EXPECT_EQ(OpenHandles(), 0);
    EXPECT_EQ(Files().OpenFileHandles(), 0);
    EXPECT_EQ(host::LibraryAllocationCount(), libraryBlocks_) << "a string was not freed";
    SessionTest::TearDown();
  }

  // The log lines that start with the prefix.
  Lines Starting(const std::string& prefix) const {
    Lines found;
    for (const std::string& line : LogLines()) {
      if (line.rfind(prefix, 0) == 0) found.push_back(line);
    }
    return found;
  }

  INSTALLSTATE Requested(const std::string& feature) { return Session().FeatureState(feature)->action; }

  size_t libraryBlocks_ = 0;
};

// --- VrinReadInfFile ---

TEST_F(SetupFilesTest, InfFileGivesLicencePathAndSubType) {
  MSIHANDLE hInstall = Open();
  Files().AddFile("C:\\Setup\\vrin.inf", "[Setup]\r\nLicenseTextFile=license.txt\r\nProdSubType=3\r\n");
  EXPECT_EQ(VrinReadInfFile(hInstall), 0u);
  EXPECT_EQ(Session().GetProperty("LICENSE"), ".\\1033\\license.txt");
  EXPECT_EQ(Session().GetProperty("PRODUCTSUBTYPE"), "3");
  EXPECT_EQ(Session().GetProperty("PRODSUBTYPE"), "3");
  // Standard output: the installer's log would read "[Setup]" as a property.
  EXPECT_EQ(TakeStdoutLines(),
            (Lines{Trace("VrinReadInfFile ->"), Trace("InstallGetSourcePath -> UnCompressedFolder"),
                   Trace("InstallGetSourcePath <- (C:\\Setup\\)"), Trace("InstallGetProperty -> INFFILE"),
                   Trace("InstallGetProperty <- (vrin.inf)"), Trace("Query inf file : C:\\Setup\\vrin.inf"),
                   Trace("InstallGetPrivateProfileString -> [Setup] LicenseTextFile=()"),
                   Trace("InstallGetPrivateProfileString <- license.txt"), Trace("InstallGetProperty -> VRINLANGID"),
                   Trace("InstallGetProperty <- (1033)"), Trace("Setting LICENSE=.\\1033\\license.txt"),
                   Trace("InstallGetPrivateProfileInt -> [Setup] ProdSubType=(0)"),
                   Trace("InstallGetPrivateProfileInt <- 3"), Trace("InstallSetProperty -> PRODUCTSUBTYPE = 3"),
                   Trace("InstallSetProperty <-"), Trace("InstallSetProperty -> PRODSUBTYPE = 3"),
                   Trace("InstallSetProperty <-"), Trace("VrinReadInfFile <- [0]")}));
}

TEST_F(SetupFilesTest, InfSubTypeZeroOrMissingIsAWarningAndNoProperty) {
  for (const char* szSubType : {"ProdSubType=0\r\n", ""}) {
    MSIHANDLE hInstall = Open();
    Files().AddFile("C:\\Setup\\vrin.inf", std::string("[Setup]\r\nLicenseTextFile=license.txt\r\n") + szSubType);
    EXPECT_EQ(VrinReadInfFile(hInstall), 0u);
    EXPECT_EQ(Session().GetProperty("LICENSE"), ".\\1033\\license.txt");
    EXPECT_FALSE(Session().HasProperty("PRODUCTSUBTYPE"));
    EXPECT_FALSE(Session().HasProperty("PRODSUBTYPE"));
    EXPECT_EQ(Starting("WARN: "), (Lines{Warning("ProdSubType not present in C:\\Setup\\vrin.inf")}));
    Files().Unlink("C:\\Setup\\vrin.inf");
  }
}

TEST_F(SetupFilesTest, InfWithoutLicenceFileOrMissingFailsTheInstallation) {
  for (const char* szContent :
       std::vector<const char*>{"[Setup]\r\nProdSubType=3\r\n", "[Setup]\r\nLicenseTextFile=\r\n", nullptr}) {
    MSIHANDLE hInstall = Open();
    if (szContent != nullptr) Files().AddFile("C:\\Setup\\vrin.inf", szContent);
    EXPECT_EQ(VrinReadInfFile(hInstall), 1603u);
    EXPECT_FALSE(Session().HasProperty("LICENSE"));
    EXPECT_FALSE(Session().HasProperty("PRODUCTSUBTYPE"));
    Lines errors = Starting("ERR: ");
    ASSERT_EQ(errors.size(), 1u);
    EXPECT_EQ(errors[0].rfind(Report("VrinReadInfFile", 2, "VrinReadInfFile : InstallGetPrivateProfileString(1)"), 0),
              0u)
        << errors[0];
    EXPECT_EQ(LogLines().back(), Trace("VrinReadInfFile <- [1603]"));
    if (szContent != nullptr) Files().Unlink("C:\\Setup\\vrin.inf");
  }
}

TEST_F(SetupFilesTest, LicencePathThatDoesNotFitIsRefusedNotCut) {
  // ".\" + language + "\" + name: 259 characters still fit the 260-byte buffer.
  std::string name(250, 'n');
  MSIHANDLE hInstall = Open();
  Session().SetProperty("VRINLANGID", std::string(6, 'L'));
  Files().AddFile("C:\\Setup\\vrin.inf", "[Setup]\r\nLicenseTextFile=" + name + "\r\nProdSubType=2\r\n");
  EXPECT_EQ(VrinReadInfFile(hInstall), 0u);
  EXPECT_EQ(Session().GetProperty("LICENSE").size(), 259u);

  hInstall = Open();
  Session().SetProperty("VRINLANGID", std::string(7, 'L'));
  EXPECT_EQ(VrinReadInfFile(hInstall), 1603u);
  EXPECT_FALSE(Session().HasProperty("LICENSE"));
  EXPECT_FALSE(Session().HasProperty("PRODUCTSUBTYPE"));
  Lines errors = Starting("ERR: ");
  ASSERT_EQ(errors.size(), 1u);
  EXPECT_EQ(errors[0].rfind(Report("VrinReadInfFile", 206, "VrinReadInfFile : szLicense"), 0), 0u) << errors[0];
}

TEST_F(SetupFilesTest, LongSourceFolderIsNoOverflow) {
  MSIHANDLE hInstall = Open();
  std::string folder = "C:\\" + std::string(240, 'd') + "\\";
  Session().SetSourcePath("UnCompressedFolder", folder);
  Session().SetProperty("INFFILE", std::string(40, 'i') + ".inf");
  // The joint path is too long for Windows to open, so it reads as missing.
  EXPECT_EQ(VrinReadInfFile(hInstall), 1603u);
  EXPECT_EQ(Starting("OV VRIN : Query inf file : ").at(0),
            Trace("Query inf file : " + folder + std::string(40, 'i') + ".inf"));
}

TEST_F(SetupFilesTest, RefusedLicencePropertyFailsTheInstallation) {
  MSIHANDLE hInstall = Open();
  Files().AddFile("C:\\Setup\\vrin.inf", "[Setup]\r\nLicenseTextFile=license.txt\r\nProdSubType=3\r\n");
  Faults::Instance().Fail("MsiSetProperty", ERROR_FUNCTION_FAILED, 1, "LICENSE");
  EXPECT_EQ(VrinReadInfFile(hInstall), 1603u);
  EXPECT_FALSE(Session().HasProperty("PRODUCTSUBTYPE"));
  EXPECT_EQ(Starting("ERR: ").at(0).rfind(Report("VrinReadInfFile", 1627, "VrinReadInfFile : MsiSetProperty(1)"), 0),
            0u);
}

TEST_F(SetupFilesTest, InfNullSessionIsRefusedWith160AndFails) {
  EXPECT_EQ(VrinReadInfFile(0), 1603u);
  std::string out = TakeStdout();
  EXPECT_NE(out.find("OV VRIN : VrinReadInfFile : 160\r\n\r\nCONTEXT = VrinReadInfFile : hInstall\r\n"),
            std::string::npos)
      << out;
}

// --- VrinReadIcfFile ---

TEST_F(SetupFilesTest, IcfMovesVrinAndSetsStartupMode) {
  MSIHANDLE hInstall = Open();
  Files().AddFile(kIcf, "[VRIN]\r\nINSTALLDIR=D:\\Apps\\Velmora\r\nSTARTUPMODE=Manual\r\n");
  EXPECT_EQ(VrinReadIcfFile(hInstall), 0u);
  EXPECT_EQ(Session().TargetPath("VRIN"), "D:\\Apps\\Velmora\\");
  EXPECT_EQ(Session().GetProperty("STARTUPMODE"), "Manual");
  EXPECT_EQ(Starting("OV VRIN : Query").at(0), Trace("Query Icf file : C:\\Temp\\setup.icf"));
  EXPECT_EQ(Starting("OV VRIN : Setting "),
            (Lines{Trace("Setting VRIN=D:\\Apps\\Velmora"), Trace("Setting STARTUPMODE=Manual")}));
  EXPECT_TRUE(Starting("ERR: ").empty());
}

TEST_F(SetupFilesTest, IcfUpgradeKeepsTheFolderButStillTracesIt) {
  for (const char* szUpgrade : {"1", "12"}) {
    MSIHANDLE hInstall = Open();
    Session().SetProperty("ISUPGRADE", szUpgrade);
    Files().AddFile(kIcf, "[VRIN]\r\nINSTALLDIR=D:\\Apps\\Velmora\r\n");
    EXPECT_EQ(VrinReadIcfFile(hInstall), 0u);
    EXPECT_EQ(Session().TargetPath("VRIN"), "C:\\Velmora\\");
    EXPECT_EQ(Starting("OV VRIN : Setting "), (Lines{Trace("Setting VRIN=D:\\Apps\\Velmora")}));
    Files().Unlink(kIcf);
  }
  MSIHANDLE hInstall = Open();
  Session().SetProperty("ISUPGRADE", "0");
  Files().AddFile(kIcf, "[VRIN]\r\nINSTALLDIR=D:\\Apps\\Velmora\r\n");
  EXPECT_EQ(VrinReadIcfFile(hInstall), 0u);
  EXPECT_EQ(Session().TargetPath("VRIN"), "D:\\Apps\\Velmora\\");
}

// INSTALLDIR and STARTUPMODE go through 260-byte buffers: values of up to
// 259 characters are read whole, longer ones as their first 259.
class IcfValueLengthTest : public SetupFilesTest, public ::testing::WithParamInterface<size_t> {};

TEST_P(IcfValueLengthTest, ReadWholeOrAsTheFirst259Characters) {
  MSIHANDLE hInstall = Open();
  Session().SetProperty("ISUPGRADE", "1");  // the folder is traced, not moved
  const std::string folder = "D:\\" + std::string(GetParam() - 3, 'f');
  const std::string mode(GetParam(), 'm');
  Files().AddFile(kIcf, "[VRIN]\r\nINSTALLDIR=" + folder + "\r\nSTARTUPMODE=" + mode + "\r\n");
  EXPECT_EQ(VrinReadIcfFile(hInstall), 0u);
  EXPECT_EQ(Starting("OV VRIN : Setting "), (Lines{Trace("Setting VRIN=" + folder.substr(0, 259)),
                                                   Trace("Setting STARTUPMODE=" + mode.substr(0, 259))}));
  EXPECT_EQ(Session().GetProperty("STARTUPMODE"), mode.substr(0, 259));
}

INSTANTIATE_TEST_SUITE_P(AroundTheBuffer, IcfValueLengthTest, ::testing::Values(259, 260, 261, 10000));

TEST_F(SetupFilesTest, MissingIcfKeepsFolderAndStartupMode) {
  MSIHANDLE hInstall = Open();
  Session().SetProperty("STARTUPMODE", "Automatic");
  EXPECT_EQ(VrinReadIcfFile(hInstall), 0u);
  EXPECT_EQ(Session().TargetPath("VRIN"), "C:\\Velmora\\");
  EXPECT_EQ(Session().GetProperty("STARTUPMODE"), "Automatic");
  EXPECT_EQ(Starting("OV VRIN : Setting "), (Lines{Trace("Setting VRIN=C:\\Velmora\\")}));
  EXPECT_TRUE(Starting("ERR: ").empty());
}

TEST_F(SetupFilesTest, RefusedStartupModeIsOnlyAnErrorLine) {
  MSIHANDLE hInstall = Open();
  Files().AddFile(kIcf, "[VRIN]\r\nINSTALLDIR=D:\\Apps\\Velmora\r\nSTARTUPMODE=Manual\r\n");
  Faults::Instance().Fail("MsiSetProperty", ERROR_FUNCTION_FAILED, 1, "STARTUPMODE");
  EXPECT_EQ(VrinReadIcfFile(hInstall), 0u);
  EXPECT_EQ(Session().TargetPath("VRIN"), "D:\\Apps\\Velmora\\");
  EXPECT_EQ(Starting("ERR: "), (Lines{Error("Failure to set STARTUPMODE")}));
  EXPECT_EQ(LogLines().back(), Trace("VrinReadIcfFile <- [0]"));
}

TEST_F(SetupFilesTest, EmptyInstallDirOrRefusedFolderIsReportedAndGoesOn) {
  MSIHANDLE hInstall = Open();
  Files().AddFile(kIcf, "[VRIN]\r\nINSTALLDIR=\r\nSTARTUPMODE=Manual\r\n");
  EXPECT_EQ(VrinReadIcfFile(hInstall), 0u);
  EXPECT_FALSE(Session().HasProperty("STARTUPMODE"));
  EXPECT_EQ(Starting("ERR: ").at(0).rfind(
                Report("VrinReadIcfFile", 2, "VrinReadIcfFile : InstallGetPrivateProfileString(1)"), 0),
            0u);

  hInstall = Open();
  Files().Unlink(kIcf);
  Files().AddFile(kIcf, "[VRIN]\r\nINSTALLDIR=D:\\Apps\\Velmora\r\nSTARTUPMODE=Manual\r\n");
  Faults::Instance().Fail("MsiSetTargetPath", ERROR_DIRECTORY, 1);
  EXPECT_EQ(VrinReadIcfFile(hInstall), 0u);
  EXPECT_EQ(Session().TargetPath("VRIN"), "C:\\Velmora\\");
  EXPECT_FALSE(Session().HasProperty("STARTUPMODE"));
  EXPECT_EQ(Starting("ERR: ").at(0).rfind(Report("VrinReadIcfFile", 267, "VrinReadIcfFile : MsiSetProperty(1)"), 0),
            0u);
}

TEST_F(SetupFilesTest, IcfNullSessionIsReportedAndGoesOn) {
  EXPECT_EQ(VrinReadIcfFile(0), 0u);
  EXPECT_NE(TakeStdout().find("OV VRIN : VrinReadIcfFile : 160\r\n"), std::string::npos);
}

// --- VrinSetSelectedComponents ---

class SelectionTest : public SetupFilesTest {
 protected:
  MSIHANDLE OpenWithList(const char* szList) {
    MSIHANDLE hInstall = Open();
    Session().SetProperty("VRINGui", "1");
    Session().SetProperty("VRINNTServer", "1");
    if (szList != nullptr) Files().AddFile(kIcf, std::string("[INSTALL]\r\nProductList=") + szList + "\r\n");
    return hInstall;
  }
  Lines Resets() const { return Starting("OV VRIN : VrinSetSelectedComponents RESET"); }
};

TEST_F(SelectionTest, NoIcfFileRemovesBoth) {
  MSIHANDLE hInstall = OpenWithList(nullptr);
  EXPECT_EQ(VrinSetSelectedComponents(hInstall), 0u);
  EXPECT_FALSE(Session().HasProperty("VRINGui"));
  EXPECT_FALSE(Session().HasProperty("VRINNTServer"));
  EXPECT_EQ(Resets(), (Lines{Trace("VrinSetSelectedComponents RESET property VRINNTServer=0 AND VRINGui=0")}));
  EXPECT_EQ(LogLines().at(3), Trace("Query Icf file : C:\\Temp\\setup.icf"));
}

TEST_F(SelectionTest, EmptyIcfPathRemovesBoth) {
  MSIHANDLE hInstall = OpenWithList("VRINServer,VRINConsole");
  Session().SetProperty("ICFPATH", "");
  EXPECT_EQ(VrinSetSelectedComponents(hInstall), 0u);
  EXPECT_FALSE(Session().HasProperty("VRINGui"));
  EXPECT_FALSE(Session().HasProperty("VRINNTServer"));
}

TEST_F(SelectionTest, ProductNamedWithoutComponentsRemovesEachWithItsLine) {
  MSIHANDLE hInstall = OpenWithList("ABC,VRIN,XYZ");
  EXPECT_EQ(VrinSetSelectedComponents(hInstall), 0u);
  EXPECT_FALSE(Session().HasProperty("VRINGui"));
  EXPECT_FALSE(Session().HasProperty("VRINNTServer"));
  EXPECT_EQ(Resets(), (Lines{Trace("VrinSetSelectedComponents RESET property VRINGui"),
                             Trace("VrinSetSelectedComponents RESET property VRINNTServer")}));
}

TEST_F(SelectionTest, BothComponentsNamedKeepBoth) {
  MSIHANDLE hInstall = OpenWithList("VRINServer;VRINConsole");
  EXPECT_EQ(VrinSetSelectedComponents(hInstall), 0u);
  EXPECT_EQ(Session().GetProperty("VRINGui"), "1");
  EXPECT_EQ(Session().GetProperty("VRINNTServer"), "1");
  EXPECT_TRUE(Resets().empty());
}

TEST_F(SelectionTest, OneComponentNamedKeepsOnlyIt) {
  MSIHANDLE hInstall = OpenWithList("XVRINConsoleX");
  EXPECT_EQ(VrinSetSelectedComponents(hInstall), 0u);
  EXPECT_EQ(Session().GetProperty("VRINGui"), "1");
  EXPECT_FALSE(Session().HasProperty("VRINNTServer"));
  EXPECT_EQ(Resets(), (Lines{Trace("VrinSetSelectedComponents RESET property VRINNTServer")}));
}

TEST_F(SelectionTest, LowerCaseNamesNothing) {
  MSIHANDLE hInstall = OpenWithList("vrinserver,vrinconsole");
  EXPECT_EQ(VrinSetSelectedComponents(hInstall), 0u);
  EXPECT_FALSE(Session().HasProperty("VRINGui"));
  EXPECT_FALSE(Session().HasProperty("VRINNTServer"));
  EXPECT_EQ(Resets(), (Lines{Trace("VrinSetSelectedComponents RESET property VRINNTServer=0 AND VRINGui=0")}));
}

TEST_F(SelectionTest, NullSessionIsReportedAndGoesOn) {
  EXPECT_EQ(VrinSetSelectedComponents(0), 0u);
  EXPECT_NE(TakeStdout().find("OV VRIN : VrinSetSelectedComponents : 160\r\n"), std::string::npos);
}

// --- VRINSetSelectedFeatureState ---

TEST_F(SetupFilesTest, BothSelectedSetsEveryFeatureLocal) {
  MSIHANDLE hInstall = Open();
  Session().SetProperty("VRINNTServer", "1");
  Session().SetProperty("VRINGui", "yes");
  EXPECT_EQ(VRINSetSelectedFeatureState(hInstall), 0u);
  EXPECT_EQ(Requested("NTServer"), INSTALLSTATE_LOCAL);
  EXPECT_EQ(Requested("GUI"), INSTALLSTATE_LOCAL);
  for (const char* szFeature : kCommon) EXPECT_EQ(Requested(szFeature), INSTALLSTATE_LOCAL) << szFeature;
  EXPECT_EQ(Starting("OV VRIN : VRINSetSelectedFeatureState "),
            (Lines{Trace("VRINSetSelectedFeatureState ->"),
                   Trace("VRINSetSelectedFeatureState Query VRINNTServer = 1 to INSTALLSTATE_LOCAL"),
                   Trace("VRINSetSelectedFeatureState Query VRINGui = yes to INSTALLSTATE_LOCAL"),
                   Trace("VRINSetSelectedFeatureState Set Install State for Common to INSTALLSTATE_LOCAL"),
                   Trace("VRINSetSelectedFeatureState <- [0]")}));
  EXPECT_TRUE(Starting("ERR: ").empty()) << "the missing DS.IA64 is no failure";
}

TEST_F(SetupFilesTest, OnlyConsoleLeavesTheServerFeatureAlone) {
  MSIHANDLE hInstall = Open();
  Session().SetProperty("VRINGui", "1");
  EXPECT_EQ(VRINSetSelectedFeatureState(hInstall), 0u);
  EXPECT_EQ(Requested("NTServer"), INSTALLSTATE_UNKNOWN);
  EXPECT_EQ(Requested("GUI"), INSTALLSTATE_LOCAL);
  EXPECT_EQ(Requested("Common"), INSTALLSTATE_LOCAL);
  EXPECT_EQ(Requested("DS.x86"), INSTALLSTATE_LOCAL);
}

TEST_F(SetupFilesTest, NothingSelectedChangesNoFeature) {
  MSIHANDLE hInstall = Open();
  EXPECT_EQ(VRINSetSelectedFeatureState(hInstall), 0u);
  for (const std::string& feature : Session().Features()) EXPECT_EQ(Requested(feature), INSTALLSTATE_UNKNOWN);
  EXPECT_TRUE(Starting("OV VRIN : VRINSetSelectedFeatureState Set").empty());
}

// Both lookups come before any state is set: either component missing
// leaves every feature as it was.
TEST_F(SetupFilesTest, EitherComponentMissingChangesNothingAtAll) {
  for (bool serverPresent : {false, true}) {
    SCOPED_TRACE(serverPresent ? "console missing" : "server missing");
    MSIHANDLE hInstall = Open(serverPresent, !serverPresent);
    Session().SetProperty("VRINNTServer", "1");
    Session().SetProperty("VRINGui", "1");
    EXPECT_EQ(VRINSetSelectedFeatureState(hInstall), 0u);
    for (const std::string& feature : Session().Features()) EXPECT_EQ(Requested(feature), INSTALLSTATE_UNKNOWN);
    ASSERT_EQ(Starting("ERR: ").size(), 1u);
    EXPECT_EQ(Starting("ERR: ").at(0).rfind("ERR: OV VRIN : VRINSetSelectedFeatureState : 259", 0), 0u);
    Session().Close();
  }
}

TEST_F(SetupFilesTest, FeatureStateHasNoSessionCheckAndStillReturnsZero) {
  EXPECT_EQ(VRINSetSelectedFeatureState(0), 0u);
  std::string out = TakeStdout();
  EXPECT_EQ(out.find("VRINSetSelectedFeatureState : hInstall"), std::string::npos) << out;
  EXPECT_NE(out.find("OV VRIN : VRINSetSelectedFeatureState : "), std::string::npos) << "the lookup's failure";
  EXPECT_NE(out.find("OV VRIN : VRINSetSelectedFeatureState <- [0]\r\n"), std::string::npos);
}

TEST_F(SetupFilesTest, SelectionThenFeatureStatesEndToEnd) {
  MSIHANDLE hInstall = Open();
  Session().SetProperty("VRINNTServer", "1");
  Session().SetProperty("VRINGui", "1");
  Files().AddFile(kIcf, "[INSTALL]\r\nProductList=VRIN,VRINServer\r\n");
  EXPECT_EQ(VrinSetSelectedComponents(hInstall), 0u);
  EXPECT_EQ(VRINSetSelectedFeatureState(hInstall), 0u);
  EXPECT_EQ(Requested("NTServer"), INSTALLSTATE_LOCAL);
  EXPECT_EQ(Requested("GUI"), INSTALLSTATE_UNKNOWN);
  EXPECT_EQ(Requested("CommonGRM"), INSTALLSTATE_LOCAL);
}

// --- ResolveFileName ---

TEST_F(SetupFilesTest, ResolveJoinsSourceFolderAndRelativeName) {
  MSIHANDLE hInstall = Open();
  Session().SetProperty("LICENSE", ".\\1033\\license.txt");
  ResolveFileName(hInstall, "LICENSE", "LICENSEFILE");
  EXPECT_EQ(Session().GetProperty("LICENSEFILE"), "C:\\Setup\\.\\1033\\license.txt");
  EXPECT_EQ(LogLines().front(), Trace("ResolveFileName ->"));
  EXPECT_EQ(Starting("OV VRIN : Set "), (Lines{Trace("Set LICENSEFILE = C:\\Setup\\.\\1033\\license.txt")}));
  EXPECT_EQ(LogLines().back(), Trace("ResolveFileName <-"));
}

TEST_F(SetupFilesTest, ResolveRefusesAPathTooLongAndFreesItsStrings) {
  MSIHANDLE hInstall = Open();
  Session().SetProperty("LICENSE", std::string(255, 'x'));
  EXPECT_EQ(Raised([&] { ResolveFileName(hInstall, "LICENSE", "LICENSEFILE"); }),
            std::make_pair(std::string("InstallMakePath"), DWORD{ERROR_FILENAME_EXCED_RANGE}));
  EXPECT_FALSE(Session().HasProperty("LICENSEFILE"));
}

TEST_F(SetupFilesTest, ResolveRaisesARefusedProperty) {
  MSIHANDLE hInstall = Open();
  Session().SetProperty("LICENSE", "license.txt");
  Faults::Instance().Fail("MsiSetProperty", ERROR_FUNCTION_FAILED, 1, "LICENSEFILE");
  EXPECT_EQ(Raised([&] { ResolveFileName(hInstall, "LICENSE", "LICENSEFILE"); }),
            std::make_pair(std::string("ResolveFileName : MsiSetProperty(FileName)"), DWORD{ERROR_FUNCTION_FAILED}));
  EXPECT_NE(LogLines().back(), Trace("ResolveFileName <-"));
}

}  // namespace
