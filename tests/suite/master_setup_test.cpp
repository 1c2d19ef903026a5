// The master-setup exports: which machine is examined, what the record and
// the result say for each kind of installation found, and what the
// configuration profile receives.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "host/faults.h"
#include "host/filesystem.h"
#include "host/machine.h"
#include "host/network.h"
#include "host/registry.h"
#include "host/services.h"
#include "suite/master_setup.h"
#include "tests/support/session_fixture.h"
#include "tools/road/pe_builder.h"

namespace {

using host::Faults;
using host::Files;
using host::LocalRegistry;

const char kProduct[] = "HKLM\\Software\\Orvannic\\Lumicor Velmora\\CurrentVersion";
const char kPrevious[] = "HKLM\\Software\\Orvannic\\OV VRIN\\CurrentVersion";
const char kWindows[] = "HKLM\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion";
const char kBackOffice[] = "HKLM\\SOFTWARE\\Microsoft\\BackOffice";
const char kProfile[] = "C:\\Temp\\velmora.icf";
const char kServerFolder[] = "C:\\Apps\\Velmora\\";
const char kDefaultFolder[] = "C:\\Program Files\\OV\\Lumicor Velmora";
const char kBetaMessage[] =
    "Setup has detected Velmora Beta version installed on your system. Upgrading to Lumicor Enterprise Backup "
    "Velmora will result in the uninstallation of the installed product.";
const char kAnotherVersion[] =
    "Another version of this product is already installed. Installation of this version cannot continue.";
const char kUntouched = '\x5A';

class MasterSetupTest : public vrintest::SessionTest {
 protected:
  void SetUp() override {
    SessionTest::SetUp();
    std::memset(&info_, kUntouched, sizeof(info_));
    info_.bWriteInstallDir = 1;
    info_.bInstallDirFixed = 0;
    std::memset(message_, 0, sizeof(message_));
    Files().AddDirectory("C:\\Temp");
  }
  void TearDown() override {
    EXPECT_EQ(host::OpenRegistryKeyCount(), 0) << "a registry key was left open";
    EXPECT_EQ(host::Services().OpenHandles(), 0) << "a service handle was left open";
    SessionTest::TearDown();
  }

  int Check(const char* machine = nullptr, int fullCheck = 1, ComponentInstallInfo* info = nullptr) {
    return CheckInstallInfo(machine, 2, 3, message_, 5, info != nullptr ? info : &info_, kProfile, 8, fullCheck);
  }
  int Create() { return CreateConfigProfile(nullptr, 2, 3, nullptr, 5, &info_, kProfile, 8, 1); }

  static void CurrentServer(const char* version, uint32_t build) {
    LocalRegistry().SetString(kProduct, "Version", version);
    LocalRegistry().SetDword(kProduct, "BuildNumber", build);
    LocalRegistry().SetString(kProduct, "ServicePath", std::string(kServerFolder) + "skdnt.exe");
  }
  static std::string Profile(const char* key) {
    char szValue[MAX_PATH] = "";
    GetPrivateProfileStringA("VRIN", key, "<none>", szValue, sizeof(szValue), kProfile);
    return szValue;
  }
  // Bytes of the record the library must leave alone.
  bool UntouchedPartsIntact() const {
    const BYTE* p = reinterpret_cast<const BYTE*>(&info_);
    for (size_t i = 0; i < 104; ++i)
      if (p[i] != static_cast<BYTE>(kUntouched)) return false;
    for (size_t i = 372; i < 388; ++i)
      if (p[i] != static_cast<BYTE>(kUntouched)) return false;
    return true;
  }
  bool EntryUntouched(int n) const { return info_.szComponents[n][0] == kUntouched; }

  ComponentInstallInfo info_;
  char message_[512];
};

// --- Which machine ---------------------------------------------------------

TEST_F(MasterSetupTest, LocalNameInAnotherCaseExaminesThisMachine) {
  host::Network::Instance().SetComputerName("BACKUPHOST");
  CurrentServer("10.1", 2141);
  EXPECT_EQ(Check("backupHost"), 4);
  EXPECT_STREQ(info_.szComponents[0], "VRINServer");
  EXPECT_STREQ(info_.szInstallDir, kServerFolder);
  EXPECT_EQ(info_.bInstallDirFixed, 1);
  EXPECT_EQ(Faults::Instance().CallCounts().count("RegConnectRegistry"), 0u);
}

TEST_F(MasterSetupTest, UnreadableComputerNameMeansThisMachine) {
  Faults::Instance().Fail("GetComputerName", ERROR_ACCESS_DENIED);
  CurrentServer("10", 2141);
  EXPECT_EQ(Check("ELSEWHERE"), 4);
  EXPECT_STREQ(info_.szComponents[0], "VRINServer");
}

TEST_F(MasterSetupTest, RemoteProductKeyFixesTheFolderFromConfigurationPath) {
  host::Registry& remote = host::Network::Instance().AddMachine("FILESRV");
  remote.SetString(kProduct, "ConfigurationPath", "D:\\Velmora");
  CurrentServer("10", 2050);  // the local installation is not looked at
  LocalRegistry().SetString(kBackOffice, "SuiteName", "sbs");
  LocalRegistry().SetString(kBackOffice, "Version", "2000");
  EXPECT_EQ(Check("FileSrv"), 6);
  EXPECT_EQ(info_.bInstallDirFixed, 1);
  EXPECT_STREQ(info_.szInstallDir, "D:\\Velmora");
  EXPECT_TRUE(EntryUntouched(0));
  EXPECT_EQ(message_[0], '\0');
}

TEST_F(MasterSetupTest, RemoteFolderFromTheProfileWins) {
  host::Network::Instance().AddMachine("FILESRV").SetString(kProduct, "ConfigurationPath", "D:\\Velmora");
  WritePrivateProfileStringA("VRIN", "INSTALLDIR", "E:\\Chosen", kProfile);
  EXPECT_EQ(Check("FILESRV"), 4);
  EXPECT_STREQ(info_.szInstallDir, "E:\\Chosen");
  EXPECT_EQ(info_.bInstallDirFixed, 1);
}

TEST_F(MasterSetupTest, RemoteWithoutProductKeyTakesItsProgramFilesDir) {
  host::Network::Instance().AddMachine("FILESRV").SetString(kWindows, "ProgramFilesDir", "F:\\Programs");
  LocalRegistry().SetString(kWindows, "ProgramFilesDir", "C:\\Local");
  EXPECT_EQ(Check("FILESRV"), 1);
  EXPECT_STREQ(info_.szInstallDir, "F:\\Programs\\OV\\Lumicor Velmora");
  EXPECT_EQ(info_.bInstallDirFixed, 0);
}

TEST_F(MasterSetupTest, UnreachableRemoteMachineGivesTheDefaultFolder) {
  LocalRegistry().SetString(kWindows, "ProgramFilesDir", "C:\\Local");
  EXPECT_EQ(Check("NOWHERE"), 1);
  EXPECT_STREQ(info_.szInstallDir, kDefaultFolder);
  EXPECT_EQ(info_.bInstallDirFixed, 0);
}

// --- Without a record, folder only -------------------------------------------

TEST_F(MasterSetupTest, NullRecordOnlyAsksForSmallBusinessServer) {
  CurrentServer("10", 2100);
  EXPECT_EQ(CheckInstallInfo(nullptr, 0, 0, message_, 0, nullptr, kProfile, 0, 1), 1);
  LocalRegistry().SetString(kBackOffice, "SuiteName", "SBS");
  LocalRegistry().SetString(kBackOffice, "Version", "2000");
  EXPECT_EQ(CheckInstallInfo(nullptr, 0, 0, message_, 0, nullptr, kProfile, 0, 1), 3);
  EXPECT_EQ(message_[0], '\0');
  EXPECT_FALSE(Files().Exists(kProfile));
}

TEST_F(MasterSetupTest, FolderOnlyComposesProgramFilesDir) {
  LocalRegistry().SetString(kWindows, "ProgramFilesDir", "C:\\Programme");
  CurrentServer("10", 2100);
  LocalRegistry().SetString(kBackOffice, "SuiteName", "SBS");
  LocalRegistry().SetString(kBackOffice, "Version", "2000");
  EXPECT_EQ(Check(nullptr, 0), 1);  // nothing else examined, not even the server
  EXPECT_STREQ(info_.szInstallDir, "C:\\Programme\\OV\\Lumicor Velmora");
  EXPECT_TRUE(EntryUntouched(0));
  EXPECT_EQ(message_[0], '\0');
  EXPECT_TRUE(UntouchedPartsIntact());
}

TEST_F(MasterSetupTest, FolderOnlyWithoutWindowsKeyIsTheDefault) {
  EXPECT_EQ(Check(nullptr, 0), 1);
  EXPECT_STREQ(info_.szInstallDir, kDefaultFolder);
}

TEST_F(MasterSetupTest, FolderOnlyWithoutProgramFilesDirIsTheSuffixAlone) {
  LocalRegistry().SetString(kWindows, "CommonFilesDir", "C:\\Common");
  EXPECT_EQ(Check(nullptr, 0), 1);
  EXPECT_STREQ(info_.szInstallDir, "\\OV\\Lumicor Velmora");
}

// ProgramFilesDir is read into a MAX_PATH buffer and composed with the
// 19 characters of "\\OV\\Lumicor Velmora" into the 260-byte field: a folder
// that would not fit either is refused, never cut.
class ProgramFilesDirLengthTest : public MasterSetupTest, public ::testing::WithParamInterface<size_t> {};

TEST_P(ProgramFilesDirLengthTest, ComposedExactlyOrTheDefault) {
  const std::string base = "C:\\" + std::string(GetParam() - 3, 'p');
  LocalRegistry().SetString(kWindows, "ProgramFilesDir", base);
  EXPECT_EQ(Check(nullptr, 0), 1);
  EXPECT_EQ(info_.szInstallDir, GetParam() <= 240 ? base + "\\OV\\Lumicor Velmora" : kDefaultFolder);
  EXPECT_TRUE(UntouchedPartsIntact());
}

INSTANTIATE_TEST_SUITE_P(AroundTheField, ProgramFilesDirLengthTest,
                         ::testing::Values(239, 240, 241, 259, 260, 261, 10000));

// --- Current generation --------------------------------------------------------

TEST_F(MasterSetupTest, Build2100IsABetaToUpgrade) {
  CurrentServer("10.0.2100", 2100);
  EXPECT_EQ(Check(), 9);
  EXPECT_STREQ(info_.szComponents[0], "VRINServer");
  EXPECT_TRUE(EntryUntouched(1));
  EXPECT_STREQ(message_, kBetaMessage);
  EXPECT_EQ(info_.bInstallDirFixed, 0);
  EXPECT_STREQ(info_.szInstallDir, kServerFolder);
  EXPECT_TRUE(UntouchedPartsIntact());
}

TEST_F(MasterSetupTest, Build2141IsCurrentAndFixed) {
  CurrentServer("10", 2141);
  EXPECT_EQ(Check(), 4);
  EXPECT_EQ(message_[0], '\0');
  EXPECT_EQ(info_.bInstallDirFixed, 1);
}

TEST_F(MasterSetupTest, Build2050IsAnUpgradeWithoutMessage) {
  CurrentServer("10", 2050);
  EXPECT_EQ(Check(), 9);
  EXPECT_EQ(message_[0], '\0');
  EXPECT_EQ(info_.bInstallDirFixed, 0);
}

TEST_F(MasterSetupTest, BetaWithNullMessageBufferWritesNothing) {
  CurrentServer("10", 2100);
  EXPECT_EQ(CheckInstallInfo(nullptr, 0, 0, nullptr, 0, &info_, kProfile, 0, 1), 9);
}

TEST_F(MasterSetupTest, ServerAndConsoleBothRecordedAndNotFixed) {
  CurrentServer("10", 2141);
  LocalRegistry().SetString(kProduct, "GuiPath", "C:\\Apps\\Console");
  EXPECT_EQ(Check(), 4);
  EXPECT_STREQ(info_.szComponents[0], "VRINServer");
  EXPECT_STREQ(info_.szComponents[1], "VRINConsole");
  EXPECT_EQ(info_.bInstallDirFixed, 0);  // two components: the folder may still move
  EXPECT_STREQ(info_.szInstallDir, kServerFolder);
}

TEST_F(MasterSetupTest, ConsoleOnlyTakesItsFolderAndVersionFromTheFile) {
  LocalRegistry().SetString(kProduct, "GuiPath", "C:\\Apps\\Console");
  Files().AddFile("C:\\Apps\\Console\\skdwin.exe", vrintest::VersionedDll({10, 0, 0, 2100}));
  EXPECT_EQ(Check(), 9);
  EXPECT_STREQ(info_.szComponents[0], "VRINConsole");
  EXPECT_STREQ(info_.szInstallDir, "C:\\Apps\\Console");
  EXPECT_STREQ(message_, kBetaMessage);
}

TEST_F(MasterSetupTest, FolderFromTheProfileStopsTheLocalCheck) {
  CurrentServer("10", 2100);
  WritePrivateProfileStringA("VRIN", "INSTALLDIR", "E:\\Chosen", kProfile);
  EXPECT_EQ(Check(), 1);
  EXPECT_STREQ(info_.szInstallDir, "E:\\Chosen");
  EXPECT_TRUE(EntryUntouched(0));
}

TEST_F(MasterSetupTest, OverlongServicePathIsRefused) {
  LocalRegistry().SetString(kProduct, "Version", "10");
  LocalRegistry().SetDword(kProduct, "BuildNumber", 2141);
  LocalRegistry().SetString(kProduct, "ServicePath", "C:\\" + std::string(300, 's') + "\\skdnt.exe");
  LocalRegistry().SetString(kWindows, "ProgramFilesDir", "C:\\Programs");
  EXPECT_EQ(Check(), 1);
  EXPECT_TRUE(EntryUntouched(0));
  EXPECT_STREQ(info_.szInstallDir, "C:\\Programs\\OV\\Lumicor Velmora");
  EXPECT_TRUE(UntouchedPartsIntact());
}

// The profile's folder: taken up to 259 characters; a longer one names no
// usable folder, so the installed server's is taken.
class ProfileFolderLengthTest : public MasterSetupTest, public ::testing::WithParamInterface<size_t> {};

TEST_P(ProfileFolderLengthTest, TakenExactlyOrRefused) {
  const std::string folder = "E:\\" + std::string(GetParam() - 3, 'f');
  WritePrivateProfileStringA("VRIN", "INSTALLDIR", folder.c_str(), kProfile);
  CurrentServer("10", 2141);
  const bool fits = GetParam() <= 259;
  EXPECT_EQ(Check(), fits ? 1 : 4);
  EXPECT_EQ(info_.szInstallDir, fits ? folder : kServerFolder);
  EXPECT_TRUE(UntouchedPartsIntact());
}

INSTANTIATE_TEST_SUITE_P(AroundMaxPath, ProfileFolderLengthTest, ::testing::Values(259, 260, 261, 10000));

TEST_F(MasterSetupTest, OverlongServiceImagePathIsRefused) {
  std::string image = "C:\\" + std::string(280, 'i') + "\\skdnt.exe";
  host::Services().Add(
      {"Skelda", "Svc", SERVICE_WIN32_OWN_PROCESS, SERVICE_AUTO_START, SERVICE_ERROR_NORMAL, image, "", "LocalSystem"});
  EXPECT_EQ(Check(), 1);
  EXPECT_TRUE(EntryUntouched(0));
  EXPECT_STREQ(info_.szInstallDir, kDefaultFolder);
  EXPECT_TRUE(UntouchedPartsIntact());
}

// --- Earlier generations ---------------------------------------------------------

TEST_F(MasterSetupTest, PreviousGenerationVersion9StopsWhateverTheServiceFound) {
  host::Services().Add({"Skelda", "Svc", SERVICE_WIN32_OWN_PROCESS, SERVICE_AUTO_START, SERVICE_ERROR_NORMAL,
                        "\"C:\\Old\\skdnt.exe\"", "", "LocalSystem"});
  Files().AddFile("C:\\Old\\skdnt.exe", vrintest::VersionedDll({10, 0, 0, 2000}));
  LocalRegistry().SetString(kPrevious, "Version", "9");
  EXPECT_EQ(Check(), 0);
  EXPECT_STREQ(message_, kAnotherVersion);
  EXPECT_EQ(CheckInstallInfo(nullptr, 0, 0, nullptr, 0, &info_, kProfile, 0, 1), 0);
}

TEST_F(MasterSetupTest, ServiceAndPreviousConsoleAreUpgradedAndMarkedInTheProfile) {
  host::Services().Add({"Skelda", "Svc", SERVICE_WIN32_OWN_PROCESS, SERVICE_AUTO_START, SERVICE_ERROR_NORMAL,
                        "\"C:\\Old\\Server\\skdnt.exe\"", "", "LocalSystem"});
  Files().AddFile("C:\\Old\\Server\\skdnt.exe", vrintest::VersionedDll({8, 0, 0, 100}));
  LocalRegistry().SetDword(kPrevious, "Products", 1);
  LocalRegistry().SetString(kPrevious, "Version", "8");
  LocalRegistry().SetString(kPrevious, "GuiPath", "C:\\Old\\Console");
  // skdwin.ini names a console too: it must not be recorded a second time.
  Files().AddFile("C:\\WINDOWS\\skdwin.ini", "[SKDInformation]\r\nDir=C:\\Old\\Console\r\n");
  Files().AddFile("C:\\Old\\Console\\skdwin.exe", vrintest::VersionedDll({8, 0, 0, 1}));
  EXPECT_EQ(Check(), 9);
  EXPECT_STREQ(info_.szComponents[0], "VRINServer");
  EXPECT_STREQ(info_.szComponents[1], "VRINConsole");
  EXPECT_STREQ(info_.szInstallDir, "C:\\Old\\Server");
  EXPECT_EQ(Profile("UPGRADE"), "1");
}

TEST_F(MasterSetupTest, InstalledPreviousProductWithoutProductsCounts) {
  host::InstalledProducts::Instance().Set("{4A1C2E90-7D3B-4F21-9C55-1E2A3B4C5D61}", "PackageCode", "{P}");
  LocalRegistry().SetString(kPrevious, "GuiPath", "C:\\Old\\Console");
  // The same console in skdwin.ini: one entry, not two.
  Files().AddFile("C:\\WINDOWS\\skdwin.ini", "[SKDInformation]\r\nDir=C:\\Old\\Console\r\n");
  Files().AddFile("C:\\Old\\Console\\skdwin.exe", vrintest::VersionedDll({8, 0, 0, 1}));
  EXPECT_EQ(Check(), 9);
  EXPECT_STREQ(info_.szComponents[0], "VRINConsole");
  EXPECT_TRUE(EntryUntouched(1));
  EXPECT_EQ(Profile("UPGRADE"), "1");
}

TEST_F(MasterSetupTest, UpgradeMarkThatCannotBeWrittenEndsWithZero) {
  LocalRegistry().SetDword(kPrevious, "Products", 1);
  LocalRegistry().SetString(kPrevious, "GuiPath", "C:\\Old\\Console");
  Faults::Instance().Fail("WritePrivateProfileString", ERROR_ACCESS_DENIED);
  EXPECT_EQ(Check(), 0);
  EXPECT_EQ(message_[0], '\0');
}

TEST_F(MasterSetupTest, ServiceImageOfVersion9IsNotAServer) {
  host::Services().Add({"Skelda", "Svc", SERVICE_WIN32_OWN_PROCESS, SERVICE_AUTO_START, SERVICE_ERROR_NORMAL,
                        "C:\\Old\\skdnt.exe", "", "LocalSystem"});
  Files().AddFile("C:\\Old\\skdnt.exe", vrintest::VersionedDll({9, 0, 0, 1}));
  EXPECT_EQ(Check(), 1);
  EXPECT_TRUE(EntryUntouched(0));
  EXPECT_STREQ(info_.szInstallDir, kDefaultFolder);
}

TEST_F(MasterSetupTest, ConsoleFromSkdwinIniIsRecordedWithoutCounting) {
  Files().AddFile("C:\\WINDOWS\\skdwin.ini", "[SKDInformation]\r\nDir=C:\\Legacy\r\n");
  Files().AddFile("C:\\Legacy\\skdwin.exe", vrintest::VersionedDll({7, 1, 0, 0}));
  EXPECT_EQ(Check(), 9);
  EXPECT_STREQ(info_.szComponents[0], "VRINConsole");
  EXPECT_EQ(Profile("UPGRADE"), "<none>");
}

TEST_F(MasterSetupTest, ConsoleFromSkdwinIniWithoutVersionChangesNothing) {
  Files().AddFile("C:\\WINDOWS\\skdwin.ini", "[SKDInformation]\r\nDir=C:\\Legacy\r\n");
  EXPECT_EQ(Check(), 1);
  EXPECT_TRUE(EntryUntouched(0));
}

// --- Small Business Server ---------------------------------------------------------

TEST_F(MasterSetupTest, SmallBusinessServer2000AddsTwo) {
  LocalRegistry().SetString(kBackOffice, "SuiteName", "Sbs");
  LocalRegistry().SetString(kBackOffice, "Version", "2000");
  CurrentServer("10", 2050);
  EXPECT_EQ(Check(), 11);
}

TEST_F(MasterSetupTest, OtherBackOfficeSuitesAddNothing) {
  LocalRegistry().SetString(kBackOffice, "SuiteName", "SBS");
  LocalRegistry().SetString(kBackOffice, "Version", "2003");
  EXPECT_EQ(Check(), 1);
  LocalRegistry().SetString(kBackOffice, "SuiteName", "BOS");
  LocalRegistry().SetString(kBackOffice, "Version", "2000");
  EXPECT_EQ(Check(), 1);
}

// --- Configuration profile ---------------------------------------------------------

TEST_F(MasterSetupTest, CreateConfigProfileWritesFolderAndMarker) {
  std::strcpy(info_.szInstallDir, "D:\\Backup\\Velmora");
  EXPECT_EQ(Create(), 1);
  EXPECT_EQ(Profile("INSTALLDIR"), "D:\\Backup\\Velmora");
  EXPECT_EQ(Profile("MASTERSETUP"), "1");
}

TEST_F(MasterSetupTest, CreateConfigProfileLeavesAFixedFolderOut) {
  std::strcpy(info_.szInstallDir, "D:\\Backup\\Velmora");
  info_.bInstallDirFixed = 1;
  EXPECT_EQ(Create(), 1);
  EXPECT_EQ(Profile("INSTALLDIR"), "<none>");
  EXPECT_EQ(Profile("MASTERSETUP"), "1");
  info_.bInstallDirFixed = 0;
  info_.bWriteInstallDir = 0;
  EXPECT_EQ(Create(), 1);
  EXPECT_EQ(Profile("INSTALLDIR"), "<none>");
}

TEST_F(MasterSetupTest, CreateConfigProfileAfterTheCheckUsesItsFolder) {
  LocalRegistry().SetString(kWindows, "ProgramFilesDir", "C:\\Programs");
  EXPECT_EQ(Check(), 1);
  EXPECT_EQ(Create(), 1);
  EXPECT_EQ(Profile("INSTALLDIR"), "C:\\Programs\\OV\\Lumicor Velmora");
}

TEST_F(MasterSetupTest, CreateConfigProfileWriteFailuresGiveZero) {
  std::strcpy(info_.szInstallDir, "D:\\Velmora");
  Faults::Instance().Fail("WritePrivateProfileString", ERROR_ACCESS_DENIED, 1);
  EXPECT_EQ(Create(), 0);
  EXPECT_EQ(Profile("MASTERSETUP"), "<none>");  // stopped before the marker
  Faults::Instance().Fail("WritePrivateProfileString", ERROR_ACCESS_DENIED, 2);
  EXPECT_EQ(Create(), 0);
  EXPECT_EQ(Profile("INSTALLDIR"), "D:\\Velmora");
}

TEST_F(MasterSetupTest, CreateConfigProfileRefusesAnUnterminatedFolder) {
  std::memset(info_.szInstallDir, 'x', sizeof(info_.szInstallDir));
  EXPECT_EQ(Create(), 0);
  EXPECT_EQ(Profile("INSTALLDIR"), "<none>");
  EXPECT_EQ(CreateConfigProfile(nullptr, 0, 0, nullptr, 0, &info_, nullptr, 0, 0), 0);
}

// No frame: the exports write no lines of their own, and a console whose
// version cannot be read is simply not found, without a report.
TEST_F(MasterSetupTest, ExportsWriteOnlyTheirHelpersLines) {
  EXPECT_EQ(GetPostConfigInfo(), 1);
  TakeStdout();
  LocalRegistry().SetString(kProduct, "GuiPath", "C:\\Apps\\Console");
  EXPECT_EQ(Check(), 1);
  EXPECT_EQ(Create(), 1);
  EXPECT_EQ(TakeStdout(),
            "OV VRIN : InstallGetPrivateProfileString -> [VRIN] INSTALLDIR=()\r\n"
            "OV VRIN : InstallGetPrivateProfileString <- \r\n"
            "OV VRIN : InstallGetFileVersion -> C:\\Apps\\Console\\skdwin.exe\r\n");
}

// The console's folder from GuiPath (no BuildNumber) or from skdwin.ini: a
// folder too long for "\skdwin.exe" in the 260-byte path finds nothing; it
// raises nothing through the export either.
TEST_F(MasterSetupTest, ConsoleFolderTooLongForItsImagePathFindsNothing) {
  for (size_t length : {248u, 249u, 259u}) {
    for (bool fromIni : {false, true}) {
      SCOPED_TRACE(std::to_string(length) + (fromIni ? " skdwin.ini" : " GuiPath"));
      host::ResetMachine();
      Files().AddDirectory("C:\\Temp");
      const std::string folder = "C:\\" + std::string(length - 3, 'c');
      const bool fits = length < 249;
      if (fits) Files().AddFile(folder + "\\skdwin.exe", vrintest::VersionedDll({7, 1, 0, 2100}));
      if (fromIni) {
        Files().AddFile("C:\\WINDOWS\\skdwin.ini", "[SKDInformation]\r\nDir=" + folder + "\r\n");
      } else {
        LocalRegistry().SetString(kProduct, "GuiPath", folder);
      }
      std::memset(&info_, kUntouched, sizeof(info_));
      // From GuiPath the console counts whatever its version; from skdwin.ini
      // only with a readable one.
      EXPECT_EQ(Check(), fromIni && fits ? 9 : 1);
      EXPECT_EQ(EntryUntouched(0), fromIni && !fits);
      EXPECT_TRUE(UntouchedPartsIntact());
    }
  }
}

}  // namespace
