// Removal of the last server and console: the service and the driver go (a
// running driver at the next restart), the IRP stack size is restored, the
// left-overs, the shared product data and the share are removed; a package
// without the console module does the same for the server alone; and an
// installation before the restart copes with the driver still marked.
#include <gtest/gtest.h>

#include <algorithm>

#include "host/machine.h"
#include "sequencing/common_resources.h"
#include "tests/roads/road_fixture.h"

namespace vrinroad {
namespace {

const char kVrinFolder[] = "C:\\Program Files\\Lumicor Velmora";
const char kServerFolder[] = "C:\\Program Files\\Lumicor Velmora\\Server";
const char kConsoleFolder[] = "C:\\Program Files\\Lumicor Velmora\\Console";
const char kUninstallKey[] =
    "HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\"
    "{6B2D3F01-8E4C-4A32-8D66-2F3B4C5D6E72}";

std::string InServer(const std::string& name) { return std::string(kServerFolder) + "\\" + name; }
std::string Programs() { return host::ShellFolders::Instance().CommonPrograms(); }

// The reports of a removal whose component files the installer deleted first.
Lines MissingFileReports(std::initializer_list<std::string> paths) {
  Lines reports;
  for (const std::string& path : paths) {
    bool folderMissing = path.rfind(kConsoleFolder, 0) == 0;
    reports.push_back(Report("InstallDeleteFile", folderMissing ? 3 : 2, "InstallDeleteFile : GetFileAttributes",
                             folderMissing ? kPathNotFoundText : kNotFoundText));
  }
  return reports;
}

const Lines kServerRemovalLines = Join({
    Orchestrated("VrinNTMergePostLaunchConditions", {}),
    Orchestrated("VrinNTMergePostInstallInitialize",
                 Join({Act("VrinNTInitialise"), Act("VrinNTPreviousVersionInstalled"), Act("VrinNTReadRefCounter")})),
});

class RemovalTest : public RoadTest {};

TEST_F(RemovalTest, LastServerAndConsoleLeaveNothingBehind) {
  host::Files().AddFile("C:\\Program Files\\Common Files\\shared.dll", "x");
  RoadOptions install = RoadOptions::FirstInstallation();
  install.startupMode = "Manual";
  Drive({}, install);
  SeedRunTimeFiles();

  Road& road = Drive({}, RoadOptions::Removal());

  EXPECT_EQ(
      road.ActionLines(),
      Join({kServerRemovalLines,
            Orchestrated("VrinGUIMergePostInstallInitialize",
                         Join({Act("VrinGUIPreviousVersionInstalled"), Act("VrinGUIReadRefCounter")})),
            Orchestrated("VrinNTMergePreInstallExecute",
                         Join({Act("VrinNTUnSetProducts"), Act("VrinNTLastAgentUninstall")})),
            Orchestrated("VrinNTMergePreInstallFinalize",
                         Join({Act("VrinNTUnSetProducts"), Act("VrinNTUninstallService"), Act("VrinNTUninstallDriver"),
                               Act("VrinNTUnSetIRPStackSize"), Act("VrinNTDeleteLeftOvers")})),
            Orchestrated("VrinGUIMergePreInstallFinalize", Act("VrinGUIDeleteLeftOvers")),
            Orchestrated("VrinNTMergePostInstallFinalize",
                         Join({Act("VrinDeleteCommonResources"), Act("VrinNTDeleteShare")})),
            Orchestrated("VrinGUIMergePostInstallFinalize", Act("VrinDeleteCommonResources"))}));
  EXPECT_EQ(road.Property("NTSERVERREFCOUNTER"), "1");
  EXPECT_EQ(road.Property("GUIREFCOUNTER"), "1");
  EXPECT_FALSE(road.Session().HasProperty("SKIPUNINSTALL"));
  // The installer removed the images first; the left-over actions report
  // what they no longer find.
  EXPECT_EQ(road.FailureLines(),
            MissingFileReports({InServer("skdnt.cli"), InServer("skdnt.exe"), kDriverFile, InServer("backup.cli")}));

  // The service is gone; the driver was running, so it goes at the restart.
  EXPECT_FALSE(host::Services().Exists(kServiceName));
  EXPECT_TRUE(host::Services().MarkedForDeletion(kDriverName));
  EXPECT_EQ(ValuesOf(kLanmanParametersKey), Lines{"IRPstackSize=dword:15"});
  EXPECT_EQ(host::Shares::Instance().Count(), 0u);

  // The product key and every count are gone; the standalone entry is hidden.
  EXPECT_FALSE(KeyExists(kProductKey));
  EXPECT_EQ(ValuesOf(kProductParentKey), Lines{});
  EXPECT_EQ(ValuesOf(kSharedDllsKey), Lines{});
  EXPECT_EQ(ValuesOf(kUninstallKey), Lines{"SystemComponent=dword:1"});

  // The server's folder is emptied (its own removal is the package's
  // VrinDeleteLeftOvers); the console's folder went with its last file.
  EXPECT_EQ(Names(kServerFolder), Lines{});
  EXPECT_EQ(Names(kVrinFolder), Lines{"Server"});
  EXPECT_FALSE(host::Files().Exists(kDriverFile));
  EXPECT_FALSE(host::Files().Exists("C:\\WINDOWS\\skdwin.ini"));
  EXPECT_EQ(Names(Programs()), Lines{});
  EXPECT_TRUE(host::Files().PendingOperations().empty());

  host::RestartMachine();
  EXPECT_FALSE(host::Services().Exists(kDriverName));
}

TEST_F(RemovalTest, LogStillOpenDuringTheRemovalGoesAtTheRestart) {
  Drive({}, RoadOptions::FirstInstallation());
  SeedRunTimeFiles();
  Road road({}, RoadOptions::Removal());
  // A log viewer opens the service's log while the installer works.
  road.OnExecute([](host::Session&) {
    host::Files().HoldOpen(InServer("Logs\\skdnt.log"), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE);
  });
  ASSERT_EQ(road.Run(), 0u);

  EXPECT_EQ(host::Files().PendingOperations(),
            (std::vector<std::pair<std::string, std::string>>{{"\\??\\" + InServer("Logs\\skdnt.log"), ""},
                                                              {"\\??\\" + InServer("Logs"), ""}}));
  EXPECT_EQ(Names(kServerFolder), Lines{"Logs"});
  host::RestartMachine();
  EXPECT_EQ(Names(kServerFolder), Lines{});
}

TEST_F(RemovalTest, ConsoleAloneIsRemovedWhileTheServerStays) {
  Drive({}, RoadOptions::FirstInstallation());
  SeedRunTimeFiles();
  RoadOptions change = RoadOptions::Removal();
  change.server = FeatureRequest::kLeave;

  Road& road = Drive({}, change);

  EXPECT_EQ(road.Property("REMOVE"), "ConsoleFeature");
  EXPECT_EQ(road.ActionLines(),
            Join({Orchestrated("VrinNTMergePostLaunchConditions", Act("VrinNTInstallationValidation")),
                  Orchestrated("VrinNTMergePostInstallInitialize",
                               Join({Act("VrinNTInitialise"), Act("VrinNTPreviousVersionInstalled"),
                                     Act("VrinNTReadRefCounter")})),
                  Orchestrated("VrinGUIMergePostInstallInitialize",
                               Join({Act("VrinGUIPreviousVersionInstalled"), Act("VrinGUIReadRefCounter")})),
                  Orchestrated("VrinNTMergePreInstallExecute", {}), Orchestrated("VrinNTMergePreInstallFinalize", {}),
                  Orchestrated("VrinGUIMergePreInstallFinalize", Act("VrinGUIDeleteLeftOvers")),
                  Orchestrated("VrinNTMergePostInstallFinalize", {}),
                  Orchestrated("VrinGUIMergePostInstallFinalize", Act("VrinDeleteCommonResources"))}));
  EXPECT_EQ(road.FailureLines(), Lines{});
  // The server still counts: the product key stays, without the console's path.
  EXPECT_EQ(ValuesOf(kProductKey),
            (Lines{"ServicePath=C:\\Program Files\\Lumicor Velmora\\Server\\Skdnt.exe",
                   "ConfigurationPath=C:\\Program Files\\Lumicor Velmora\\Server\\", "ProdSubType=dword:2",
                   "Products=dword:1", "NTGUI=NTGUI", "BuildNumber=dword:12"}));
  EXPECT_FALSE(host::Files().Exists(kConsoleFolder));
  EXPECT_FALSE(host::Files().Exists("C:\\WINDOWS\\skdwin.ini"));
  EXPECT_EQ(Names(Programs()), Lines{});
  EXPECT_TRUE(host::Services().Exists(kServiceName));
  EXPECT_TRUE(host::Services().Exists(kDriverName));
  EXPECT_EQ(host::Shares::Instance().Count(), 1u);
}

TEST_F(RemovalTest, ServerWithoutConsoleModuleIsRemovedWithTheProductKeys) {
  PackageOptions package;
  package.withConsole = false;
  Drive(package, RoadOptions::FirstInstallation());
  ASSERT_NE(host::Shares::Instance().Find(kShareName), nullptr);
  host::Files().AddFile(InServer("skdnt.cfg"), "[General]\r\n");
  host::Files().AddFile(InServer("Logs\\skdnt.log"), "started");

  Road& road = Drive(package, RoadOptions::Removal());

  EXPECT_EQ(
      road.ActionLines(),
      Join({kServerRemovalLines,
            Orchestrated("VrinNTMergePreInstallExecute",
                         Join({Act("VrinNTUnSetProducts"), Act("VrinNTLastAgentUninstall")})),
            Orchestrated("VrinNTMergePreInstallFinalize",
                         Join({Act("VrinNTUnSetProducts"), Act("VrinNTUninstallService"), Act("VrinNTUninstallDriver"),
                               Act("VrinNTUnSetIRPStackSize"), Act("VrinNTDeleteLeftOvers")})),
            Orchestrated("VrinNTMergePostInstallFinalize",
                         Join({Act("VrinDeleteCommonResources"), Act("VrinNTDeleteShare")}))}));
  // Never started: both entries go at once.
  EXPECT_FALSE(host::Services().Exists(kServiceName));
  EXPECT_FALSE(host::Services().Exists(kDriverName));
  EXPECT_EQ(ValuesOf(kLanmanParametersKey), Lines{"IRPstackSize=dword:15"});
  EXPECT_EQ(host::Shares::Instance().Count(), 0u);
  EXPECT_FALSE(KeyExists(kProductKey));
  EXPECT_EQ(ValuesOf(kSharedDllsKey), Lines{});
  EXPECT_EQ(Names(kServerFolder), Lines{});
}

TEST_F(RemovalTest, PackageLeftOverActionDeletesTheServerFolderAndAllProductKeys) {
  host::Files().AddFile("C:\\Program Files\\Common Files\\shared.dll", "x");
  PackageOptions package;
  package.withConsole = false;
  Drive(package, RoadOptions::FirstInstallation());
  host::Files().AddFile(InServer("skdnt.cfg"), "[General]\r\n");
  host::Files().AddFile(InServer("Logs\\skdnt.log"), "started");
  package.actions = {{Point::kAfterInstallFinalize, "VrinDeleteLeftOvers", VrinDeleteLeftOvers}};

  Road& road = Drive(package, RoadOptions::Removal());

  Lines lines = road.ActionLines();
  EXPECT_EQ(Lines(lines.end() - 4, lines.end()),
            (Lines{"Action start: VrinDeleteLeftOvers.", "VrinDeleteLeftOvers -->", "VrinDeleteLeftOvers <- [0]",
                   "Action ended: VrinDeleteLeftOvers. Return value 1."}));
  Lines log = road.Log();
  EXPECT_NE(std::find(log.begin(), log.end(), "OV VRIN : The Gui component is not present -> delete the NT directory"),
            log.end());
  // No console in the package: its feature and folder are reported missing.
  Lines failures = road.FailureLines();
  ASSERT_GE(failures.size(), 2u);
  EXPECT_EQ(failures[failures.size() - 2].substr(0, 55), "ERR: OV VRIN : VrinDeleteLeftOvers : Gui Feature : 259\r");
  EXPECT_EQ(failures.back().rfind("ERR: OV VRIN : VrinDeleteLeftOvers : szGuiPath : ", 0), 0u);

  EXPECT_FALSE(host::Files().Exists(kServerFolder));
  EXPECT_FALSE(host::Files().Exists(kVrinFolder));
  EXPECT_EQ(Names("C:\\Program Files"), Lines{"Common Files"});
  EXPECT_FALSE(KeyExists(kProductParentKey));
  EXPECT_FALSE(KeyExists(kOldKey));
  // The climb schedules each ancestor that is not empty for the restart.
  EXPECT_EQ(host::Files().PendingOperations(),
            (std::vector<std::pair<std::string, std::string>>{{"\\??\\C:\\Program Files", ""}, {"\\??\\C:\\", ""}}));
}

TEST_F(RemovalTest, InstallationBeforeTheRestartFindsTheDriverStillMarked) {
  RoadOptions install = RoadOptions::FirstInstallation();
  install.startupMode = "Manual";
  Drive({}, install);
  Drive({}, RoadOptions::Removal());
  ASSERT_TRUE(host::Services().MarkedForDeletion(kDriverName));

  Road& road = Drive({}, install);

  // The marked driver is found and reported; its registration fails but does
  // not fail the installation; starting is left to the restart.
  EXPECT_EQ(road.Property("DRIVERPENDINGDELETION"), "1");
  Lines failures = road.FailureLines();
  EXPECT_NE(
      std::find(failures.begin(), failures.end(),
                Report("VrinNTInstallDriver", ERROR_SERVICE_MARKED_FOR_DELETE, "VrinNTInstallDriver : CreateService",
                       "The specified service has been marked for deletion.")),
      failures.end());
  EXPECT_EQ(road.Property("STARTUPMODE"), "NeedReboot");
  EXPECT_EQ(ValuesOf(kLanmanParametersKey), Lines{"IRPstackSize=dword:16"});
  EXPECT_EQ(host::LocalRegistry().Dword(kProductKey, "Products"), 1u);
  ASSERT_NE(host::Shares::Instance().Find(kShareName), nullptr);

  host::RestartMachine();
  EXPECT_FALSE(host::Services().Exists(kDriverName));
  EXPECT_TRUE(host::Services().Exists(kServiceName));
}

}  // namespace
}  // namespace vrinroad
