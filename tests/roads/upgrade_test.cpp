// Installations over earlier servers and consoles: the previous generation
// (server 6.x, console 8.x) is found, the components go where it was, and
// after the installation its left-overs go and its counts are handed over;
// a 9.x server of another product is joined without any clean-up; an 8.x
// server of product 1 is counted down once when another product installs.
#include <gtest/gtest.h>

#include "host/filesystem.h"
#include "host/shell_folders.h"
#include "tests/roads/road_fixture.h"

namespace vrinroad {
namespace {

const char kOldServer[] = "C:\\Program Files\\Orvannic\\OV VRIN\\Server";
const char kOldConsole[] = "C:\\Program Files\\Orvannic\\OV VRIN\\Console";
const char kOldServerImage[] = "C:\\Program Files\\Orvannic\\OV VRIN\\Server\\skdnt.exe";
const char kOldConsoleImage[] = "C:\\Program Files\\Orvannic\\OV VRIN\\Console\\skdwin.exe";
const std::string kDriverKey = std::string(host::kServicesKey) + "\\SKDDriver";

std::string Programs() { return host::ShellFolders::Instance().CommonPrograms(); }

// A machine of the previous generation: server 6.61 with its driver and
// service, console 8.2 recorded in skdwin.ini, the 6.61 Start-menu entries,
// and the oldest generation's settings still waiting to be migrated.
void SeedPreviousGeneration() {
  const std::string driverImage = ExpandSz("System32\\drivers\\skdnt.sys");
  Seed(
      "[HKEY_LOCAL_MACHINE\\Software\\Orvannic\\OV VRIN\\CurrentVersion]\r\n"
      "\"ServicePath\"=\"C:\\\\Program Files\\\\Orvannic\\\\OV VRIN\\\\Server\\\\skdnt.exe\"\r\n"
      "\"ConfigurationPath\"=\"C:\\\\Program Files\\\\Orvannic\\\\OV VRIN\\\\Server\"\r\n"
      "\"GuiPath\"=\"C:\\\\Program Files\\\\Orvannic\\\\OV VRIN\\\\Console\"\r\n"
      "\"Products\"=dword:00000001\r\n"
      "\"ProdSubType\"=dword:00000005\r\n"
      "\"MajorVersion\"=dword:00000006\r\n"
      "\"MinorVersion\"=dword:0000003d\r\n"
      "\"DriverPath\"=\"C:\\\\WINDOWS\\\\system32\\\\drivers\\\\skdnt.sys\"\r\n"
      "\"InstallTime\"=\"2001-05-14 10:12\"\r\n"
      "\"Organization\"=\"Brennholm Ltd\"\r\n"
      "\"User\"=\"operator\"\r\n"
      "\r\n"
      "[HKEY_LOCAL_MACHINE\\Software\\Tarrow ATG\\Skelda\\CurrentVersion]\r\n"
      "\"User\"=\"operator\"\r\n"
      "\"LogLevel\"=dword:00000003\r\n"
      "\"Version\"=\"4.1\"\r\n"
      "\r\n"
      "[HKEY_LOCAL_MACHINE\\Software\\Microsoft\\Windows\\CurrentVersion\\SharedDlls]\r\n"
      "\"C:\\\\Program Files\\\\Orvannic\\\\OV VRIN\\\\Server\\\\skdnt.exe\"=dword:00000001\r\n"
      "\"C:\\\\WINDOWS\\\\system32\\\\drivers\\\\skdnt.sys\"=dword:00000001\r\n"
      "\"C:\\\\Program Files\\\\Orvannic\\\\OV VRIN\\\\Console\\\\skdwin.exe\"=dword:00000001\r\n"
      "\"C:\\\\Program Files\\\\Orvannic\\\\OV VRIN\\\\Console\\\\skdwin.dll\"=dword:00000001\r\n"
      "\"C:\\\\Program Files\\\\Orvannic\\\\OV VRIN\\\\Console\\\\skdwin.hlp\"=dword:00000001\r\n"
      "\r\n"
      "[HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Services\\LanmanServer\\Parameters]\r\n"
      "\"IRPstackSize\"=dword:00000010\r\n"
      "\r\n"
      "[HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Services\\SKDDriver]\r\n"
      "\"Type\"=dword:00000002\r\n"
      "\"Start\"=dword:00000001\r\n"
      "\"ErrorControl\"=dword:00000001\r\n"
      "\"ImagePath\"=" +
      driverImage +
      "\r\n"
      "\"DisplayName\"=\"OV VRIN Driver\"\r\n"
      "\"Group\"=\"Filter\"\r\n"
      "\r\n"
      "[HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Services\\Skelda]\r\n"
      "\"Type\"=dword:00000010\r\n"
      "\"Start\"=dword:00000002\r\n"
      "\"ErrorControl\"=dword:00000001\r\n"
      "\"ImagePath\"=" +
      ExpandSz(kOldServerImage) +
      "\r\n"
      "\"DisplayName\"=\"OV VRIN Server\"\r\n"
      "\"ObjectName\"=\"LocalSystem\"\r\n");
  host::FileSystem& files = host::Files();
  files.AddFile(kOldServerImage, vrintest::VersionedDll({6, 61, 0, 300}));
  for (const char* name : {"skdnt60.cli", "skdnt.sys", "skdnt351.sys", "skdnt64.cli", "skdnt.cfg"}) {
    files.AddFile(std::string(kOldServer) + "\\" + name, "old");
  }
  files.AddFile(kDriverFile, "old driver");
  files.AddFile(kOldConsoleImage, vrintest::VersionedDll({8, 2, 0, 140}));
  for (const char* name : {"skdwin.dll", "skdwin.hlp", "tslogclt.nlm", "skd.cfg", "skdupdat.exe", "skdnt.cfg",
                           "Engalpha\\alpha.dat", "Engi86\\i86.dat"}) {
    files.AddFile(std::string(kOldConsole) + "\\" + name, "old");
  }
  files.AddFile("C:\\WINDOWS\\skdwin.ini", "[SKDInformation]\r\nDir=C:\\Program Files\\Orvannic\\OV VRIN\\Console\r\n");
  files.AddFile(Programs() + "\\Velmora.lnk", "link");
  files.AddFile(Programs() + "\\Velmora\\Velmora Console.lnk", "link");
  host::Shares::Instance().Seed(host::ShareRecord::Disk(kShareName, kOldServer, "OV VRIN"));
}

class UpgradeTest : public RoadTest {};

TEST_F(UpgradeTest, PreviousGenerationIsReplacedInItsFoldersAndCleanedAfterwards) {
  SeedPreviousGeneration();
  RoadOptions options = RoadOptions::FirstInstallation();
  options.startupMode = "Manual";
  Road& road = Drive({}, options);

  EXPECT_EQ(
      road.ActionLines(),
      // Counted before: no IRP raise, no share; the upgrade clean-up instead.
      InstallationLines(
          {}, Join({Act("VrinNTDeleteUpgradeLeftOvers"), Act("VrinNTDecrementRefCounter"), Act("VrinNTStartVrin")}),
          Join({{"VRINDeleteOldShortCut ->", "VRINDeleteOldShortCut <-"},
                Act("VrinGUIDeleteUpgradeLeftOvers"),
                Act("VrinGUIDecrementRefCounter")})));

  EXPECT_EQ(road.Property("NTSERVERUPGRADE"), "1");
  EXPECT_FALSE(road.Session().HasProperty("NTSERVERUPGRADE2"));
  EXPECT_EQ(road.Property("NTSERVERINSTALLDIR"), kOldServer);
  EXPECT_EQ(road.Property("NTSERVERREFCOUNTER"), "1");
  EXPECT_EQ(road.Property("GUIUPGRADE"), "1");
  EXPECT_EQ(road.Property("GUIINSTALLDIR"), kOldConsole);
  EXPECT_EQ(road.Property("GUIREFCOUNTER"), "1");
  EXPECT_EQ(road.TargetPath("NTSERVERFOLDER"), std::string(kOldServer) + "\\");
  EXPECT_EQ(road.TargetPath("GUIFOLDER"), std::string(kOldConsole) + "\\");

  // The oldest generation's settings migrated, the previous generation's key
  // gone, the product key written where the earlier components were.
  EXPECT_EQ(
      ValuesOf(kProductKey),
      (Lines{"LogLevel=dword:3", "Version=4.1", "ServicePath=C:\\Program Files\\Orvannic\\OV VRIN\\Server\\Skdnt.exe",
             "ConfigurationPath=C:\\Program Files\\Orvannic\\OV VRIN\\Server\\",
             "GuiPath=C:\\Program Files\\Orvannic\\OV VRIN\\Console\\", "ProdSubType=dword:2", "Products=dword:1",
             "NTGUI=NTGUI", "BuildNumber=dword:12"}));
  EXPECT_FALSE(KeyExists("HKEY_LOCAL_MACHINE\\Software\\Tarrow ATG"));
  EXPECT_FALSE(KeyExists(kOldKey));

  // Each count was raised by this installation and handed back once for the
  // generation it replaced; the console's other files drop to 0 and stay.
  EXPECT_EQ(ValuesOf(kSharedDllsKey),
            (Lines{std::string(kOldServerImage) + "=dword:1", std::string(kDriverFile) + "=dword:1",
                   std::string(kOldConsoleImage) + "=dword:1", std::string(kOldConsole) + "\\skdwin.dll=dword:0",
                   std::string(kOldConsole) + "\\skdwin.hlp=dword:0"}));
  EXPECT_EQ(ValuesOf(kLanmanParametersKey), Lines{"IRPstackSize=dword:16"});

  // The driver entry brought into line, keeping its own start type.
  EXPECT_EQ(ValuesOf(kDriverKey), (Lines{"Type=dword:2", "Start=dword:1", "ErrorControl=dword:1",
                                         "ImagePath=expand:%SystemRoot%\\system32\\drivers\\skdnt.sys",
                                         "DisplayName=OV Velmora Driver", "Group=Filter"}));
  EXPECT_EQ(Started(), (Lines{"SKDDriver", "Skelda"}));

  // The earlier share stays as it was.
  ASSERT_NE(host::Shares::Instance().Find(kShareName), nullptr);
  EXPECT_EQ(host::Shares::Instance().Find(kShareName)->Remark(), "OV VRIN");

  // Server folder: the new image and the configuration; console folder: the
  // new image and the console's own files; Start menu and skdwin.ini gone.
  EXPECT_EQ(Names(kOldServer), (Lines{"skdnt.cfg", "skdnt.exe"}));
  EXPECT_EQ(host::Files().FileContent(kOldServerImage), vrintest::VersionedDll({9, 0, 12, 0}));
  EXPECT_EQ(Names(kOldConsole), (Lines{"skdwin.dll", "skdwin.exe", "skdwin.hlp"}));
  EXPECT_EQ(Names(Programs()), Lines{});
  EXPECT_FALSE(host::Files().Exists("C:\\WINDOWS\\skdwin.ini"));
  EXPECT_EQ(host::Files().FileContent(kDriverFile), vrintest::VersionedDll({9, 0, 12, 0}));
}

TEST_F(UpgradeTest, UpgradedMachineIsRemovedCompletelyLater) {
  SeedPreviousGeneration();
  Drive({}, RoadOptions::FirstInstallation());
  host::Files().AddFile(std::string(kOldServer) + "\\Logs\\skdnt.log", "started");

  Road& road = Drive({}, RoadOptions::Removal());

  // The generation it replaced counts no more: this removal is the last.
  EXPECT_EQ(road.Property("NTSERVERREFCOUNTER"), "1");
  EXPECT_EQ(road.Property("GUIREFCOUNTER"), "1");
  EXPECT_FALSE(host::Services().Exists(kServiceName));
  EXPECT_FALSE(host::Services().Exists(kDriverName));
  EXPECT_EQ(ValuesOf(kLanmanParametersKey), Lines{"IRPstackSize=dword:15"});
  EXPECT_EQ(host::Shares::Instance().Count(), 0u);
  EXPECT_FALSE(KeyExists(kProductKey));
  EXPECT_FALSE(KeyExists(kOldKey));
  // Counts that the upgrade lowered to 0 stay; no one counts their files.
  EXPECT_EQ(ValuesOf(kSharedDllsKey), (Lines{std::string(kOldConsole) + "\\skdwin.dll=dword:0",
                                             std::string(kOldConsole) + "\\skdwin.hlp=dword:0"}));
  EXPECT_EQ(Names(kOldServer), Lines{});
  EXPECT_EQ(Names(kOldConsole), (Lines{"skdwin.dll", "skdwin.hlp"}));
}

TEST_F(UpgradeTest, NineServerOfAnotherProductIsJoinedWithoutCleanUp) {
  const char kServer[] = "C:\\Program Files\\Velmora\\Server\\";
  const char kConsole[] = "C:\\Program Files\\Velmora\\Console\\";
  // Product 3 installed server and console 9.0.10.
  Seed(
      "[HKEY_LOCAL_MACHINE\\Software\\Orvannic\\Lumicor Velmora\\CurrentVersion]\r\n"
      "\"ServicePath\"=\"C:\\\\Program Files\\\\Velmora\\\\Server\\\\Skdnt.exe\"\r\n"
      "\"ConfigurationPath\"=\"C:\\\\Program Files\\\\Velmora\\\\Server\\\\\"\r\n"
      "\"GuiPath\"=\"C:\\\\Program Files\\\\Velmora\\\\Console\\\\\"\r\n"
      "\"ProdSubType\"=dword:00000003\r\n"
      "\"Products\"=dword:00000004\r\n"
      "\"BuildNumber\"=dword:0000000a\r\n"
      "\r\n"
      "[HKEY_LOCAL_MACHINE\\Software\\Microsoft\\Windows\\CurrentVersion\\SharedDlls]\r\n"
      "\"C:\\\\Program Files\\\\Velmora\\\\Server\\\\Skdnt.exe\"=dword:00000001\r\n"
      "\"C:\\\\WINDOWS\\\\system32\\\\drivers\\\\skdnt.sys\"=dword:00000001\r\n"
      "\"C:\\\\Program Files\\\\Velmora\\\\Console\\\\Skdwin.exe\"=dword:00000001\r\n"
      "\r\n"
      "[HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Services\\LanmanServer\\Parameters]\r\n"
      "\"IRPstackSize\"=dword:00000010\r\n"
      "\r\n"
      "[HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Services\\SKDDriver]\r\n"
      "\"Type\"=dword:00000002\r\n"
      "\"Start\"=dword:00000002\r\n"
      "\"ErrorControl\"=dword:00000001\r\n"
      "\"ImagePath\"=" +
      ExpandSz("%SystemRoot%\\system32\\drivers\\skdnt.sys") +
      "\r\n"
      "\"DisplayName\"=\"OV Velmora Driver\"\r\n"
      "\"Group\"=\"Filter\"\r\n"
      "\r\n"
      "[HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Services\\Skelda]\r\n"
      "\"Type\"=dword:00000010\r\n"
      "\"Start\"=dword:00000002\r\n"
      "\"ErrorControl\"=dword:00000001\r\n"
      "\"ImagePath\"=" +
      ExpandSz("\"C:\\Program Files\\Velmora\\Server\\Skdnt.exe\"") + "\r\n");
  host::Files().AddFile(std::string(kServer) + "Skdnt.exe", vrintest::VersionedDll({9, 0, 10, 0}));
  host::Files().AddFile(std::string(kServer) + "skdnt.cfg", "[General]\r\n");
  host::Files().AddFile(kDriverFile, vrintest::VersionedDll({9, 0, 10, 0}));
  host::Files().AddFile(std::string(kConsole) + "Skdwin.exe", vrintest::VersionedDll({9, 0, 10, 0}));
  host::Shares::Instance().Seed(host::ShareRecord::Disk(kShareName, "C:\\Program Files\\Velmora\\Server"));
  const std::string before = host::LocalRegistry().Export(std::string(host::kServicesKey) + "\\SKDDriver");

  Road& road = Drive({}, RoadOptions::FirstInstallation());

  EXPECT_EQ(road.ActionLines(), InstallationLines({}, {}));
  EXPECT_FALSE(road.Session().HasProperty("NTSERVERUPGRADE"));
  EXPECT_FALSE(road.Session().HasProperty("NTSERVERUPGRADE2"));
  EXPECT_FALSE(road.Session().HasProperty("GUIUPGRADE"));
  EXPECT_EQ(road.TargetPath("NTSERVERFOLDER"), kServer);
  EXPECT_EQ(road.TargetPath("GUIFOLDER"), kConsole);

  // Product 1 joins product 3; the sub-type is product 1's; the new image's
  // build is recorded; both products count the files.
  EXPECT_EQ(ValuesOf(kProductKey), (Lines{"ServicePath=C:\\Program Files\\Velmora\\Server\\Skdnt.exe",
                                          "ConfigurationPath=C:\\Program Files\\Velmora\\Server\\",
                                          "GuiPath=C:\\Program Files\\Velmora\\Console\\", "ProdSubType=dword:2",
                                          "Products=dword:5", "BuildNumber=dword:12", "NTGUI=NTGUI"}));
  EXPECT_EQ(ValuesOf(kSharedDllsKey),
            (Lines{std::string(kServer) + "Skdnt.exe=dword:2", std::string(kDriverFile) + "=dword:2",
                   std::string(kConsole) + "Skdwin.exe=dword:2"}));
  EXPECT_EQ(ValuesOf(kLanmanParametersKey), Lines{"IRPstackSize=dword:16"});
  // The driver entry was in line already and is left as it was.
  EXPECT_EQ(host::LocalRegistry().Export(std::string(host::kServicesKey) + "\\SKDDriver"), before);
  EXPECT_EQ(host::Shares::Instance().Find(kShareName)->Remark(), "");
  EXPECT_EQ(Names(kServer), (Lines{"skdnt.cfg", "Skdnt.exe"}));
}

TEST_F(UpgradeTest, EightServerOfProductOneIsCountedDownOnceForAnotherProduct) {
  // Server 8.1 of the previous generation, installed by product 1 only.
  Seed(
      "[HKEY_LOCAL_MACHINE\\Software\\Orvannic\\OV VRIN\\CurrentVersion]\r\n"
      "\"ServicePath\"=\"C:\\\\Program Files\\\\Orvannic\\\\OV VRIN\\\\Server\\\\skdnt.exe\"\r\n"
      "\"ConfigurationPath\"=\"C:\\\\Program Files\\\\Orvannic\\\\OV VRIN\\\\Server\"\r\n"
      "\"Products\"=dword:00000001\r\n"
      "\"DriverPath\"=\"C:\\\\WINDOWS\\\\system32\\\\drivers\\\\skdnt.sys\"\r\n"
      "\r\n"
      "[HKEY_LOCAL_MACHINE\\Software\\Microsoft\\Windows\\CurrentVersion\\SharedDlls]\r\n"
      "\"C:\\\\Program Files\\\\Orvannic\\\\OV VRIN\\\\Server\\\\skdnt.exe\"=dword:00000001\r\n"
      "\"C:\\\\WINDOWS\\\\system32\\\\drivers\\\\skdnt.sys\"=dword:00000001\r\n"
      "\r\n"
      "[HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Services\\Skelda]\r\n"
      "\"Type\"=dword:00000010\r\n"
      "\"Start\"=dword:00000002\r\n"
      "\"ErrorControl\"=dword:00000001\r\n"
      "\"ImagePath\"=" +
      ExpandSz(kOldServerImage) + "\r\n");
  host::Files().AddFile(kOldServerImage, vrintest::VersionedDll({8, 1, 0, 77}));
  host::Files().AddFile(std::string(kOldServer) + "\\skdnt60.cli", "old");
  host::Files().AddFile(kDriverFile, "old driver");
  PackageOptions package;
  package.products = "2";
  package.withConsole = false;
  package.installDir = "C:\\Program Files\\Tessaro\\Agent\\";
  package.productSubType = "7";

  Road& road = Drive(package, RoadOptions::FirstInstallation());

  // No console module, no console orchestrator; the count is handed back
  // once without the previous generation's clean-up.
  EXPECT_EQ(
      road.ActionLines(),
      Join({
          Orchestrated("VrinNTMergePostLaunchConditions", Act("VrinNTInstallationValidation")),
          Orchestrated("VrinNTMergePostInstallInitialize",
                       Join({Act("VrinNTInitialise"), Act("VrinNTMigrateTarrowRegistry"),
                             Act("VrinNTPreviousVersionInstalled"), Act("VrinNTReadRefCounter")})),
          Orchestrated("VrinNTMergePreInstallExecute", {}),
          Orchestrated("VrinNTMergePreInstallFinalize",
                       Join({Act("VrinWriteProductSubType"), Act("VrinNTInstallDriver"), Act("VrinNTSetProducts")})),
          Orchestrated("VrinNTMergePostInstallFinalize", Act("VrinNTDecrementRefCounter")),
      }));
  EXPECT_EQ(road.Property("NTSERVERUPGRADE2"), "1");
  EXPECT_FALSE(road.Session().HasProperty("NTSERVERUPGRADE"));
  EXPECT_EQ(road.TargetPath("VRIN"), "C:\\Program Files\\Tessaro\\Agent\\");
  EXPECT_EQ(road.TargetPath("NTSERVERFOLDER"), std::string(kOldServer) + "\\");
  EXPECT_EQ(ValuesOf(kSharedDllsKey),
            (Lines{std::string(kOldServerImage) + "=dword:1", std::string(kDriverFile) + "=dword:1"}));
  // Product 1's bit taken over from the previous generation, product 2's added;
  // no sub-type was stored, so product 2's is written.
  EXPECT_EQ(ValuesOf(kProductKey), (Lines{"ServicePath=C:\\Program Files\\Orvannic\\OV VRIN\\Server\\Skdnt.exe",
                                          "ConfigurationPath=C:\\Program Files\\Orvannic\\OV VRIN\\Server\\",
                                          "ProdSubType=dword:7", "Products=dword:3", "BuildNumber=dword:12"}));
  // The previous generation's key and files are left alone.
  EXPECT_EQ(ValuesOf(kOldKey),
            (Lines{"ServicePath=" + std::string(kOldServerImage), "ConfigurationPath=" + std::string(kOldServer),
                   "Products=dword:1", "DriverPath=" + std::string(kDriverFile)}));
  EXPECT_EQ(Names(kOldServer), (Lines{"skdnt.exe", "skdnt60.cli"}));
  EXPECT_EQ(host::Shares::Instance().Count(), 0u);
  EXPECT_EQ(ValuesOf(kLanmanParametersKey), Lines{});
}

}  // namespace
}  // namespace vrinroad
