// Detection of an earlier console: the three places in their order
// (skdwin.ini, the product key, the previous generation's key), the version
// bands that set GUIUPGRADE, and every failure ending in one report without a
// property. The "NTGUI" mark of the release flags.
#include <gtest/gtest.h>

#include <string>

#include "console/console_version.h"
#include "host/code_page.h"
#include "host/faults.h"
#include "host/filesystem.h"
#include "host/registry.h"
#include "tests/console/console_fixture.h"
#include "tools/road/pe_builder.h"

namespace {

using host::Faults;
using host::Files;
using host::LocalRegistry;
using vrintest::kOldKey;
using vrintest::kOldPath;
using vrintest::kProductKey;
using vrintest::kProductPath;
using vrintest::Lines;
using vrintest::Report;
using vrintest::Trace;

const char kIniConsole[] = "C:\\Program Files\\Velmora Console";
const char kProductConsole[] = "D:\\Velmora\\Console";
const char kOldConsole[] = "E:\\OV VRIN\\Console";

class PreviousVersionTest : public vrintest::ConsoleTest {
 protected:
  static void AddConsole(const std::string& folder, uint16_t major) {
    Files().AddFile(folder + "\\skdwin.exe", vrintest::VersionedDll({major, 1, 0, 0}));
  }
  static void WriteIni(const std::string& folder) {
    Files().AddFile(vrintest::kIniPath, "[SKDInformation]\r\nDir=" + folder + "\r\n");
  }
  std::string Property(const std::string& name) { return Session().GetProperty(name); }
};

// The log's view of the profile lookup: the installer reads "[SKDInformation]"
// as a property reference, which is empty.
Lines ProfileLookup(const std::string& found) {
  return {Trace("InstallGetPrivateProfileString ->  Dir=()"), Trace("InstallGetPrivateProfileString <- " + found)};
}

Lines RegistryLookup(const std::string& key, const std::string& found) {
  return {Trace("InstallGetRegString -> " + key + "\\GuiPath"), Trace("InstallGetRegString <- " + found)};
}

Lines Append(Lines lines, const Lines& more) {
  lines.insert(lines.end(), more.begin(), more.end());
  return lines;
}

TEST_F(PreviousVersionTest, TheProfileEntryWinsOverTheRegistry) {
  MSIHANDLE hInstall = Open();
  WriteIni(kIniConsole);
  AddConsole(kIniConsole, 8);
  LocalRegistry().SetString(kProductPath, "GuiPath", kProductConsole);
  AddConsole(kProductConsole, 10);

  EXPECT_EQ(VrinGUIPreviousVersionInstalled(hInstall), 0u);

  Lines expected = Append({Trace("VrinGUIPreviousVersionInstalled ->")}, ProfileLookup(kIniConsole));
  expected = Append(
      expected, {Trace("InstallGetFileVersion -> " + std::string(kIniConsole) + "\\skdwin.exe"),
                 Trace("InstallGetFileVersion <- 8,1,0,0"), Trace("Set GUIINSTALLDIR = " + std::string(kIniConsole)),
                 Trace("PPVersion = 8"), Trace("Set GUIUPGRADE"), Trace("VrinGUIPreviousVersionInstalled <- [0]")});
  EXPECT_EQ(LogLines(), expected);
  EXPECT_EQ(Property("GUIINSTALLDIR"), kIniConsole);
  EXPECT_EQ(Property("GUIUPGRADE"), "1");
  EXPECT_EQ(Faults::Instance().CallCounts().count("RegOpenKeyEx"), 0u) << "the registry is not read";
  EXPECT_NE(TakeStdout().find("OV VRIN : InstallGetPrivateProfileString -> [SKDInformation] Dir=()\r\n"),
            std::string::npos);
}

TEST_F(PreviousVersionTest, WithoutTheProfileTheProductKeyIsRead) {
  MSIHANDLE hInstall = Open();
  LocalRegistry().SetString(kProductPath, "GuiPath", kProductConsole);
  LocalRegistry().SetString(kOldPath, "GuiPath", kOldConsole);
  AddConsole(kProductConsole, 9);

  EXPECT_EQ(VrinGUIPreviousVersionInstalled(hInstall), 0u);

  Lines expected = Append({Trace("VrinGUIPreviousVersionInstalled ->")}, ProfileLookup(""));
  expected = Append(expected, RegistryLookup(kProductKey, kProductConsole));
  expected = Append(expected, {Trace("InstallGetFileVersion -> " + std::string(kProductConsole) + "\\skdwin.exe"),
                               Trace("InstallGetFileVersion <- 9,1,0,0"),
                               Trace("Set GUIINSTALLDIR = " + std::string(kProductConsole)), Trace("PPVersion = 9"),
                               Trace("VrinGUIPreviousVersionInstalled <- [0]")});
  EXPECT_EQ(LogLines(), expected);
  EXPECT_EQ(Property("GUIINSTALLDIR"), kProductConsole);
  EXPECT_EQ(Property("GUIUPGRADE"), "") << "major 9 is no upgrade";
}

TEST_F(PreviousVersionTest, AnEmptyProfileEntryAndAnEmptyGuiPathFallThroughToThePreviousGeneration) {
  MSIHANDLE hInstall = Open();
  Files().AddFile(vrintest::kIniPath, "[SKDInformation]\r\nDir=\r\n");
  LocalRegistry().SetString(kProductPath, "GuiPath", "");
  LocalRegistry().SetString(kOldPath, "GuiPath", kOldConsole);
  AddConsole(kOldConsole, 7);

  EXPECT_EQ(VrinGUIPreviousVersionInstalled(hInstall), 0u);

  Lines lines = LogLines();
  Lines lookups = Append(RegistryLookup(kProductKey, ""), RegistryLookup(kOldKey, kOldConsole));
  EXPECT_EQ(Lines(lines.begin() + 3, lines.begin() + 7), lookups);
  EXPECT_EQ(Property("GUIINSTALLDIR"), kOldConsole);
  EXPECT_EQ(Property("GUIUPGRADE"), "1");
}

TEST_F(PreviousVersionTest, TheVersionBands) {
  struct Band {
    uint16_t major;
    const char* upgrade;
  };
  for (Band band : {Band{0, "1"}, Band{6, "1"}, Band{8, "1"}, Band{9, ""}, Band{10, ""}, Band{65535, ""}}) {
    MSIHANDLE hInstall = Open();
    LocalRegistry().SetString(kProductPath, "GuiPath", kProductConsole);
    AddConsole(kProductConsole, band.major);
    EXPECT_EQ(VrinGUIPreviousVersionInstalled(hInstall), 0u);
    EXPECT_EQ(Property("GUIINSTALLDIR"), kProductConsole) << band.major;
    EXPECT_EQ(Property("GUIUPGRADE"), band.upgrade) << band.major;
    EXPECT_TRUE(vrintest::Contains(LogLines(), Trace("PPVersion = " + std::to_string(band.major))));
  }
}

TEST_F(PreviousVersionTest, NoEarlierConsoleIsOneReportAndNoProperty) {
  MSIHANDLE hInstall = Open();
  EXPECT_EQ(VrinGUIPreviousVersionInstalled(hInstall), 0u);
  Lines lines = LogLines();
  EXPECT_EQ(vrintest::CountPrefixed(lines, "ERR: "), 1);
  EXPECT_EQ(Lines(lines.end() - 2, lines.end()),
            (Lines{Report("VrinGUIPreviousVersionInstalled", 2,
                          "VrinGUIPreviousVersionInstalled : InstallGetPrivateProfileString", vrintest::kNotFoundText),
                   Trace("VrinGUIPreviousVersionInstalled <- [0]")}));
  EXPECT_EQ(Property("GUIINSTALLDIR"), "");
  EXPECT_EQ(Property("GUIUPGRADE"), "");
}

TEST_F(PreviousVersionTest, AMissingConsoleProgramSetsNothing) {
  MSIHANDLE hInstall = Open();
  WriteIni(kIniConsole);
  Files().AddFile(std::string(kIniConsole) + "\\readme.txt", "the program is gone");
  EXPECT_EQ(VrinGUIPreviousVersionInstalled(hInstall), 0u);
  Lines lines = LogLines();
  EXPECT_EQ(lines[lines.size() - 2], Report("VrinGUIPreviousVersionInstalled", 2,
                                            "InstallGetFileVersion : GetFileVersionInfoSize", vrintest::kNotFoundText));
  EXPECT_EQ(Property("GUIINSTALLDIR"), "");
}

TEST_F(PreviousVersionTest, AFolderTooLongForTheProgramsPathIsRefusedNotCut) {
  MSIHANDLE hInstall = Open();
  const std::string folder = "C:\\" + std::string(250, 'c');
  LocalRegistry().SetString(kProductPath, "GuiPath", folder);
  EXPECT_EQ(VrinGUIPreviousVersionInstalled(hInstall), 0u);
  Lines lines = LogLines();
  EXPECT_EQ(lines[lines.size() - 2], Report("VrinGUIPreviousVersionInstalled", 206, "InstallMakePath",
                                            "The filename or extension is too long."));
  EXPECT_EQ(Property("GUIINSTALLDIR"), "");
}

TEST_F(PreviousVersionTest, AProfileValueCutToItsBufferIsNeverTaken) {
  MSIHANDLE hInstall = Open();
  // 300 characters: read cut to 259, which leaves no room for the name.
  const std::string folder = "C:\\" + std::string(297, 'i');
  WriteIni(folder);
  const std::string cut = folder.substr(0, 259);
  Files().AddFile("C:\\skdwin.exe", vrintest::VersionedDll({8, 0, 0, 0}));
  EXPECT_EQ(VrinGUIPreviousVersionInstalled(hInstall), 0u);
  EXPECT_TRUE(vrintest::Contains(LogLines(), Trace("InstallGetPrivateProfileString <- " + cut)));
  EXPECT_EQ(vrintest::CountPrefixed(LogLines(), "ERR: OV VRIN : VrinGUIPreviousVersionInstalled : 206"), 1);
  EXPECT_EQ(Property("GUIINSTALLDIR"), "");
}

TEST_F(PreviousVersionTest, AFailedFolderPropertyIsReportedAndNoUpgradeIsSet) {
  MSIHANDLE hInstall = Open();
  LocalRegistry().SetString(kProductPath, "GuiPath", kProductConsole);
  AddConsole(kProductConsole, 8);
  Faults::Instance().Fail("MsiSetProperty", ERROR_FUNCTION_FAILED, 1, "GUIINSTALLDIR");
  EXPECT_EQ(VrinGUIPreviousVersionInstalled(hInstall), 0u);
  Lines lines = LogLines();
  EXPECT_EQ(lines[lines.size() - 2],
            Report("VrinGUIPreviousVersionInstalled", 1627, "VrinGUIPreviousVersionInstalled : MsiSetProperty(1)",
                   "Function failed during execution."));
  EXPECT_FALSE(vrintest::Contains(lines, Trace("PPVersion = 8")));
  EXPECT_EQ(Property("GUIUPGRADE"), "");
}

TEST_F(PreviousVersionTest, AFailedUpgradePropertyIsReportedAfterTheFolderWasSet) {
  MSIHANDLE hInstall = Open();
  LocalRegistry().SetString(kProductPath, "GuiPath", kProductConsole);
  AddConsole(kProductConsole, 8);
  Faults::Instance().Fail("MsiSetProperty", ERROR_FUNCTION_FAILED, 1, "GUIUPGRADE");
  EXPECT_EQ(VrinGUIPreviousVersionInstalled(hInstall), 0u);
  Lines lines = LogLines();
  EXPECT_EQ(lines[lines.size() - 2],
            Report("VrinGUIPreviousVersionInstalled", 1627, "VrinGUIPreviousVersionInstalled : MsiSetProperty(2)",
                   "Function failed during execution."));
  EXPECT_EQ(Property("GUIINSTALLDIR"), kProductConsole);
  EXPECT_EQ(Property("GUIUPGRADE"), "");
}

TEST_F(PreviousVersionTest, AMissingSessionIsRefused) {
  OpenSession();
  LocalRegistry().SetString(kProductPath, "GuiPath", kProductConsole);
  AddConsole(kProductConsole, 8);
  TakeStdout();
  EXPECT_EQ(VrinGUIPreviousVersionInstalled(0), 0u);
  EXPECT_EQ(TakeStdout(),
            "OV VRIN : VrinGUIPreviousVersionInstalled ->\r\n"
            "OV VRIN : VrinGUIPreviousVersionInstalled : 160\r\n\r\n"
            "CONTEXT = VrinGUIPreviousVersionInstalled : hInstall\r\n"
            "DESCRIPTION = One or more arguments are not correct.\r\n\r\n"
            "OV VRIN : VrinGUIPreviousVersionInstalled <- [0]\r\n");
  EXPECT_EQ(Faults::Instance().CallCounts().count("GetPrivateProfileString"), 0u);
}

// Every allocation of the road failing in turn: always 0, one report, nothing
// left allocated (the fixture checks), and no property set on a failure.
TEST_F(PreviousVersionTest, EachAllocationFailureIsReportedWithoutLeaks) {
  MSIHANDLE hInstall = Open();
  LocalRegistry().SetString(kProductPath, "GuiPath", kProductConsole);
  AddConsole(kProductConsole, 8);
  Faults::Instance().Clear();
  ASSERT_EQ(VrinGUIPreviousVersionInstalled(hInstall), 0u);
  const int allocations = Faults::Instance().CallCounts().at(host::kAllocationFunction);
  for (int nth = 1; nth <= allocations; ++nth) {
    Session().SetProperty("GUIINSTALLDIR", "");
    Session().SetProperty("GUIUPGRADE", "");
    Faults::Instance().Clear();
    Faults::Instance().Fail(host::kAllocationFunction, 0, nth);
    EXPECT_EQ(VrinGUIPreviousVersionInstalled(hInstall), 0u) << nth;
    // The upgrade mark never comes without the folder.
    if (Session().GetProperty("GUIUPGRADE") == "1") {
      EXPECT_EQ(Session().GetProperty("GUIINSTALLDIR"), kProductConsole) << nth;
    }
    EXPECT_LE(vrintest::CountPrefixed(LogLines(), "ERR: "), nth) << nth;
  }
  Faults::Instance().Clear();
}

// --- VrinGUIWriteGuiCode ---

class WriteGuiCodeTest : public vrintest::ConsoleTest {};

TEST_F(WriteGuiCodeTest, ReleaseFlagsNamingTheConsoleWriteTheMark) {
  MSIHANDLE hInstall = Open();
  Session().SetProperty("ISReleaseFlags", "SERVER,NTGUI,EVAL");
  EXPECT_EQ(VrinGUIWriteGuiCode(hInstall), 0u);
  EXPECT_EQ(LogLines(), (Lines{Trace("VrinGUIWriteGuiCode->"), Trace("InstallGetProperty -> ISReleaseFlags"),
                               Trace("InstallGetProperty <- (SERVER,NTGUI,EVAL)"),
                               Trace("InstallSetRegString -> " + std::string(kProductKey) + "\\NTGUI = NTGUI"),
                               Trace("InstallSetRegString <- 0"), Trace("VrinGUIWriteGuiCode <- [0]")}));
  auto value = LocalRegistry().Value(kProductPath, "NTGUI");
  ASSERT_TRUE(value.has_value());
  EXPECT_EQ(value->type, static_cast<uint32_t>(REG_SZ));
  EXPECT_EQ(LocalRegistry().String(kProductPath, "NTGUI"), "NTGUI");
}

TEST_F(WriteGuiCodeTest, TheFlagIsCaseSensitiveAndMayBeAbsent) {
  for (const char* flags : {"ntgui", "NtGui,SERVER", "", "NTGU"}) {
    MSIHANDLE hInstall = Open();
    Session().SetProperty("ISReleaseFlags", flags);
    EXPECT_EQ(VrinGUIWriteGuiCode(hInstall), 0u);
    EXPECT_EQ(LocalRegistry().Find(kProductPath), nullptr) << flags;
    EXPECT_EQ(LogLines().back(), Trace("VrinGUIWriteGuiCode <- [0]"));
  }
}

TEST_F(WriteGuiCodeTest, TheFlagMustStartOnACharacterBoundary) {
  host::SetAnsiCodePage(932);
  MSIHANDLE hInstall = Open();
  // 0x81 0x4E is one double-byte character: its "N" is no letter of its own.
  Session().SetProperty("ISReleaseFlags", "\x81NTGUI");
  EXPECT_EQ(VrinGUIWriteGuiCode(hInstall), 0u);
  EXPECT_EQ(LocalRegistry().Find(kProductPath), nullptr);
  Session().SetProperty("ISReleaseFlags", "\x81\x81NTGUI");
  EXPECT_EQ(VrinGUIWriteGuiCode(hInstall), 0u);
  EXPECT_EQ(LocalRegistry().String(kProductPath, "NTGUI"), "NTGUI");
}

TEST_F(WriteGuiCodeTest, AMarkThatCannotBeWrittenIsReported) {
  MSIHANDLE hInstall = Open();
  LocalRegistry().Create(kProductPath);
  LocalRegistry().Deny(kProductPath, KEY_SET_VALUE);
  Session().SetProperty("ISReleaseFlags", "NTGUI");
  EXPECT_EQ(VrinGUIWriteGuiCode(hInstall), 0u);
  Lines lines = LogLines();
  EXPECT_EQ(
      Lines(lines.end() - 3, lines.end()),
      (Lines{Trace("InstallSetRegString <- 5"),
             Report("VrinGUIWriteGuiCode", 5, "VrinGUIWriteGuiCode : InstallSetRegString", vrintest::kAccessDeniedText),
             Trace("VrinGUIWriteGuiCode <- [0]")}));
}

// Not even the failure object can be allocated: still one report, and 0.
TEST_F(WriteGuiCodeTest, AnAllocationFailureIsReported) {
  MSIHANDLE hInstall = Open();
  Session().SetProperty("ISReleaseFlags", "NTGUI");
  TakeStdout();
  Faults::Instance().Fail(host::kAllocationFunction, 0, 0);
  EXPECT_EQ(VrinGUIWriteGuiCode(hInstall), 0u);
  Faults::Instance().Clear();
  EXPECT_NE(TakeStdout().find("OV VRIN : VrinGUIWriteGuiCode : 14\r\n\r\nCONTEXT = CInstallException\r\n"),
            std::string::npos);
  EXPECT_EQ(LocalRegistry().Find(kProductPath), nullptr);
}

}  // namespace
