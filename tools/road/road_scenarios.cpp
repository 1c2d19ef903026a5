#include "tools/road/road_scenarios.h"

#include "host/filesystem.h"
#include "host/registry.h"
#include "sequencing/common_resources.h"
#include "tools/road/machines.h"
#include "tools/road/pe_builder.h"

namespace vrinroad {

namespace {

const char kServerFolder[] = "C:\\Program Files\\Lumicor Velmora\\Server\\";

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
