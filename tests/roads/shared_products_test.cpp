// Several products on one machine: a second product installs the components
// where the first one has them and is counted with it; removing it takes only
// its own registration and count away, restarts the service and deletes
// nothing; SKIPUNINSTALL tells the package when a product other than
// product 1 still needs the server.
#include <gtest/gtest.h>

#include <algorithm>

#include "tests/roads/road_fixture.h"

namespace vrinroad {
namespace {

const char kServerFolder[] = "C:\\Program Files\\Lumicor Velmora\\Server\\";
const char kConsoleFolder[] = "C:\\Program Files\\Lumicor Velmora\\Console\\";
const char kServerImage[] = "C:\\Program Files\\Lumicor Velmora\\Server\\Skdnt.exe";
const char kConsoleImage[] = "C:\\Program Files\\Lumicor Velmora\\Console\\Skdwin.exe";

const PackageOptions kProductTwo = ProductTwo();

class SharedProductsTest : public RoadTest {
 protected:
  // Product 1 installed with its server started.
  void InstallProductOne() {
    RoadOptions options = RoadOptions::FirstInstallation();
    options.startupMode = "Manual";
    Drive({}, options);
    ASSERT_EQ(State(kServiceName), static_cast<DWORD>(SERVICE_RUNNING));
  }
};

TEST_F(SharedProductsTest, SecondProductInstallsWhereTheFirstOneIs) {
  InstallProductOne();
  Road& road = Drive(kProductTwo, RoadOptions::FirstInstallation());

  EXPECT_EQ(road.ActionLines(), InstallationLines({}, {}));
  // The package's own folder is INSTALLDIR; the components stay with product 1's.
  EXPECT_EQ(road.TargetPath("VRIN"), "C:\\Program Files\\Tessaro\\Agent\\");
  EXPECT_EQ(road.TargetPath("NTSERVERFOLDER"), kServerFolder);
  EXPECT_EQ(road.TargetPath("GUIFOLDER"), kConsoleFolder);
  EXPECT_EQ(road.Property("NTSERVERREFCOUNTER"), "1");
  EXPECT_EQ(road.Property("GUIREFCOUNTER"), "1");

  EXPECT_EQ(ValuesOf(kProductKey),
            (Lines{"ServicePath=" + std::string(kServerImage), "ConfigurationPath=" + std::string(kServerFolder),
                   "GuiPath=" + std::string(kConsoleFolder), "ProdSubType=dword:2", "Products=dword:3", "NTGUI=NTGUI",
                   "BuildNumber=dword:12"}));
  EXPECT_EQ(ValuesOf(kSharedDllsKey),
            (Lines{std::string(kServerImage) + "=dword:2", std::string(kDriverFile) + "=dword:2",
                   std::string(kConsoleImage) + "=dword:2"}));
  EXPECT_EQ(ValuesOf(kLanmanParametersKey), Lines{"IRPstackSize=dword:16"});
  EXPECT_EQ(host::Shares::Instance().Count(), 1u);
  EXPECT_FALSE(host::Files().Exists("C:\\Program Files\\Tessaro"));
}

TEST_F(SharedProductsTest, RemovingTheSecondProductLeavesTheFirstOneIntact) {
  InstallProductOne();
  Drive(kProductTwo, RoadOptions::FirstInstallation());
  const std::string share = host::Shares::Instance().Find(kShareName)->Path();

  Road& road = Drive(kProductTwo, RoadOptions::Removal());

  EXPECT_EQ(
      road.ActionLines(),
      Join({
          Orchestrated("VrinNTMergePostLaunchConditions", {}),
          Orchestrated(
              "VrinNTMergePostInstallInitialize",
              Join({Act("VrinNTInitialise"), Act("VrinNTPreviousVersionInstalled"), Act("VrinNTReadRefCounter")})),
          Orchestrated("VrinGUIMergePostInstallInitialize",
                       Join({Act("VrinGUIPreviousVersionInstalled"), Act("VrinGUIReadRefCounter")})),
          Orchestrated("VrinNTMergePreInstallExecute",
                       Join({Act("VrinNTUnSetProducts"), Act("VrinNTLastAgentUninstall")})),
          Orchestrated("VrinNTMergePreInstallFinalize",
                       Join({Act("VrinNTUnSetProducts"), Act("VrinNTUninstallService"), Act("VrinNTUninstallDriver")})),
          Orchestrated("VrinGUIMergePreInstallFinalize", {}),
          Orchestrated("VrinNTMergePostInstallFinalize", Act("VrinDeleteCommonResources")),
          Orchestrated("VrinGUIMergePostInstallFinalize", Act("VrinDeleteCommonResources")),
      }));
  EXPECT_EQ(road.FailureLines(), Lines{});
  EXPECT_EQ(road.Property("NTSERVERREFCOUNTER"), "2");
  EXPECT_EQ(road.Property("GUIREFCOUNTER"), "2");
  // Only product 1 is left, and product 1 never keeps the server for others.
  EXPECT_FALSE(road.Session().HasProperty("SKIPUNINSTALL"));

  // Counted down once; nothing deleted; the service, stopped for the
  // removal, is running again; the driver stays registered.
  EXPECT_EQ(ValuesOf(kSharedDllsKey),
            (Lines{std::string(kServerImage) + "=dword:1", std::string(kDriverFile) + "=dword:1",
                   std::string(kConsoleImage) + "=dword:1"}));
  EXPECT_EQ(ValuesOf(kProductKey),
            (Lines{"ServicePath=" + std::string(kServerImage), "ConfigurationPath=" + std::string(kServerFolder),
                   "GuiPath=" + std::string(kConsoleFolder), "ProdSubType=dword:2", "Products=dword:1", "NTGUI=NTGUI",
                   "BuildNumber=dword:12"}));
  EXPECT_EQ(Names(kServerFolder), Lines{"Skdnt.exe"});
  EXPECT_EQ(Names(kConsoleFolder), Lines{"Skdwin.exe"});
  EXPECT_TRUE(host::Files().Exists(kDriverFile));
  EXPECT_EQ(Started(), (Lines{"SKDDriver", "Skelda", "Skelda"}));
  EXPECT_EQ(State(kServiceName), static_cast<DWORD>(SERVICE_RUNNING));
  EXPECT_TRUE(host::Services().Exists(kDriverName));
  EXPECT_FALSE(host::Services().MarkedForDeletion(kDriverName));
  EXPECT_EQ(ValuesOf(kLanmanParametersKey), Lines{"IRPstackSize=dword:16"});
  ASSERT_NE(host::Shares::Instance().Find(kShareName), nullptr);
  EXPECT_EQ(host::Shares::Instance().Find(kShareName)->Path(), share);
}

TEST_F(SharedProductsTest, RemovalWhileAThirdProductHoldsTheServerSetsSkipUninstall) {
  InstallProductOne();
  Drive(OtherProduct("3", "C:\\Program Files\\Tessaro\\Suite\\", false), RoadOptions::FirstInstallation());
  Drive(kProductTwo, RoadOptions::FirstInstallation());
  ASSERT_EQ(ValuesOf(kSharedDllsKey),
            (Lines{std::string(kServerImage) + "=dword:3", std::string(kDriverFile) + "=dword:3",
                   std::string(kConsoleImage) + "=dword:2"}));

  Road& road = Drive(kProductTwo, RoadOptions::Removal());

  EXPECT_EQ(road.Property("SKIPUNINSTALL"), "1");
  Lines lines = road.Log();
  EXPECT_NE(std::find(lines.begin(), lines.end(), "OV VRIN : Setting SKIPUNINSTALL"), lines.end());
  EXPECT_EQ(host::LocalRegistry().Dword(kProductKey, "Products"), 0x5u);
  EXPECT_EQ(ValuesOf(kSharedDllsKey),
            (Lines{std::string(kServerImage) + "=dword:2", std::string(kDriverFile) + "=dword:2",
                   std::string(kConsoleImage) + "=dword:1"}));
}

TEST_F(SharedProductsTest, RepairOfTheSecondProductRegistersItAgain) {
  InstallProductOne();
  Drive(kProductTwo, RoadOptions::FirstInstallation());
  // Something took product 2's bit away.
  host::LocalRegistry().SetDword(kProductKey, "Products", 1);
  const std::string counts = host::LocalRegistry().Export(kSharedDllsKey);

  Road& road = Drive(kProductTwo, RoadOptions::Repair());

  Lines lines = road.ActionLines();
  Lines finalize = {"Action start: VrinNTMergePreInstallFinalize.",
                    "VrinNTMergePreInstallFinalize ->",
                    "VrinNTSetProducts ->",
                    "VrinNTSetProducts <- [0]",
                    "VrinNTMergePreInstallFinalize <- 0",
                    "Action ended: VrinNTMergePreInstallFinalize. Return value 1."};
  EXPECT_NE(std::search(lines.begin(), lines.end(), finalize.begin(), finalize.end()), lines.end());
  EXPECT_EQ(host::LocalRegistry().Dword(kProductKey, "Products"), 0x3u);
  EXPECT_EQ(host::LocalRegistry().Export(kSharedDllsKey), counts);
}

}  // namespace
}  // namespace vrinroad
