#include "tools/vrinsim/explore.h"

#include <stdlib.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <optional>
#include <random>
#include <set>
#include <sstream>
#include <stdexcept>

#include "host/code_page.h"
#include "host/filesystem.h"
#include "host/machine.h"
#include "host/registry.h"
#include "host/services.h"
#include "host/shares.h"
#include "host/shell_folders.h"
#include "tools/road/machines.h"
#include "tools/road/road.h"
#include "tools/vrinsim/machine_state.h"
#include "tools/vrinsim/player.h"
#include "tools/vrinsim/report.h"
#include "tools/vrinsim/scenario.h"

namespace vrinsim {

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

const char kNoRoadFails[] = "no road fails";
const char kNothingLost[] = "nothing lost while used";
const char kCountsTrackUsers[] = "counts track users";
const char kMaskTracksProducts[] = "products mask tracks products";
const char kNothingLeftBehind[] = "nothing left behind";
const char kRepairRestores[] = "repair restores, never removes";

const char kOwnEightServer[] = "product 1's own 8.x server leaves with its major upgrade";
const char kInheritedBits[] = "the previous generation's registrations are taken over";
const char kConsoleModuleFiles[] = "the console module's other files go with the module";
const char kEarlyReleaseFiles[] = "files of releases before 7 stay beside a 7.x to 10.x server";
const char kDriverAwaitsRestart[] = "a driver due to go at the restart needs the restart first";

}  // namespace

const std::vector<Invariant>& Invariants() {
  static const std::vector<Invariant> invariants = {
      {kNoRoadFails,
       "An installation, repair or removal that nothing interferes with completes: no action returns 1603."},
      {kNothingLost,
       "While any installed product carries the server, its service and driver entries (not marked for deletion), "
       "its image and driver files (not due for deletion), the product key's ServicePath and a shared count of at "
       "least 1 for each file exist; while any carries the console, GuiPath, its image and its count do."},
      {kCountsTrackUsers,
       "Each shared file's count equals the number of installations that carry it: the products installed, and an "
       "earlier generation's installation until an upgrade takes its place."},
      {kMaskTracksProducts, "Bit n-1 of Products is set exactly while product n has the server installed."},
      {kNothingLeftBehind,
       "After the last product is removed and the machine restarted, nothing of this or an earlier generation is "
       "left (product keys, old keys, service and driver entries, share, counts, files, folders, shortcuts), and "
       "IRPstackSize is where the tuning rules leave it."},
      {kRepairRestores,
       "A repair leaves registry, services, files and share as they were, except what it puts back (a service "
       "stopped by hand running again, a deleted file restored)."},
  };
  return invariants;
}

const std::vector<DesignException>& DesignExceptions() {
  static const std::vector<DesignException> exceptions = {
      {kOwnEightServer, kCountsTrackUsers,
       "The library lowers an earlier 7.x/8.x server's counts only for products other than 1: product 1's own "
       "earlier package goes through Windows Installer's major upgrade, which lowers them; the road driver does not "
       "play that removal, so the walk counts the 8.x installation on.",
       "explore-own-eight-server"},
      {kDriverAwaitsRestart, kNothingLost,
       "Removing the last server while its driver is loaded (or its file held open) only marks the driver's "
       "entry, and its file, for deletion at the restart; an installation before that restart finds the entry "
       "marked (DRIVERPENDINGDELETION) and keeps the file that is due to go, so the restart takes the driver of "
       "the server just installed. The removal asks for the restart, and the consuming package must have it "
       "first: the walks install no server until it.",
       "explore-driver-awaits-restart"},
      {kConsoleModuleFiles, kNothingLeftBehind,
       "An upgrade over the previous generation's console lowers the counts of its skdwin.dll and skdwin.hlp, "
       "which the console module carries besides its key file and Windows Installer then counts and removes with "
       "it; the built-in package carries the key file only, so those two files stay with a count of 0.",
       "explore-console-module-files"},
      {kEarlyReleaseFiles, kNothingLeftBehind,
       "The upgrade clean-up of the 6.x releases' files (skdnt60.cli, skdnt.sys, skdnt351.sys, skdnt64.cli in "
       "the server's folder) runs only over a server older than 7; over a 7.x, 8.x or 10.x server those files "
       "are that server's own, and they stay after the last removal with the folder that holds them.",
       "explore-early-release-files"},
      {kInheritedBits, kMaskTracksProducts,
       "The first registration takes the previous generation's Products mask over: its bits stand for products "
       "of that generation and are neither required nor refused until that product installs or removes the server "
       "itself.",
       "explore-inherited-products"},
  };
  return exceptions;
}

size_t ExploreReport::TotalChecks() const {
  size_t total = 0;
  for (const auto& [name, count] : checks) total += count;
  return total;
}

namespace {

// --- The world: the machines a life starts on and what it does ---

enum class Start { kClean, kPreviousGeneration, kNineOfProductThree, kEightOfProductOne };

struct StartMachine {
  Start start;
  const char* name;
  const char* description;
  void (*seed)();
};

void SeedNothing() {}

const StartMachine kStarts[] = {
    {Start::kClean, "clean", "a clean machine", SeedNothing},
    {Start::kPreviousGeneration, "previous-generation",
     "the previous generation: server 6.61 with its driver, service and share, console 8.2, the oldest "
     "generation's settings",
     vrinroad::SeedPreviousGeneration},
    {Start::kNineOfProductThree, "product-3-nine", "product 3's server and console 9.0.10 with its share",
     vrinroad::SeedNineServerOfProductThree},
    {Start::kEightOfProductOne, "product-1-eight", "product 1's server 8.1 of the previous generation",
     vrinroad::SeedEightServerOfProductOne},
};

constexpr int kProducts = 4;

struct Op {
  enum class Kind { kInstall, kRemove, kRepair, kRestart, kStopService, kHoldDriver } kind = Kind::kRestart;
  int product = 0;
  bool server = false;   // install/remove: the server feature is asked for
  bool console = false;  // and the console feature
  bool ui = true;        // install: a user interface
  bool manual = false;   // install: STARTUPMODE Manual
};

bool IsRoad(const Op& op) {
  return op.kind == Op::Kind::kInstall || op.kind == Op::Kind::kRemove || op.kind == Op::Kind::kRepair;
}

// The walk's own record of what is installed, kept from the operations it
// played (never read back from the machine or the road driver).
struct Record {
  struct Features {
    bool server = false;
    bool console = false;
    bool Any() const { return server || console; }
  };
  std::array<Features, kProducts + 1> products{};  // 1 to 4
  // An earlier generation's installations that still count as clients of
  // the server and console files, and the earlier server's major version.
  int earlierServer = 0;
  int earlierConsole = 0;
  int earlierServerMajor = 0;
  int startServerMajor = 0;    // the earlier server the machine started with
  uint32_t untrackedBits = 0;  // Products bits the previous generation registered
  std::optional<uint32_t> irpStackSize;
  bool irpKnown = false;
  // The driver runs from a start at the end of an installation until the
  // restart; removing its last user then leaves its deletion to the restart.
  bool driverRunning = false;
  bool driverFileHeld = false;  // by another program, until the restart
  bool driverAwaitsDeletion = false;

  explicit Record(Start start) {
    switch (start) {
      case Start::kClean:
        break;
      case Start::kPreviousGeneration:
        earlierServer = earlierConsole = 1;
        earlierServerMajor = startServerMajor = 6;
        untrackedBits = 0x1;
        break;
      case Start::kNineOfProductThree:
        products[3] = {true, true};
        break;
      case Start::kEightOfProductOne:
        earlierServer = 1;
        earlierServerMajor = startServerMajor = 8;
        untrackedBits = 0x1;
        break;
    }
  }

  int ServerUsers() const {
    int users = earlierServer;
    for (const Features& product : products) users += product.server;
    return users;
  }
  int ConsoleUsers() const {
    int users = earlierConsole;
    for (const Features& product : products) users += product.console;
    return users;
  }
  bool OursCarry(bool server) const {
    return std::any_of(products.begin(), products.end(),
                       [server](const Features& product) { return server ? product.server : product.console; });
  }
  bool Empty() const { return ServerUsers() == 0 && ConsoleUsers() == 0; }

  bool Allows(const Op& op) const {
    const Features& product = products[op.product];
    switch (op.kind) {
      case Op::Kind::kInstall:
        return (op.server || op.console) && !(op.server && product.server) && !(op.console && product.console) &&
               !(op.server && driverAwaitsDeletion);
      case Op::Kind::kRemove:
        return (op.server || op.console) && (!op.server || product.server) && (!op.console || product.console);
      case Op::Kind::kRepair:
        return product.Any();
      case Op::Kind::kRestart:
        return true;
      case Op::Kind::kStopService:
      case Op::Kind::kHoldDriver:
        return ServerUsers() > 0;
    }
    return false;
  }

  // The tuning rules of a current Windows: default 15, never below 15 nor
  // raised from 50 on.
  void TuneIrp(bool raise) {
    if (!irpKnown) return;
    const uint32_t current = irpStackSize.value_or(15);
    if (raise && current < 50) irpStackSize = current + 1;
    if (!raise && current >= 16) irpStackSize = current - 1;
  }

  // What the operation changes; the design exceptions it relies on are added
  // to relied.
  void Apply(const Op& op, std::vector<const char*>& relied) {
    Features& product = products[op.product];
    const uint32_t bit = op.product > 0 ? 1u << (op.product - 1) : 0;
    if (op.kind == Op::Kind::kInstall) {
      if (op.server) {
        if (ServerUsers() == 0) TuneIrp(true);
        // An upgrade takes the earlier generation's place: below 7 for every
        // product, 7, 8 or 10 for products other than 1.
        if (earlierServer > 0 && earlierServerMajor != 0) {
          const bool replaced = earlierServerMajor < 7 || op.product != 1;
          if (replaced) earlierServer = 0;
        }
        earlierServerMajor = 0;  // the server on the machine is this generation's from now on
        driverRunning = driverRunning || op.manual;
        product.server = true;
        untrackedBits &= ~bit;
      }
      if (op.console) {
        earlierConsole = 0;  // the earlier console is 8.x: the upgrade replaces it
        product.console = true;
      }
    } else if (op.kind == Op::Kind::kRemove) {
      if (op.server) {
        product.server = false;
        untrackedBits &= ~bit;
        if (ServerUsers() == 0) {
          TuneIrp(false);
          // A loaded driver's entry is only marked for deletion, a driver
          // file in use is deleted at the restart.
          driverAwaitsDeletion = driverRunning || driverFileHeld;
        }
      }
      if (op.console) product.console = false;
    }
    if (op.kind == Op::Kind::kHoldDriver) driverFileHeld = true;
    if (op.kind == Op::Kind::kRestart) driverRunning = driverFileHeld = driverAwaitsDeletion = false;
    if (untrackedBits != 0) relied.push_back(kInheritedBits);
    if (earlierServer > 0 && earlierServerMajor == 0) relied.push_back(kOwnEightServer);
    if (driverAwaitsDeletion) relied.push_back(kDriverAwaitsRestart);
  }
};

struct Walk {
  const StartMachine* start = nullptr;
  std::vector<Op> ops;
};

bool Valid(const Walk& walk) {
  Record record(walk.start->start);
  std::vector<const char*> relied;
  for (const Op& op : walk.ops) {
    if (!record.Allows(op)) return false;
    record.Apply(op, relied);
  }
  return true;
}

// The operations the record allows next, one of which is picked.
Op NextOp(const Record& record, std::mt19937_64& random) {
  std::vector<Op> choices;
  for (int p = 1; p <= kProducts; ++p) {
    for (Op::Kind kind : {Op::Kind::kInstall, Op::Kind::kRemove}) {
      for (auto [server, console] : {std::pair{true, true}, std::pair{true, false}, std::pair{false, true}}) {
        Op op;
        op.kind = kind;
        op.product = p;
        op.server = server;
        op.console = console;
        if (record.Allows(op)) choices.push_back(op);
      }
    }
    Op repair;
    repair.kind = Op::Kind::kRepair;
    repair.product = p;
    if (record.Allows(repair)) choices.push_back(repair);
  }
  for (Op::Kind kind : {Op::Kind::kRestart, Op::Kind::kStopService, Op::Kind::kHoldDriver}) {
    Op op;
    op.kind = kind;
    if (record.Allows(op)) choices.push_back(op);
  }
  Op op = choices[std::uniform_int_distribution<size_t>(0, choices.size() - 1)(random)];
  op.ui = std::bernoulli_distribution(0.7)(random);
  op.manual = std::bernoulli_distribution(0.5)(random);
  return op;
}

// The products that still have something installed.
std::vector<int> InstalledProducts(const Record& record) {
  std::vector<int> installed;
  for (int p = 1; p <= kProducts; ++p) {
    if (record.products[p].Any()) installed.push_back(p);
  }
  return installed;
}

// Half the walks end as a machine's life ends: every product removed, then
// a restart, in the steps left.
Walk RandomWalk(std::mt19937_64& random, size_t maxSteps) {
  Walk walk;
  walk.start = &kStarts[std::uniform_int_distribution<size_t>(0, std::size(kStarts) - 1)(random)];
  Record record(walk.start->start);
  const size_t steps = std::uniform_int_distribution<size_t>(1, std::max<size_t>(1, maxSteps))(random);
  const bool lifeEnds = std::bernoulli_distribution(0.5)(random);
  std::vector<const char*> relied;
  for (size_t i = 0; i < steps; ++i) {
    const std::vector<int> installed = InstalledProducts(record);
    Op op;
    if (lifeEnds && steps - i <= installed.size() + 1) {
      if (!installed.empty()) {
        op.kind = Op::Kind::kRemove;
        op.product = installed.front();
        op.server = record.products[op.product].server;
        op.console = record.products[op.product].console;
        op.ui = std::bernoulli_distribution(0.7)(random);
      }
    } else {
      op = NextOp(record, random);
    }
    walk.ops.push_back(op);
    record.Apply(op, relied);
  }
  return walk;
}

// --- A walk as a scenario ---

std::string FeaturesAskedFor(const Op& op) {
  return op.server && op.console ? "the server and the console" : op.server ? "the server" : "the console";
}

// What a road asks of a feature the product has (has) or not.
std::string Request(const char* feature, bool asked, const char* askedWord, bool has) {
  return std::string(feature) + " = " + (asked ? askedWord : has ? "leave" : "absent") + "\n";
}

// The step of the operation, for a product whose features are as given.
std::string StepText(const Op& op, size_t number, const Record::Features& has) {
  const std::string product = std::to_string(op.product);
  std::string text = "\n[step " + std::to_string(number) + ". ";
  switch (op.kind) {
    case Op::Kind::kInstall:
      text += "Product " + product + " installs " + FeaturesAskedFor(op) + "]\nroad = install\nproducts = " + product +
              "\n";
      text +=
          Request("server", op.server, "install", has.server) + Request("console", op.console, "install", has.console);
      if (has.Any()) text += "installed = yes\n";
      if (op.manual) text += "startup-mode = Manual\n";
      break;
    case Op::Kind::kRemove:
      text +=
          "Product " + product + " removes " + FeaturesAskedFor(op) + "]\nroad = remove\nproducts = " + product + "\n";
      text +=
          Request("server", op.server, "remove", has.server) + Request("console", op.console, "remove", has.console);
      break;
    case Op::Kind::kRepair:
      text += "Product " + product + " is repaired]\nroad = repair\nproducts = " + product + "\n";
      text += Request("server", false, "", has.server) + Request("console", false, "", has.console);
      break;
    case Op::Kind::kRestart:
      return text + "The machine restarts]\nroad = restart\n";
    case Op::Kind::kStopService:
      return text + "Someone stops the server by hand]\nroad = event\nstop-service = " + vrinroad::kServiceName + "\n";
    case Op::Kind::kHoldDriver:
      return text + "A program holds the driver file open]\nroad = event\nhold-file = " + vrinroad::kDriverFile + "\n";
  }
  if (!op.ui) text += "ui = basic\n";
  return text;
}

// Writes a start machine as scenario files (machine.reg and copied files) into
// folder; the lines of scenario.txt that name them.
std::string WriteStartMachine(const StartMachine& start, const fs::path& folder) {
  host::ResetMachine();
  vrinroad::PrepareMachine();
  const MachineState standard = CaptureMachine();
  start.seed();
  const MachineState seeded = CaptureMachine();
  fs::create_directories(folder);
  std::string header = "# The machine: " + std::string(start.description) + ".\n";
  if (start.start == Start::kClean) return header;
  std::ofstream(folder / "machine.reg", std::ios::binary) << host::LocalRegistry().Export();
  header += "machine = machine.reg\n";
  int copies = 0;
  for (const auto& [path, content] : seeded.files) {
    if (path.back() == '\\') continue;
    auto old = standard.files.find(path);
    if (old != standard.files.end() && old->second == content) continue;
    if (std::optional<std::string> line = ScenarioFileLine(path, content)) {
      header += *line + "\n";
      continue;
    }
    const std::string name = "file" + std::to_string(++copies) + ".txt";
    std::ofstream(folder / name, std::ios::binary) << content;
    header += "file " + path + " = copy " + name + "\n";
  }
  for (const auto& [name, share] : seeded.shares) header += "share " + name + " = " + share.path + "\n";
  return header;
}

std::string ScenarioText(const Walk& walk, const std::string& header, const std::string& title,
                         const std::string& comment) {
  std::string text = comment + "title = " + title + "\n" + header +
                     "package = built-in\nproducts = 1\n# The consuming package removes its folders and keys when it "
                     "removes a feature: the action decides what was the last.\n"
                     "package-action after-install-finalize = VrinDeleteLeftOvers if REMOVE\n";
  Record record(walk.start->start);
  std::vector<const char*> relied;
  for (size_t i = 0; i < walk.ops.size(); ++i) {
    text += StepText(walk.ops[i], i + 1, record.products[walk.ops[i].product]);
    record.Apply(walk.ops[i], relied);
  }
  return text;
}

// --- The invariants ---

struct Breach {
  std::string invariant;
  std::string what;
  size_t step = 0;  // from 1
};

std::string Fold(const std::string& text) { return host::FoldCase(text); }

bool PendingDeletion(const std::string& path) {
  for (const std::string& pending : PendingDeletions()) {
    if (Fold(pending) == Fold(path)) return true;
  }
  return false;
}

std::string Join(const std::string& folder, const std::string& name) {
  return folder + (!folder.empty() && folder.back() == '\\' ? "" : "\\") + name;
}

std::string CountText(const std::optional<uint32_t>& count) {
  return count ? std::to_string(*count) : std::string("none");
}

// The file's name, folded.
std::string FileName(const std::string& path) { return Fold(path.substr(path.rfind('\\') + 1)); }

// The files below a folder, in their Windows spelling.
std::vector<std::string> FilesUnder(const std::string& folder) {
  std::vector<std::string> files;
  const std::string prefix = Fold(folder) + "\\";
  host::Files().ForEach([&](const host::FileLocation& location, const std::string* content) {
    const std::string path = location.WindowsPath();
    if (content != nullptr && Fold(path).rfind(prefix, 0) == 0) files.push_back(path);
  });
  return files;
}

// The previous generation's console files that this generation's console
// module carries besides its key file (the counts the upgrade lowers).
bool ConsoleModuleFile(const std::string& name) { return name == "skdwin.dll" || name == "skdwin.hlp"; }

// The files of releases before 7 that an upgrade cleans up only over a
// server older than 7.
bool EarlyReleaseFile(const std::string& name) {
  return name == "skdnt60.cli" || name == "skdnt.sys" || name == "skdnt351.sys" || name == "skdnt64.cli";
}

class Checker {
 public:
  Checker(ExploreReport& report, const Record& record, std::vector<const char*>& relied)
      : report_(report), record_(record), relied_(relied) {}

  void Check(const char* invariant) { ++report_.checks[invariant]; }

  void NoRoadFails(const StepResult& step, std::vector<Breach>& out) {
    Check(kNoRoadFails);
    if (step.failed)
      out.push_back({kNoRoadFails, "the road failed: " + step.failure.substr(0, step.failure.find('\n'))});
  }

  void NothingLost(std::vector<Breach>& out) {
    Check(kNothingLost);
    std::vector<std::string> lost;
    host::Registry& registry = host::LocalRegistry();
    if (record_.OursCarry(true)) {
      for (const char* service : {vrinroad::kServiceName, vrinroad::kDriverName}) {
        if (!host::Services().Exists(service)) {
          lost.push_back(std::string("the service entry ") + service + " is gone");
        } else if (host::Services().MarkedForDeletion(service)) {
          lost.push_back(std::string("the service entry ") + service + " is marked for deletion");
        }
      }
      FileInUse(vrinroad::kDriverFile, lost);
    }
    if (record_.OursCarry(true)) {
      std::optional<std::string> image = registry.String(vrinroad::kProductKey, "ServicePath");
      if (!image || image->empty()) {
        lost.push_back("the product key has no ServicePath");
      } else {
        FileInUse(*image, lost);
      }
    }
    if (record_.OursCarry(false)) {
      std::optional<std::string> folder = registry.String(vrinroad::kProductKey, "GuiPath");
      if (!folder || folder->empty()) {
        lost.push_back("the product key has no GuiPath");
      } else {
        FileInUse(Join(*folder, "skdwin.exe"), lost);
      }
    }
    for (const std::string& what : lost) out.push_back({kNothingLost, what + " while a product uses it"});
  }

  void CountsTrackUsers(std::vector<Breach>& out) {
    Check(kCountsTrackUsers);
    auto compare = [&](const std::string& file, int users) {
      std::optional<uint32_t> count = vrinroad::SharedCount(file);
      if (count.value_or(0) != static_cast<uint32_t>(users)) {
        out.push_back({kCountsTrackUsers, "the count of " + file + " is " + CountText(count) + " with " +
                                              Count(users, "installation") + " carrying it"});
      }
    };
    compare(vrinroad::kDriverFile, record_.ServerUsers());
    if (std::optional<std::string> image = RegisteredPath("ServicePath")) compare(*image, record_.ServerUsers());
    if (std::optional<std::string> folder = RegisteredPath("GuiPath")) {
      compare(Join(*folder, "skdwin.exe"), record_.ConsoleUsers());
    }
  }

  void MaskTracksProducts(std::vector<Breach>& out) {
    Check(kMaskTracksProducts);
    const uint32_t mask = host::LocalRegistry().Dword(vrinroad::kProductKey, "Products").value_or(0);
    for (int n = 1; n <= 32; ++n) {
      const uint32_t bit = 1u << (n - 1);
      if (record_.untrackedBits & bit) continue;
      const bool carries = n <= kProducts && record_.products[n].server;
      if (((mask & bit) != 0) == carries) continue;
      char text[128];
      snprintf(text, sizeof(text), "Products is 0x%X: bit %d is %s while product %d %s the server", mask, n - 1,
               carries ? "clear" : "set", n, carries ? "has" : "does not have");
      out.push_back({kMaskTracksProducts, text});
    }
  }

  void NothingLeftBehind(std::vector<Breach>& out) {
    Check(kNothingLeftBehind);
    std::vector<std::string> left;
    host::Registry& registry = host::LocalRegistry();
    for (const char* key :
         {vrinroad::kProductParentKey, vrinroad::kOldKey, "HKEY_LOCAL_MACHINE\\Software\\Tarrow ATG"}) {
      if (registry.Find(key)) left.push_back(std::string("the key ") + key);
    }
    for (const char* service : {vrinroad::kServiceName, vrinroad::kDriverName}) {
      if (host::Services().Exists(service)) left.push_back(std::string("the service entry ") + service);
    }
    for (const host::ShareRecord& share : host::Shares::Instance().All()) {
      if (Fold(share.Name()) == Fold(vrinroad::kShareName)) left.push_back("the share " + share.Name());
    }
    bool excused = false;
    if (auto counts = registry.Find(vrinroad::kSharedDllsKey)) {
      for (const host::RegValue& value : counts->Values()) {
        const std::string name = FileName(value.name);
        if (name != "skdnt.exe" && name != "skdnt.sys" && name != "skdwin.exe" && !ConsoleModuleFile(name)) continue;
        const std::optional<uint32_t> count = vrinroad::SharedCount(value.name);
        if (ConsoleModuleFile(name) && count.value_or(0) == 0) {
          excused = true;
        } else {
          left.push_back("the count of " + value.name + " (" + CountText(count) + ")");
        }
      }
    }
    const std::string programs = host::ShellFolders::Instance().CommonPrograms();
    for (const std::string& path :
         {std::string("C:\\Program Files\\Lumicor Velmora"), std::string("C:\\Program Files\\Orvannic"),
          std::string("C:\\Program Files\\Velmora"), std::string(vrinroad::kDriverFile),
          std::string("C:\\WINDOWS\\skdwin.ini"), programs + "\\Velmora.lnk", programs + "\\Velmora"}) {
      if (!host::Files().Exists(path)) continue;
      if (!host::Files().IsDirectory(path)) {
        left.push_back("the file " + path);
        continue;
      }
      std::vector<std::string> files = FilesUnder(path);
      auto unexcused = std::find_if(files.begin(), files.end(), [&](const std::string& file) {
        if (ConsoleModuleFile(FileName(file))) {
          excused = true;
          return false;
        }
        if (record_.startServerMajor >= 7 && EarlyReleaseFile(FileName(file))) {
          relied_.push_back(kEarlyReleaseFiles);
          return false;
        }
        return true;
      });
      if (files.empty() || unexcused != files.end()) {
        left.push_back("the folder " + path + (files.empty() ? "" : " with " + *unexcused));
      }
    }
    if (excused) relied_.push_back(kConsoleModuleFiles);
    const std::optional<uint32_t> irp = registry.Dword(vrinroad::kLanmanParametersKey, "IRPstackSize");
    if (record_.irpKnown && irp != record_.irpStackSize) {
      left.push_back("IRPstackSize " + CountText(irp) + " where the tuning rules leave " +
                     CountText(record_.irpStackSize));
    }
    for (const std::string& what : left) out.push_back({kNothingLeftBehind, what + " is left after the last removal"});
  }

  void RepairRestores(const MachineState& before, std::vector<Breach>& out) {
    Check(kRepairRestores);
    const MachineState after = CaptureMachine();
    std::vector<std::string> removed;
    for (const auto& [key, values] : before.registry) {
      auto now = after.registry.find(key);
      if (now == after.registry.end()) {
        removed.push_back("the key " + key + " is gone");
        continue;
      }
      for (const auto& [name, data] : values) {
        auto value = now->second.find(name);
        if (value == now->second.end()) {
          removed.push_back("the value " + key + "\\" + name + " is gone");
        } else if (value->second != data) {
          removed.push_back("the value " + key + "\\" + name + " changed from " + data + " to " + value->second);
        }
      }
    }
    for (const auto& [name, service] : before.services) {
      auto now = after.services.find(name);
      if (now == after.services.end() || (now->second.markedForDeletion && !service.markedForDeletion)) {
        removed.push_back("the service " + name + " is gone or marked for deletion");
      } else if (now->second.state != service.state && now->second.state != "running") {
        removed.push_back("the service " + name + " went from " + service.state + " to " + now->second.state);
      }
    }
    for (const auto& [path, content] : before.files) {
      auto now = after.files.find(path);
      if (now == after.files.end()) {
        removed.push_back("the file " + path + " is gone");
      } else if (now->second != content) {
        removed.push_back("the file " + path + " changed");
      }
    }
    for (const std::string& path : NewPendingDeletions(before, after)) {
      removed.push_back(path + " is due for deletion at the next restart");
    }
    for (const auto& [name, share] : before.shares) {
      auto now = after.shares.find(name);
      if (now == after.shares.end() || now->second.path != share.path)
        removed.push_back("the share " + name + " is gone or moved");
    }
    for (const std::string& what : removed) out.push_back({kRepairRestores, what + " after the repair"});
  }

 private:
  void FileInUse(const std::string& file, std::vector<std::string>& lost) {
    if (!host::Files().Exists(file)) {
      lost.push_back("the file " + file + " is gone");
    } else if (PendingDeletion(file)) {
      lost.push_back("the file " + file + " is due for deletion at the next restart");
    }
    std::optional<uint32_t> count = vrinroad::SharedCount(file);
    if (count.value_or(0) < 1) lost.push_back("the count of " + file + " is " + CountText(count));
  }

  // The path the product key registers, else the previous generation's key.
  static std::optional<std::string> RegisteredPath(const char* value) {
    for (const char* key : {vrinroad::kProductKey, vrinroad::kOldKey}) {
      std::optional<std::string> path = host::LocalRegistry().String(key, value);
      if (path && !path->empty()) return path;
    }
    return std::nullopt;
  }

  ExploreReport& report_;
  const Record& record_;
  std::vector<const char*>& relied_;
};

// --- Playing walks ---

// The walks' scenario folders, one per start machine, in a temporary folder.
class WalkFolders {
 public:
  WalkFolders() {
    char pattern[] = "/tmp/vrinsim-explore-XXXXXX";
    if (mkdtemp(pattern) == nullptr) throw std::runtime_error("no temporary folder for the walks' scenarios");
    path_ = pattern;
    for (const StartMachine& start : kStarts) headers_.push_back(WriteStartMachine(start, path_ / start.name));
  }
  ~WalkFolders() {
    std::error_code ignored;
    fs::remove_all(path_, ignored);
  }
  WalkFolders(const WalkFolders&) = delete;
  WalkFolders& operator=(const WalkFolders&) = delete;

  fs::path Folder(const StartMachine& start) const { return path_ / start.name; }
  const std::string& Header(const StartMachine& start) const { return headers_[&start - kStarts]; }

 private:
  fs::path path_;
  std::vector<std::string> headers_;
};

struct WalkOutcome {
  std::optional<Breach> breach;
  size_t steps = 0;
  size_t roads = 0;
  std::vector<const char*> relied;
};

// Plays the walk as its scenario, checking the invariants after each step;
// the first step that breaks one ends it.
WalkOutcome PlayWalk(const Walk& walk, const WalkFolders& folders, ExploreReport& report) {
  const fs::path folder = folders.Folder(*walk.start);
  std::ofstream(folder / "scenario.txt", std::ios::binary | std::ios::trunc)
      << ScenarioText(walk, folders.Header(*walk.start), "A walk of vrinsim explore", "");
  const Scenario scenario = LoadScenario(folder.string());
  if (!scenario.problems.empty()) throw ScenarioError(scenario.problems);
  Record record(walk.start->start);
  WalkOutcome outcome;
  Checker checker(report, record, outcome.relied);
  std::optional<MachineState> beforeRepair;
  auto observe = [&](size_t played, const StepResult* last) {
    if (played == 0) {
      record.irpStackSize = host::LocalRegistry().Dword(vrinroad::kLanmanParametersKey, "IRPstackSize");
      record.irpKnown = true;
    } else {
      const Op& op = walk.ops[played - 1];
      ++outcome.steps;
      outcome.roads += IsRoad(op);
      record.Apply(op, outcome.relied);
      std::vector<Breach> breaches;
      if (IsRoad(op)) checker.NoRoadFails(*last, breaches);
      checker.NothingLost(breaches);
      checker.CountsTrackUsers(breaches);
      checker.MaskTracksProducts(breaches);
      if (op.kind == Op::Kind::kRestart && record.Empty()) checker.NothingLeftBehind(breaches);
      if (op.kind == Op::Kind::kRepair && beforeRepair) checker.RepairRestores(*beforeRepair, breaches);
      if (!breaches.empty()) {
        outcome.breach = breaches.front();
        outcome.breach->step = played;
        return false;
      }
    }
    beforeRepair.reset();
    if (played < walk.ops.size() && walk.ops[played].kind == Op::Kind::kRepair) beforeRepair = CaptureMachine();
    return true;
  };
  Play(scenario, kAllSteps, observe);
  return outcome;
}

// The shortest walk found that still breaks the invariant: steps dropped one
// at a time, then each road's user interface and start-up mode made plain.
Walk Shrink(Walk walk, Breach& breach, const WalkFolders& folders) {
  ExploreReport scratch;
  walk.ops.resize(breach.step);
  auto stillBreaks = [&](Walk& candidate) {
    if (candidate.ops.empty() || !Valid(candidate)) return false;
    WalkOutcome outcome = PlayWalk(candidate, folders, scratch);
    if (!outcome.breach || outcome.breach->invariant != breach.invariant) return false;
    candidate.ops.resize(outcome.breach->step);
    breach = *outcome.breach;
    return true;
  };
  for (bool shorter = true; shorter;) {
    shorter = false;
    for (size_t i = walk.ops.size(); i-- > 0;) {
      Walk candidate = walk;
      candidate.ops.erase(candidate.ops.begin() + static_cast<std::ptrdiff_t>(i));
      if (!stillBreaks(candidate)) continue;
      walk = candidate;
      shorter = true;
      i = std::min(i, walk.ops.size());
    }
  }
  for (size_t i = 0; i < walk.ops.size(); ++i) {
    Walk candidate = walk;
    candidate.ops[i].ui = true;
    candidate.ops[i].manual = false;
    if ((candidate.ops[i].ui != walk.ops[i].ui || candidate.ops[i].manual != walk.ops[i].manual) &&
        stillBreaks(candidate) && candidate.ops.size() == walk.ops.size()) {
      walk = candidate;
    }
  }
  return walk;
}

std::string Slug(const std::string& text) {
  std::string slug;
  for (char c : text) {
    if (std::isalnum(static_cast<unsigned char>(c))) {
      slug += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    } else if (!slug.empty() && slug.back() != '-') {
      slug += '-';
    }
  }
  while (!slug.empty() && slug.back() == '-') slug.pop_back();
  return slug;
}

// Writes the shrunk walk as a scenario folder of its own under the findings
// folder (a new one: nothing there is overwritten); its path.
std::string WriteFinding(const Walk& walk, const Breach& breach, const ExploreOptions& options, size_t walkNumber,
                         const WalkFolders& folders) {
  fs::path folder = fs::path(options.findingsFolder) / Slug(breach.invariant);
  for (int n = 2; fs::exists(folder); ++n) {
    folder = fs::path(options.findingsFolder) / (Slug(breach.invariant) + "-" + std::to_string(n));
  }
  fs::create_directories(folder);
  for (const auto& entry : fs::directory_iterator(folders.Folder(*walk.start))) {
    if (entry.path().filename() != "scenario.txt") fs::copy_file(entry.path(), folder / entry.path().filename());
  }
  const std::string comment = "# Found by vrinsim explore --seed " + std::to_string(options.seed) + " (walk " +
                              std::to_string(walkNumber) + "), shrunk: its last step breaks \"" + breach.invariant +
                              "\":\n# " + breach.what + "\n";
  std::ofstream(folder / "scenario.txt", std::ios::binary)
      << ScenarioText(walk, folders.Header(*walk.start), "Explorer finding: " + breach.invariant, comment);
  return folder.string();
}

double SecondsSince(Clock::time_point start) { return std::chrono::duration<double>(Clock::now() - start).count(); }

}  // namespace

ExploreReport Explore(const ExploreOptions& options) {
  ExploreReport report;
  report.seed = options.seed;
  for (const Invariant& invariant : Invariants()) report.checks[invariant.name] = 0;
  const WalkFolders folders;
  std::mt19937_64 random(options.seed);
  double shrinking = 0;
  const Clock::time_point start = Clock::now();
  for (size_t number = 1; number <= options.walks; ++number) {
    const Walk walk = RandomWalk(random, options.steps);
    const WalkOutcome outcome = PlayWalk(walk, folders, report);
    ++report.walks;
    report.steps += outcome.steps;
    report.roads += outcome.roads;
    for (const char* name : outcome.relied) ++report.exceptionsRelied[name];
    if (outcome.breach) {
      auto known = std::find_if(report.findings.begin(), report.findings.end(),
                                [&](const Finding& finding) { return finding.invariant == outcome.breach->invariant; });
      if (known != report.findings.end()) {
        ++known->walksBreakingIt;
      } else {
        const Clock::time_point shrinkStart = Clock::now();
        Breach breach = *outcome.breach;
        const Walk shrunk = Shrink(walk, breach, folders);
        Finding finding;
        finding.invariant = breach.invariant;
        finding.what = breach.what;
        finding.walk = number;
        finding.walkSteps = walk.ops.size();
        finding.shrunkSteps = shrunk.ops.size();
        finding.walksBreakingIt = 1;
        finding.scenarioFolder = WriteFinding(shrunk, breach, options, number, folders);
        report.findings.push_back(finding);
        shrinking += SecondsSince(shrinkStart);
      }
    }
    if (options.progress) options.progress(number);
  }
  report.wallSeconds = SecondsSince(start) - shrinking;
  return report;
}

std::string ExploreText(const ExploreReport& report) {
  std::ostringstream out;
  char rate[64];
  snprintf(rate, sizeof(rate), "%.1f", report.wallSeconds > 0 ? report.roads / report.wallSeconds : 0.0);
  char seconds[64];
  snprintf(seconds, sizeof(seconds), "%.1f", report.wallSeconds);
  out << "=== vrinsim explore, seed " << report.seed << " ===\n";
  out << Count(report.walks, "walk") << ", " << Count(report.steps, "step") << " (" << Count(report.roads, "road")
      << "), " << seconds << " s: " << rate << " roads/s; " << Count(report.TotalChecks(), "invariant check")
      << "\n\nInvariants:\n";
  for (const Invariant& invariant : Invariants()) {
    auto finding = std::find_if(report.findings.begin(), report.findings.end(),
                                [&](const Finding& f) { return f.invariant == invariant.name; });
    auto checks = report.checks.find(invariant.name);
    out << "  " << invariant.name << ": " << Count(checks == report.checks.end() ? 0 : checks->second, "check") << ", "
        << (finding == report.findings.end() ? "held" : "BROKEN") << "\n";
  }
  if (!report.exceptionsRelied.empty()) {
    out << "\nDesign exceptions the walks relied on:\n";
    for (const DesignException& exception : DesignExceptions()) {
      auto relied = report.exceptionsRelied.find(exception.name);
      if (relied == report.exceptionsRelied.end()) continue;
      out << "  " << exception.name << " (" << exception.invariant << "): " << Count(relied->second, "step")
          << "; scenario " << exception.scenario << "\n";
    }
  }
  for (const Finding& finding : report.findings) {
    out << "\nBROKEN: " << finding.invariant << "\n  " << finding.what << "\n  first by walk " << finding.walk << " ("
        << Count(finding.walkSteps, "step") << "), shrunk to " << Count(finding.shrunkSteps, "step") << "; "
        << Count(finding.walksBreakingIt, "walk") << " broke it\n  replay: vrinsim run " << finding.scenarioFolder
        << "\n";
  }
  out << "\nVerdict: "
      << (report.findings.empty() ? "every invariant held" : Count(report.findings.size(), "invariant") + " broken")
      << "\n";
  return out.str();
}

std::string ExploreHelp() {
  std::string text = "Invariants of explore, checked after every step:\n";
  for (const Invariant& invariant : Invariants()) {
    text += "  " + std::string(invariant.name) + ": " + invariant.sentence + "\n";
  }
  text += "Design exceptions (named in the report when a walk relies on one):\n";
  for (const DesignException& exception : DesignExceptions()) {
    text += "  " + std::string(exception.name) + " (" + exception.invariant + "): " + exception.why + "\n";
  }
  return text;
}

}  // namespace vrinsim
