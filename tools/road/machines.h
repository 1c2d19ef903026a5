// The machines the bundled roads start from: what earlier product
// generations, other products and a running server leave on the simulated
// machine. Shared by the road tests and the fault sweep, which replays the
// same roads.
#pragma once

#include <string>
#include <utility>
#include <vector>

#include "tools/road/road.h"

namespace vrinroad {

// Where the previous generation (server 6.x or 8.x, console 8.x) lives.
inline constexpr const char kOldServer[] = "C:\\Program Files\\Orvannic\\OV VRIN\\Server";
inline constexpr const char kOldConsole[] = "C:\\Program Files\\Orvannic\\OV VRIN\\Console";
inline constexpr const char kOldServerImage[] = "C:\\Program Files\\Orvannic\\OV VRIN\\Server\\skdnt.exe";
inline constexpr const char kOldConsoleImage[] = "C:\\Program Files\\Orvannic\\OV VRIN\\Console\\skdwin.exe";
// Where product 3 installed its 9.x server and console.
inline constexpr const char kNineServer[] = "C:\\Program Files\\Velmora\\Server\\";
inline constexpr const char kNineConsole[] = "C:\\Program Files\\Velmora\\Console\\";

// Another product's package: its number and folder, sub-type 7.
PackageOptions OtherProduct(const std::string& number, const std::string& installDir, bool withConsole = true);
// Product 2 with both modules.
PackageOptions ProductTwo();

// regedit's hex(2) form of an expandable string.
std::string ExpandSz(const std::string& text);
// Seeds the registry (and so the services) from .reg text without its header.
void Seed(const std::string& regText);

// A machine with earlier servers and consoles on it, as registry text and
// files, so that a road can start from the same machine on the simulated
// host and in a Wine prefix.
struct EarlierMachine {
  std::string reg;                                         // .reg text without its header
  std::vector<std::pair<std::string, std::string>> files;  // full path, contents
};

// Server 6.61 with its driver and service, console 8.2 recorded in
// skdwin.ini, the 6.61 Start-menu entries, and the oldest generation's
// settings still waiting to be migrated.
EarlierMachine PreviousGeneration();
// Server and console 9.0.10 installed by product 3.
EarlierMachine NineServerOfProductThree();

// Puts an earlier machine's registry and files on the simulated machine.
void Seed(const EarlierMachine& machine);
// The previous generation, with its share.
void SeedPreviousGeneration();
// Product 3's 9.0.10 server and console, with its share.
void SeedNineServerOfProductThree();
// Server 8.1 of the previous generation, installed by product 1 only.
void SeedEightServerOfProductOne();
// A product key that stores sub-type 5.
void SeedStoredSubType();
// What a running server leaves in its folder, and a profile of the console.
void SeedRunTimeFiles();

}  // namespace vrinroad
