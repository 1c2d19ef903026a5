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

const std::string kDriverKey = std::string(host::kServicesKey) + "\\SKDDriver";

std::string Programs() { return host::ShellFolders::Instance().CommonPrograms(); }

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
  const char* kServer = kNineServer;
  const char* kConsole = kNineConsole;
  SeedNineServerOfProductThree();
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

// Windows Installer's file-versioning rules under REINSTALLMODE. The
// default rows were checked against Wine's msiexec, which keeps the same
// files; Wine ignores the a, e, d and p letters that the rest follow.
TEST_F(UpgradeTest, FilesFollowTheInstallersVersioningRules) {
  const vrintest::FileVersion package{9, 0, 12, 0};
  const std::string older = vrintest::VersionedDll({6, 61, 0, 300});
  const std::string equal = vrintest::VersionedDll(package) + "other bytes";
  const std::string higher = vrintest::VersionedDll({10, 0, 5, 0});
  const struct {
    std::optional<std::string> existing;
    std::string mode;
    bool installed;
  } cases[] = {
      {std::nullopt, "", true},  {older, "", true},        {equal, "", false},      {higher, "", false},
      {"old text", "", true},    {higher, "amus", true},   {equal, "emus", true},   {older, "emus", true},
      {higher, "EMUS", false},   {higher, "dmus", true},   {equal, "dmus", false},  {older, "pmus", false},
      {std::nullopt, "p", true}, {"old text", "c", false}, {higher, "odmus", true},
  };
  for (const auto& row : cases) {
    EXPECT_EQ(InstallsFile(row.existing, package, row.mode), row.installed)
        << "mode \"" << row.mode << "\" over " << (row.existing ? row.existing->substr(0, 8) : "nothing");
  }

  // A newer console of another product is kept, and still counted.
  SeedNineServerOfProductThree();
  const std::string console = std::string(kNineConsole) + "Skdwin.exe";
  host::Files().AddFile(console, higher);
  Drive({}, RoadOptions::FirstInstallation());
  EXPECT_EQ(host::Files().FileContent(console), higher);
  EXPECT_EQ(SharedCount(console), 2u);
  EXPECT_EQ(FileVersionOf(*host::Files().FileContent(std::string(kNineServer) + "Skdnt.exe")).value().build, 12);
}

TEST_F(UpgradeTest, EightServerOfProductOneIsCountedDownOnceForAnotherProduct) {
  SeedEightServerOfProductOne();
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
