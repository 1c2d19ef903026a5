#include "tools/road/road_scenarios.h"

#include "host/filesystem.h"
#include "host/network.h"
#include "host/registry.h"
#include "sequencing/common_resources.h"
#include "tools/road/machines.h"
#include "tools/road/pe_builder.h"

namespace vrinroad {

namespace {

const char kServerFolder[] = "C:\\Program Files\\Lumicor Velmora\\Server\\";
const char kBackOfficeKey[] = "HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\BackOffice";

RoadOptions Started(RoadOptions options) {
  options.startupMode = "Manual";
  return options;
}

void Run(const PackageOptions& package, const RoadOptions& options) {
  Road road(package, options);
  road.Run();
}

std::function<void(RoadRunner&)> Drives(PackageOptions package, RoadOptions options) {
  return [package, options](RoadRunner& runner) { runner.Drive(package, options); };
}

PackageOptions WithoutConsole() {
  PackageOptions package;
  package.withConsole = false;
  return package;
}

// A server installed without the console module, with its configuration and log.
void InstallServerAlone() {
  Run(WithoutConsole(), RoadOptions::FirstInstallation());
  host::Files().AddFile(std::string(kServerFolder) + "skdnt.cfg", "[General]\r\n");
  host::Files().AddFile(std::string(kServerFolder) + "Logs\\skdnt.log", "started");
}

}  // namespace

std::vector<SweepScenario> BundledRoads() {
  std::vector<SweepScenario> roads;
  const RoadOptions install = RoadOptions::FirstInstallation();

  roads.push_back({"first installation with user interface", {}, Drives({}, Started(install))});
  PackageOptions agents;
  agents.installDir = "D:\\Agents\\Velmora";
  roads.push_back(
      {"first installation without user interface", {}, Drives(agents, RoadOptions::FirstInstallation(false))});
  PackageOptions productFour;
  productFour.products = "4";
  productFour.releaseFlags = "ntgui";
  productFour.installDir = "C:\\Program Files\\Tessaro\\Agent\\";
  roads.push_back(
      {"first installation of product 4 over a stored sub-type", SeedStoredSubType, Drives(productFour, install)});

  roads.push_back({"upgrade of the previous generation", SeedPreviousGeneration, Drives({}, Started(install))});
  roads.push_back({"removal of an upgraded machine",
                   [install] {
                     SeedPreviousGeneration();
                     Run({}, install);
                     host::Files().AddFile(std::string(kOldServer) + "\\Logs\\skdnt.log", "started");
                   },
                   Drives({}, RoadOptions::Removal())});
  roads.push_back(
      {"installation joining a 9.x server of product 3", SeedNineServerOfProductThree, Drives({}, install)});
  PackageOptions productTwoAlone = OtherProduct("2", "C:\\Program Files\\Tessaro\\Agent\\", false);
  roads.push_back({"installation of product 2 over an 8.x server of product 1", SeedEightServerOfProductOne,
                   Drives(productTwoAlone, install)});

  auto installedAndRunning = [install] {
    host::Files().AddFile("C:\\Program Files\\Common Files\\shared.dll", "x");
    Run({}, Started(install));
    SeedRunTimeFiles();
  };
  roads.push_back({"removal of the last server and console", installedAndRunning, Drives({}, RoadOptions::Removal())});
  roads.push_back({"removal with the service's log held open", installedAndRunning, [](RoadRunner& runner) {
                     runner.Drive({}, RoadOptions::Removal(), [](host::Session&) {
                       host::Files().HoldOpen(std::string(kServerFolder) + "Logs\\skdnt.log", GENERIC_READ,
                                              FILE_SHARE_READ | FILE_SHARE_WRITE);
                     });
                   }});
  RoadOptions consoleAlone = RoadOptions::Removal();
  consoleAlone.server = FeatureRequest::kLeave;
  roads.push_back({"removal of the console alone", installedAndRunning, Drives({}, consoleAlone)});
  roads.push_back({"removal of a server without console module", InstallServerAlone,
                   Drives(WithoutConsole(), RoadOptions::Removal())});
  PackageOptions withLeftOvers = WithoutConsole();
  withLeftOvers.actions = {{Point::kAfterInstallFinalize, "VrinDeleteLeftOvers", VrinDeleteLeftOvers}};
  roads.push_back({"removal with the package's left-over action",
                   [] {
                     host::Files().AddFile("C:\\Program Files\\Common Files\\shared.dll", "x");
                     InstallServerAlone();
                   },
                   Drives(withLeftOvers, RoadOptions::Removal())});
  roads.push_back({"installation before the restart that removes the driver",
                   [install] {
                     Run({}, Started(install));
                     Run({}, RoadOptions::Removal());
                   },
                   Drives({}, Started(install))});

  roads.push_back(
      {"repair leaving the features alone",
       [install] {
         Run({}, install);
         host::Files().AddFile(std::string(kServerFolder) + "Skdnt.exe", vrintest::VersionedDll({9, 0, 12, 3}));
       },
       Drives({}, Started(RoadOptions::Repair()))});

  auto productOneStarted = [install] { Run({}, Started(install)); };
  roads.push_back(
      {"second product installing where the first one is", productOneStarted, Drives(ProductTwo(), install)});
  roads.push_back({"removal of the second product",
                   [install, productOneStarted] {
                     productOneStarted();
                     Run(ProductTwo(), install);
                   },
                   Drives(ProductTwo(), RoadOptions::Removal())});
  roads.push_back({"removal while a third product holds the server",
                   [install, productOneStarted] {
                     productOneStarted();
                     Run(OtherProduct("3", "C:\\Program Files\\Tessaro\\Suite\\", false), install);
                     Run(ProductTwo(), install);
                   },
                   Drives(ProductTwo(), RoadOptions::Removal())});
  // The master setup: an upgrade of Velmora 10 whose console has no build
  // number recorded, a machine of the previous generation known only by its
  // service and skdwin.ini, and a remote machine.
  roads.push_back(
      {"master setup over Velmora 10 without a build number",
       [] {
         host::Registry& registry = host::LocalRegistry();
         registry.SetString(kProductKey, "Version", "10");
         registry.SetString(kProductKey, "ServicePath", "C:\\Apps\\Velmora\\skdnt.exe");
         registry.SetString(kProductKey, "GuiPath", "C:\\Apps\\Velmora\\Console");
         registry.SetString(kBackOfficeKey, "SuiteName", "SBS");
         registry.SetString(kBackOfficeKey, "Version", "2000");
         host::Files().AddFile("C:\\Apps\\Velmora\\Console\\skdwin.exe", vrintest::VersionedDll({10, 0, 0, 2100}));
         host::Files().AddDirectory("C:\\Temp");
       },
       [](RoadRunner& runner) { runner.MasterSetup("", "C:\\Temp\\velmora.icf"); }});
  roads.push_back({"master setup over the previous generation",
                   [] {
                     SeedPreviousGeneration();
                     host::Files().AddDirectory("C:\\Temp");
                   },
                   [](RoadRunner& runner) {
                     runner.MasterSetup(host::Network::Instance().ComputerName(), "C:\\Temp\\velmora.icf");
                   }});
  roads.push_back({"master setup of a remote machine",
                   [] {
                     host::Network::Instance().AddMachine("FILESRV").SetString(kProductKey, "ConfigurationPath",
                                                                               "D:\\Velmora");
                     host::Files().AddDirectory("C:\\Temp");
                   },
                   [](RoadRunner& runner) { runner.MasterSetup("FILESRV", "C:\\Temp\\filesrv.icf"); }});

  roads.push_back({"repair of the second product",
                   [install, productOneStarted] {
                     productOneStarted();
                     Run(ProductTwo(), install);
                     host::LocalRegistry().SetDword(kProductKey, "Products", 1);
                   },
                   Drives(ProductTwo(), RoadOptions::Repair())});
  return roads;
}

}  // namespace vrinroad
