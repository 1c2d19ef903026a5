// First installations of server and console on a clean machine: what the
// orchestrators run at each point, what they find missing, and the machine
// they leave (driver, service, product key, counts, IRP stack size, share),
// with and without a user interface; and a road that a failing driver
// registration stops.
#include <gtest/gtest.h>

#include "host/faults.h"
#include "tests/roads/road_fixture.h"

namespace vrinroad {
namespace {

const char kServerFolder[] = "C:\\Program Files\\Lumicor Velmora\\Server\\";
const char kConsoleFolder[] = "C:\\Program Files\\Lumicor Velmora\\Console\\";
const char kServerImage[] = "C:\\Program Files\\Lumicor Velmora\\Server\\Skdnt.exe";
const char kConsoleImage[] = "C:\\Program Files\\Lumicor Velmora\\Console\\Skdwin.exe";
const std::string kDriverKey = std::string(host::kServicesKey) + "\\SKDDriver";
const std::string kServiceKey = std::string(host::kServicesKey) + "\\Skelda";

// The action lines of a first installation up to the share and the start.
Lines FirstInstallationLines(const Lines& afterFinalize) {
  return InstallationLines(Act("VrinNTSetIRPStackSize"), afterFinalize);
}

// What a clean machine makes the detecting actions report.
const Lines kCleanMachineReports = {
    Report("VrinNTInstallationValidation", 1060, "VrinNTInstallationValidation : OpenService", kNoServiceText),
    FailureLine("RegOpenKeyEx(OldVersion) returned 2 - should no longer exist!"),
    Report("VrinNTPreviousVersionInstalled", 1060, "VrinNTPreviousVersionInstalled : OpenService", kNoServiceText),
    Report("VrinGUIPreviousVersionInstalled", 2, "VrinGUIPreviousVersionInstalled : InstallGetPrivateProfileString",
           kNotFoundText),
};

class FirstInstallationTest : public RoadTest {};

TEST_F(FirstInstallationTest, WithUserInterfaceRegistersSharesAndStartsTheServer) {
  RoadOptions options = RoadOptions::FirstInstallation();
  options.startupMode = "manual";
  Road& road = Drive({}, options);

  EXPECT_EQ(road.ActionLines(), FirstInstallationLines(Join({Act("VrinNTCreateShare"), Act("VrinNTStartVrin")})));
  EXPECT_EQ(road.FailureLines(), kCleanMachineReports);
  // Nothing was counted before: the properties say first user.
  EXPECT_FALSE(road.Session().HasProperty("NTSERVERREFCOUNTER"));
  EXPECT_FALSE(road.Session().HasProperty("GUIREFCOUNTER"));
  EXPECT_FALSE(road.Session().HasProperty("NTSERVERINSTALLDIR"));
  EXPECT_EQ(road.Property("STARTUPMODE"), "manual");

  EXPECT_EQ(ValuesOf(kProductKey),
            (Lines{"ServicePath=" + std::string(kServerImage), "ConfigurationPath=" + std::string(kServerFolder),
                   "GuiPath=" + std::string(kConsoleFolder), "ProdSubType=dword:2", "Products=dword:1", "NTGUI=NTGUI",
                   "BuildNumber=dword:12"}));
  EXPECT_EQ(ValuesOf(kSharedDllsKey),
            (Lines{std::string(kServerImage) + "=dword:1", std::string(kDriverFile) + "=dword:1",
                   std::string(kConsoleImage) + "=dword:1"}));
  EXPECT_EQ(ValuesOf(kLanmanParametersKey), Lines{"IRPstackSize=dword:16"});
  EXPECT_FALSE(KeyExists(kOldKey));

  // The driver with exactly its registration parameters, then both started.
  EXPECT_EQ(ValuesOf(kDriverKey), (Lines{"Type=dword:2", "Start=dword:2", "ErrorControl=dword:1",
                                         "ImagePath=expand:%SystemRoot%\\system32\\drivers\\skdnt.sys",
                                         "DisplayName=OV Velmora Driver", "Group=Filter"}));
  EXPECT_EQ(Started(), (Lines{"SKDDriver", "Skelda"}));
  EXPECT_EQ(State(kDriverName), static_cast<DWORD>(SERVICE_RUNNING));
  EXPECT_EQ(State(kServiceName), static_cast<DWORD>(SERVICE_RUNNING));

  const host::ShareRecord* share = host::Shares::Instance().Find(kShareName);
  ASSERT_NE(share, nullptr);
  EXPECT_EQ(share->Path(), "C:\\Program Files\\Lumicor Velmora\\Server");
  EXPECT_EQ(share->Remark(), "OV Velmora");
  ASSERT_TRUE(share->security && share->security->Dacl());
  EXPECT_EQ(share->security->Dacl()->aces.size(), 3u);

  EXPECT_EQ(Names(kServerFolder), Lines{"Skdnt.exe"});
  EXPECT_EQ(Names(kConsoleFolder), Lines{"Skdwin.exe"});
  EXPECT_TRUE(host::Files().Exists(kDriverFile));
}

TEST_F(FirstInstallationTest, WithoutUserInterfaceFollowsInstallDirAndCreatesNoShare) {
  PackageOptions package;
  package.installDir = "D:\\Agents\\Velmora";
  Road& road = Drive(package, RoadOptions::FirstInstallation(false));

  // No share, no start (STARTUPMODE is not "Manual").
  EXPECT_EQ(road.ActionLines(), FirstInstallationLines({}));
  EXPECT_EQ(road.FailureLines(), kCleanMachineReports);
  EXPECT_EQ(host::Shares::Instance().Count(), 0u);
  EXPECT_TRUE(Started().empty());

  // Without a user interface the product's folder is INSTALLDIR, and the
  // components' folders follow it.
  EXPECT_EQ(road.TargetPath("VRIN"), "D:\\Agents\\Velmora\\");
  EXPECT_EQ(road.TargetPath("NTSERVERFOLDER"), "D:\\Agents\\Velmora\\Server\\");
  EXPECT_EQ(ValuesOf(kProductKey),
            (Lines{"ServicePath=D:\\Agents\\Velmora\\Server\\Skdnt.exe",
                   "ConfigurationPath=D:\\Agents\\Velmora\\Server\\", "GuiPath=D:\\Agents\\Velmora\\Console\\",
                   "ProdSubType=dword:2", "Products=dword:1", "NTGUI=NTGUI", "BuildNumber=dword:12"}));
  EXPECT_EQ(ValuesOf(kLanmanParametersKey), Lines{"IRPstackSize=dword:16"});
  EXPECT_EQ(ValuesOf(kServiceKey), (Lines{"Type=dword:16", "Start=dword:2", "ErrorControl=dword:1",
                                          "ImagePath=expand:\"D:\\Agents\\Velmora\\Server\\Skdnt.exe\"",
                                          "DisplayName=OV Velmora Server", "ObjectName=LocalSystem"}));
}

TEST_F(FirstInstallationTest, ProductOtherThanOneWithoutReleaseMarkKeepsTheStoredSubType) {
  SeedStoredSubType();
  PackageOptions package;
  package.products = "4";
  package.releaseFlags = "ntgui";
  package.installDir = "C:\\Program Files\\Tessaro\\Agent\\";
  Road& road = Drive(package, RoadOptions::FirstInstallation());

  EXPECT_EQ(road.TargetPath("NTSERVERFOLDER"), "C:\\Program Files\\Tessaro\\Agent\\Server\\");
  // Product 4 writes no sub-type over a stored one, and the flag in lower case is no mark.
  EXPECT_EQ(
      ValuesOf(kProductKey),
      (Lines{"ProdSubType=dword:5", "ServicePath=C:\\Program Files\\Tessaro\\Agent\\Server\\Skdnt.exe",
             "ConfigurationPath=C:\\Program Files\\Tessaro\\Agent\\Server\\",
             "GuiPath=C:\\Program Files\\Tessaro\\Agent\\Console\\", "Products=dword:8", "BuildNumber=dword:12"}));
  ASSERT_NE(host::Shares::Instance().Find(kShareName), nullptr);
  EXPECT_EQ(host::Shares::Instance().Find(kShareName)->Path(), "C:\\Program Files\\Tessaro\\Agent\\Server");
}

TEST_F(FirstInstallationTest, RefusedDriverRegistrationFailsTheInstallationBeforeTheConsoleAndTheShare) {
  host::Faults::Instance().Fail("CreateService", ERROR_ACCESS_DENIED, 1, kDriverName);
  RoadOptions options = RoadOptions::FirstInstallation();
  options.startupMode = "Manual";
  Road& road = Drive({}, options, ERROR_INSTALL_FAILURE);

  std::vector<std::string> called;
  for (const ActionCall& call : road.Calls()) called.push_back(call.name + "=" + std::to_string(call.result));
  EXPECT_EQ(called, (Lines{"VrinNTMergePostLaunchConditions=0", "VrinNTMergePostInstallInitialize=0",
                           "VrinGUIMergePostInstallInitialize=0", "VrinNTMergePreInstallExecute=0",
                           "VrinNTMergePreInstallFinalize=1603"}));
  Lines lines = road.ActionLines();
  Lines tail(lines.end() - 6, lines.end());
  EXPECT_EQ(tail, (Lines{"VrinWriteProductSubType ->", "VrinWriteProductSubType <- [0]", "VrinNTInstallDriver ->",
                         "VrinNTInstallDriver <- [1603]", "VrinNTMergePreInstallFinalize <- 1603",
                         "Action ended: VrinNTMergePreInstallFinalize. Return value 3."}));
  Lines failures = road.FailureLines();
  ASSERT_EQ(failures.size(), 6u);
  EXPECT_EQ(failures[4], Report("VrinNTInstallDriver", ERROR_ACCESS_DENIED, "VrinNTInstallDriver : CreateService",
                                "Access is denied."));
  EXPECT_EQ(failures[5],
            Report("VrinNTMergePreInstallFinalize", ERROR_INSTALL_FAILURE,
                   "VrinNTMergePreInstallFinalize : VrinNTInstallDriver", "Fatal error during installation."));
  // No registration, no IRP raise, no share, no start; the standard actions
  // had run before (the installer rolls its own work back, not the library's).
  EXPECT_FALSE(host::Services().Exists(kDriverName));
  EXPECT_EQ(ValuesOf(kProductKey),
            (Lines{"ServicePath=" + std::string(kServerImage), "ConfigurationPath=" + std::string(kServerFolder),
                   "GuiPath=" + std::string(kConsoleFolder), "ProdSubType=dword:2"}));
  EXPECT_EQ(ValuesOf(kLanmanParametersKey), Lines{});
  EXPECT_EQ(host::Shares::Instance().Count(), 0u);
  EXPECT_TRUE(Started().empty());
}

}  // namespace
}  // namespace vrinroad
