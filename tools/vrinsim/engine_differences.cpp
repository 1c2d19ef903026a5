#include "tools/vrinsim/engine_differences.h"

#include <algorithm>
#include <cctype>
#include <cstdint>
#include <initializer_list>
#include <map>
#include <utility>

namespace vrinsim {

namespace {

const char kTraceMark[] = "OV VRIN : ";

bool StartsWith(const std::string& text, const std::string& start) { return text.rfind(start, 0) == 0; }
bool EndsWith(const std::string& text, const std::string& end) {
  return text.size() >= end.size() && text.compare(text.size() - end.size(), end.size(), end) == 0;
}

// What an engine wrote before the library's text: "ERR: ", "WARN: " or nothing.
std::string MarkerOf(const std::string& line) {
  const size_t mark = line.find(kTraceMark);
  return mark == std::string::npos ? line : line.substr(0, mark);
}

// Whether a line of the step's log satisfies test, asked of the lines in order.
template <typename Test>
bool LogHas(const StepResult* step, Test test) {
  if (step == nullptr) return false;
  for (const std::string& line : LogLines(step->log)) {
    if (test(line)) return true;
  }
  return false;
}

// Whether the step's log carries the failure report of that head (the
// library's text, "Action : error") and context: the report's CONTEXT line
// follows its head after a blank line.
bool HasReport(const StepResult* step, const std::string& head, const std::string& context) {
  size_t sinceHead = 3;  // lines since the last head line; 3 for none near
  return LogHas(step, [&](const std::string& line) {
    if (sinceHead < 3 && line.find("CONTEXT = " + context) != std::string::npos) return true;
    sinceHead = LibraryText(line) == head ? 1 : sinceHead + 1;
    return false;
  });
}

// A log difference shown by Wine only, whose text contains every part.
bool OnlyOnWine(const Difference& difference, std::initializer_list<const char*> parts) {
  if (difference.area != "log" || difference.wine.empty() || !difference.simulated.empty()) return false;
  return std::all_of(parts.begin(), parts.end(),
                     [&](const char* part) { return difference.wine.find(part) != std::string::npos; });
}

// A service's or registry value's text without what Wine's service manager
// writes differently: the image path's quotes and its value type
// (REG_EXPAND_SZ on Windows, REG_SZ on Wine).
std::string ServiceText(const std::string& text) {
  std::string plain;
  for (size_t i = 0; i < text.size(); ++i) {
    if (text.compare(i, 7, "expand:") == 0) {
      i += 6;
    } else if (text.compare(i, 2, "\\\"") == 0) {
      i += 1;
    } else if (text[i] != '"') {
      plain += text[i];
    }
  }
  return plain;
}

// A service the simulated engine ran and Wine left stopped: the simulated
// change ends in "running", Wine's is the same ending in "stopped" or, for
// a start of a service that existed, there is none.
bool RunningOnlySimulated(const Difference& difference) {
  if (difference.area != "service" || !difference.simulatedChange) return false;
  const MachineChange& simulated = *difference.simulatedChange;
  const std::string running = "running";
  if (!EndsWith(simulated.after, running)) return false;
  if (!difference.wineChange) return simulated.what == "state";
  const MachineChange& wine = *difference.wineChange;
  return wine.what == simulated.what &&
         ServiceText(wine.after) ==
             ServiceText(simulated.after.substr(0, simulated.after.size() - running.size()) + "stopped");
}

// A "dword:0000000a" .reg text's number.
std::optional<uint32_t> Dword(const std::string& text) {
  const std::string prefix = "dword:";
  if (!StartsWith(text, prefix) || text.size() != prefix.size() + 8 ||
      text.find_first_not_of("0123456789abcdefABCDEF", prefix.size()) != std::string::npos) {
    return std::nullopt;
  }
  return static_cast<uint32_t>(std::stoul(text.substr(prefix.size()), nullptr, 16));
}

bool IsSharedDllsValue(const MachineChange& change) {
  return change.area == "registry" && EndsWith(Lower(change.key), "\\microsoft\\windows\\currentversion\\shareddlls");
}

bool InfoFormattedTwice(const Difference& difference, const StepResult*, const StepResult*) {
  if (difference.area != "log" || difference.simulated.empty() || difference.wine.empty()) return false;
  const std::string simulated = LibraryText(difference.simulated);
  const std::string wine = LibraryText(difference.wine);
  return !simulated.empty() && simulated != wine && MarkerOf(difference.simulated) == MarkerOf(difference.wine) &&
         FormattedOnceMore(simulated) == wine;
}

bool ErrorTableMarkers(const Difference& difference, const StepResult*, const StepResult*) {
  if (difference.area != "log" || difference.simulated.empty() || difference.wine.empty()) return false;
  const std::string simulated = LibraryText(difference.simulated);
  if (simulated.empty() || simulated != LibraryText(difference.wine)) return false;
  const std::string markers[] = {MarkerOf(difference.simulated), MarkerOf(difference.wine)};
  auto isMarker = [](const std::string& marker) { return marker == "ERR: " || marker == "WARN: "; };
  return (isMarker(markers[0]) && markers[1].empty()) || (markers[0].empty() && isMarker(markers[1]));
}

bool SystemMessageTexts(const Difference& difference, const StepResult*, const StepResult*) {
  const std::string description = "DESCRIPTION = ";
  return difference.area == "log" && StartsWith(difference.simulated, description) &&
         StartsWith(difference.wine, description);
}

bool FailedActionReturnValue(const Difference& difference, const StepResult*, const StepResult*) {
  if (difference.area != "log") return false;
  const std::string simulated = ActionLine(difference.simulated);
  const std::string failed = ". Return value 3.";
  return EndsWith(simulated, failed) &&
         ActionLine(difference.wine) == simulated.substr(0, simulated.size() - failed.size()) + ". Return value 0.";
}

bool NoNetworkServer(const Difference& difference, const StepResult*, const StepResult*) {
  if (difference.area == "share") return difference.wine.empty();
  if (difference.area != "log") return false;
  const std::string simulated = LibraryText(difference.simulated);
  const std::string wine = LibraryText(difference.wine);
  if (StartsWith(simulated, "AddShare(") && EndsWith(simulated, "  -> 0")) {
    return wine == simulated.substr(0, simulated.size() - 1) + "50";
  }
  return OnlyOnWine(difference, {"OV VRIN : Error 50 getting share info for '"}) ||
         OnlyOnWine(difference, {"OV VRIN : Error 50 in param ", " adding share '"});
}

bool NoFilterDriver(const Difference& difference, const StepResult*, const StepResult* wine) {
  const std::string head = "VrinNTStartVrin : 1114";
  const std::string context = "VrinNTStartVrin : StartService (1)";
  if (!HasReport(wine, head, context)) return false;
  // The failed start reads the start-up mode it then changes.
  const std::string read = LibraryText(difference.wine);
  if (difference.area == "log" && difference.simulated.empty() &&
      (read == "InstallGetProperty -> STARTUPMODE" || StartsWith(read, "InstallGetProperty <- ("))) {
    return true;
  }
  if (difference.area == "property") return difference.subject == "STARTUPMODE" && difference.wine == "NeedReboot";
  if (difference.area == "service") {
    return (difference.subject == "SKDDriver" || difference.subject == "Skelda") && RunningOnlySimulated(difference);
  }
  return OnlyOnWine(difference, {head.c_str(), context.c_str()}) ||
         (OnlyOnWine(difference, {"Set STARTUPMODE=NeedReboot"}) &&
          LibraryText(difference.wine) == "Set STARTUPMODE=NeedReboot");
}

bool ServiceImageNoProgram(const Difference& difference, const StepResult*, const StepResult* wine) {
  const std::pair<const char*, const char*> starts[] = {
      {"VrinNTUninstallService : 193", "VrinNTUninstallService : StartService"},
      {"VrinNTStartVrin : 193", "VrinNTStartVrin : StartService (2)"}};
  for (const auto& [head, context] : starts) {
    if (!HasReport(wine, head, context)) continue;
    if (difference.area == "service") return difference.subject == "Skelda" && RunningOnlySimulated(difference);
    if (OnlyOnWine(difference, {head, context})) return true;
  }
  return false;
}

// The key files whose shared count the simulated step leaves above 0 and
// which Wine deleted in the step, in lower case.
std::vector<std::string> CountedFilesWineRemoved(const StepResult* simulated, const StepResult* wine) {
  std::vector<std::string> files;
  if (simulated == nullptr || wine == nullptr) return files;
  for (const MachineChange& change : wine->machineChanges) {
    if (change.area != "file" || change.what != "deleted") continue;
    const std::string path = Lower(change.key);
    const bool counted =
        std::any_of(simulated->machineChanges.begin(), simulated->machineChanges.end(), [&](const MachineChange& c) {
          std::optional<uint32_t> count = Dword(c.after);
          return IsSharedDllsValue(c) && Lower(ValueName(c.name)) == path && count && *count > 0;
        });
    if (counted) files.push_back(path);
  }
  return files;
}

bool ComponentRemovedWhileCounted(const Difference& difference, const StepResult* simulated, const StepResult* wine) {
  if (!difference.simulated.empty() || !difference.wineChange) return false;
  const MachineChange& change = *difference.wineChange;
  const std::vector<std::string> removed = CountedFilesWineRemoved(simulated, wine);
  if (difference.area == "file") {
    return change.what == "deleted" &&
           std::find(removed.begin(), removed.end(), Lower(difference.subject)) != removed.end();
  }
  // The component's registry values go with it: those that name its key file
  // or the file's folder.
  if (difference.area != "registry" || change.what != "value deleted") return false;
  const std::string data = Lower(ValueName(change.before));
  return std::any_of(removed.begin(), removed.end(), [&](const std::string& file) {
    const std::string folder = file.substr(0, file.rfind('\\') + 1);
    return !data.empty() && (data == file || data == folder || data + "\\" == folder);
  });
}

// "... <- 2" against "... <- 1", "X = 2" against "X = 1": the same text
// ending in a number one above.
bool OneAbove(const std::string& simulated, const std::string& wine) {
  // Where each text's final number starts.
  auto numberAt = [](const std::string& text) {
    const size_t last = text.find_last_not_of("0123456789");
    return last == std::string::npos ? 0 : last + 1;
  };
  const size_t a = numberAt(simulated), b = numberAt(wine);
  if (a == simulated.size() || b == wine.size() || a != b || simulated.compare(0, a, wine, 0, b) != 0 ||
      simulated.size() - a > 9 || wine.size() - b > 9) {
    return false;
  }
  return std::stoul(wine.substr(b)) == std::stoul(simulated.substr(a)) + 1;
}

bool ComponentCountedOnceMore(const Difference& difference, const StepResult*, const StepResult* wine) {
  // The count itself: changed on Wine only, or to one above.
  if (difference.wineChange && IsSharedDllsValue(*difference.wineChange)) {
    std::optional<uint32_t> now = Dword(difference.wineChange->after);
    std::optional<uint32_t> simulated =
        difference.simulatedChange ? Dword(difference.simulatedChange->after) : Dword(difference.wineChange->before);
    return now && simulated && *now == *simulated + 1;
  }
  // The console's count read and handed on by the actions, in a step that
  // reads it.
  if (difference.area == "property") {
    return difference.subject == "GUIREFCOUNTER" && OneAbove(difference.simulated, difference.wine);
  }
  const bool readsCount =
      LogHas(wine, [](const std::string& line) { return LibraryText(line) == "GUIReadRefCounter ->"; });
  return readsCount && difference.area == "log" &&
         OneAbove(LibraryText(difference.simulated), LibraryText(difference.wine));
}

bool IsKeyUnder(const Difference& difference, const std::string& lowerPart) {
  return Lower(difference.subject).find(lowerPart) != std::string::npos;
}

bool WineServiceManager(const Difference& difference, const StepResult*, const StepResult*) {
  if (difference.area == "registry" && IsKeyUnder(difference, "\\currentcontrolset\\services\\")) {
    const std::string name = difference.wineChange ? difference.wineChange->name : "";
    if (difference.simulated.empty() && (name == "\"ObjectName\"" || name == "\"PreshutdownTimeout\"")) return true;
    if (!difference.simulatedChange || !difference.wineChange) return false;
    const MachineChange& simulated = *difference.simulatedChange;
    const MachineChange& wine = *difference.wineChange;
    return simulated.what == wine.what && ServiceText(simulated.before) == ServiceText(wine.before) &&
           ServiceText(simulated.after) == ServiceText(wine.after);
  }
  if (difference.area == "service" && difference.simulatedChange && difference.wineChange) {
    return ServiceText(difference.simulated) == ServiceText(difference.wine);
  }
  return false;
}

bool WindowsFolderSpelling(const Difference& difference, const StepResult*, const StepResult*) {
  if (difference.simulated.empty() || difference.simulated.find("C:\\WINDOWS") == std::string::npos) return false;
  // A log line may also be one Wine formatted once more.
  const std::string simulated = LibraryText(difference.simulated);
  if (difference.area == "log" && !simulated.empty()) {
    return Lower(FormattedOnceMore(simulated)) == Lower(LibraryText(difference.wine));
  }
  return difference.simulated != difference.wine && Lower(difference.simulated) == Lower(difference.wine);
}

bool NoDriverImage(const Difference& difference, const StepResult* simulated, const StepResult*) {
  const std::string driver = "c:\\windows\\system32\\drivers\\skdnt.sys";
  const std::optional<MachineChange>& change =
      difference.simulatedChange ? difference.simulatedChange : difference.wineChange;
  if (difference.area == "file") {
    // Deleted on both: only the simulated one had a version to show.
    return Lower(difference.subject) == driver &&
           (difference.wine.empty() || (difference.simulatedChange && difference.wineChange &&
                                        difference.simulatedChange->what == difference.wineChange->what));
  }
  if (difference.area == "registry" && change) {
    // The value's name as a .reg file writes it: quoted, backslashes doubled.
    std::string name;
    for (char c : change->name) {
      if (c != '"' && !(c == '\\' && !name.empty() && name.back() == '\\')) name += c;
    }
    return IsSharedDllsValue(*change) && Lower(name) == driver;
  }
  // The library reads and writes back the driver's count, one lower on Wine.
  if (difference.area != "log" || difference.simulated.empty() || difference.wine.empty()) return false;
  const std::string sharedDriver = "shareddlls\\" + driver;
  const std::string a = Lower(LibraryText(difference.simulated)), b = Lower(LibraryText(difference.wine));
  if (a.find(sharedDriver) != std::string::npos) return a.substr(0, a.find(" = ")) == b.substr(0, b.find(" = "));
  const bool readsDriverCount = LogHas(simulated, [&](const std::string& line) {
    return Lower(LibraryText(line))
               .find("installgetregvalue -> " + std::string("software\\microsoft\\windows\\currentversion\\") +
                     sharedDriver) != std::string::npos;
  });
  return readsDriverCount && StartsWith(a, "installgetregvalue <- ") && OneAbove(b, a);
}

// The removal's own deletion of the driver image: the simulated one finds it
// gone (its RemoveFiles took the component's image), Wine's deletes the
// earlier image its package did not replace.
bool DriverImageDeletedByTheLibrary(const Difference& difference, const StepResult* simulated, const StepResult* wine) {
  if (difference.area != "log" || wine == nullptr) return false;
  const bool deletesDriver = LogHas(simulated, [](const std::string& line) {
    return Lower(LibraryText(line)) == "installdeletefile -> c:\\windows\\system32\\drivers\\skdnt.sys";
  });
  const bool driverGoneOnWine =
      std::any_of(wine->machineChanges.begin(), wine->machineChanges.end(), [](const MachineChange& change) {
        return change.area == "file" && change.what == "deleted" &&
               Lower(change.key) == "c:\\windows\\system32\\drivers\\skdnt.sys";
      });
  if (!deletesDriver || !driverGoneOnWine) return false;
  if (LibraryText(difference.simulated) == "InstallDeleteFile <- not deleted") {
    return LibraryText(difference.wine) == "InstallDeleteFile <- deleted";
  }
  return difference.wine.empty() && StartsWith(difference.simulated,
                                               "ERR: OV VRIN : InstallDeleteFile : 2 / CONTEXT = InstallDeleteFile : "
                                               "GetFileAttributes");
}

// The driver the simulated machine runs since an earlier start (status 4),
// Wine's never ran (status 1): the validation looks up the running driver's
// display name on the simulated machine only.
bool DriverNotRunning(const Difference& difference, const StepResult* simulated, const StepResult* wine) {
  if (difference.area != "log") return false;
  auto status = [](const StepResult* step, const char* value) {
    return LogHas(
        step, [&](const std::string& line) { return LibraryText(line) == std::string("Driver status = ") + value; });
  };
  if (!status(simulated, "4") || !status(wine, "1")) return false;
  const std::string a = LibraryText(difference.simulated);
  if (a == "Driver status = 4") return LibraryText(difference.wine) == "Driver status = 1";
  static const char* const kRunningDriverLookup[] = {
      "InstallGetProperty -> ProductLanguage", "InstallGetProperty <- (1033)", "InstallGetResourceString -> 40000002",
      "Looking for language 1033", "InstallGetResourceString <- OV Velmora Driver"};
  return difference.wine.empty() && std::any_of(std::begin(kRunningDriverLookup), std::end(kRunningDriverLookup),
                                                [&](const char* line) { return a == line; });
}

// A 32-bit package's ProgramFilesFolder on 64-bit Windows.
bool ProgramFilesX86(const Difference& difference, const StepResult*, const StepResult*) {
  if (difference.area != "log" || difference.simulated.empty() || difference.wine.empty()) return false;
  std::string simulated = FormattedOnceMore(LibraryText(difference.simulated));
  const std::string folder = "C:\\Program Files\\", x86 = "C:\\Program Files (x86)\\";
  for (size_t at = simulated.find(folder); at != std::string::npos; at = simulated.find(folder, at + x86.size())) {
    simulated.replace(at, folder.size(), x86);
  }
  return simulated == LibraryText(difference.wine) && simulated != FormattedOnceMore(LibraryText(difference.simulated));
}

// Wine enumerates a key's values in alphabetical order: the library's line
// for each value comes elsewhere in the log, but it is there on both.
bool ValuesInNameOrder(const Difference& difference, const StepResult* simulated, const StepResult* wine) {
  if (difference.area != "log" || (!difference.simulated.empty() && !difference.wine.empty())) return false;
  const std::string line = LibraryText(difference.simulated.empty() ? difference.wine : difference.simulated);
  if (!StartsWith(line, "Skipping '") && !StartsWith(line, "Migrating value '")) return false;
  const StepResult* other = difference.simulated.empty() ? simulated : wine;
  return LogHas(other, [&](const std::string& text) { return LibraryText(text) == line; });
}

// RegQueryInfoKeyA's longest data: Wine gives it in bytes of UTF-16.
bool QueryInfoKeyDataSize(const Difference& difference, const StepResult*, const StepResult*) {
  const std::string head = "Allocing buffer for max name ";
  const std::string a = LibraryText(difference.simulated), b = LibraryText(difference.wine);
  const size_t data = a.find(", max data ");
  return difference.area == "log" && StartsWith(a, head) && data != std::string::npos &&
         b.compare(0, data + 11, a, 0, data + 11) == 0 &&
         std::stoul("0" + b.substr(data + 11)) == 2 * std::stoul("0" + a.substr(data + 11));
}

bool DriverDeletedAtOnce(const Difference& difference, const StepResult*, const StepResult*) {
  if (difference.area == "service" && difference.subject == "SKDDriver") {
    return (difference.simulatedChange && difference.simulatedChange->what == "marked for deletion") ||
           (difference.simulated.empty() && difference.wineChange && difference.wineChange->what == "deleted");
  }
  return difference.area == "registry" && difference.simulated.empty() &&
         IsKeyUnder(difference, "\\services\\skddriver") && difference.wineChange &&
         (difference.wineChange->what == "key deleted" || difference.wineChange->what == "value deleted");
}

bool SessionManagerKey(const Difference& difference, const StepResult*, const StepResult*) {
  return difference.area == "registry" && difference.wine.empty() && difference.simulatedChange &&
         difference.simulatedChange->what == "key added" &&
         EndsWith(Lower(difference.subject), "\\control\\session manager");
}

// A road that failed on both engines: Windows Installer (Wine's too) rolls
// back the standard actions' files, registry values and service of the
// installation; the simulated installer does not, so they stay there only.
bool SimulatedNoRollback(const Difference& difference, const StepResult* simulated, const StepResult* wine) {
  if (simulated == nullptr || wine == nullptr || !simulated->failed || !wine->failed || !difference.wine.empty() ||
      !difference.simulatedChange) {
    return false;
  }
  const std::string& what = difference.simulatedChange->what;
  return what == "added" || what == "value added" || what == "key added" || what == "created";
}

// Last in the list, so that a difference a named one explains keeps its name.
bool EventNotMade(const Difference&, const StepResult*, const StepResult* wine) {
  return wine != nullptr && !wine->machineNotTheScenarios.empty();
}

const char kFollows[] = "follows-earlier-difference";

// Never alone: NameFollowingDifferences names a step's differences after the
// evidence of the whole step.
bool NamedForTheStep(const Difference&, const StepResult*, const StepResult*) { return false; }

// The differences that leave the two machines apart in a way the library
// branches on: the shared counts, and what follows from them.
bool LeavesMachinesApart(const Difference& difference) {
  return (difference.simulatedChange || difference.wineChange) &&
         (difference.known == "component-removed-while-counted" || difference.known == "component-counted-once-more" ||
          difference.known == kFollows);
}

// What the library names when it reads the thing a machine difference is
// about: a file's path, a registry value as "Software\...\Name".
std::string ReadName(const MachineChange& change) {
  if (change.area == "file") return change.key;
  const std::string root = "hkey_local_machine\\";
  if (change.area != "registry" || change.name.empty() || !StartsWith(Lower(change.key), root)) return {};
  return change.key.substr(root.size()) + "\\" + ValueName(change.name);
}

// The answers the step's library got to each read ("X -> NAME" and the line
// after it), by the name read, in order.
std::map<std::string, std::vector<std::string>> Reads(const StepResult& step) {
  std::map<std::string, std::vector<std::string>> reads;
  std::string reading;
  for (const std::string& line : LogLines(step.log)) {
    std::string text = LibraryText(line);
    if (text.empty()) continue;
    text = Lower(FormattedOnceMore(text));
    while (!text.empty() && text.back() == ' ') text.pop_back();
    if (!reading.empty()) reads[reading].push_back(text);
    const size_t arrow = text.find(" -> ");
    reading = arrow == std::string::npos ? "" : text.substr(arrow + 4);
  }
  return reads;
}

}  // namespace

std::string NameFollowingDifferences(std::vector<Difference>& step, const std::vector<Difference>& earlier,
                                     const StepResult* simulated, const StepResult* wine) {
  if (simulated == nullptr || wine == nullptr) return {};
  std::vector<const Difference*> apart;
  for (const std::vector<Difference>* list : {&earlier, static_cast<const std::vector<Difference>*>(&step)}) {
    for (const Difference& difference : *list) {
      if (LeavesMachinesApart(difference)) apart.push_back(&difference);
    }
  }
  // A change of this step that starts from what an earlier one left apart
  // and ends alike on both (a restart carrying out different pending
  // deletions) follows from it.
  for (Difference& difference : step) {
    if (!difference.known.empty() || !difference.simulatedChange || !difference.wineChange) continue;
    const MachineChange &a = *difference.simulatedChange, &b = *difference.wineChange;
    const bool follows = a.after == b.after && std::any_of(apart.begin(), apart.end(), [&](const Difference* then) {
                           return then->step < difference.step && then->simulatedChange && then->wineChange &&
                                  Lower(then->subject) == Lower(difference.subject) &&
                                  then->simulatedChange->after == a.before && then->wineChange->after == b.before;
                         });
    if (follows) difference.known = kFollows;
  }
  // A step whose library reads something left apart and gets other answers
  // on the two engines takes another branch from there: the rest of its
  // differences follow.
  const auto simulatedReads = Reads(*simulated), wineReads = Reads(*wine);
  for (const Difference* then : apart) {
    const MachineChange& change = then->simulatedChange ? *then->simulatedChange : *then->wineChange;
    const std::string name = ReadName(change);
    const auto a = simulatedReads.find(Lower(name)), b = wineReads.find(Lower(name));
    if (name.empty() || a == simulatedReads.end() || b == wineReads.end() || a->second == b->second) continue;
    for (Difference& difference : step) {
      if (difference.known.empty()) difference.known = kFollows;
    }
    return "the library reads " + name + ", which " + then->known + " of step " + std::to_string(then->step) +
           " left different, and gets another answer on each engine";
  }
  return {};
}

const std::vector<KnownDifference>& KnownDifferences() {
  static const std::vector<KnownDifference> differences = {
      {"info-formatted-twice",
       "Wine's installer formats an INFO message once more before it logs it: a \"[n]\" in the library's text is "
       "read as a reference to an empty record field, so an exit line \"X <- [0]\" is logged \"X <- \".",
       InfoFormattedTwice},
      {"error-table-markers",
       "The \"ERR: \" and \"WARN: \" markers come from the package's Error table (rows 1 and 2); a package without "
       "those rows, or an engine that does not format them, logs the library's text without them.",
       ErrorTableMarkers},
      {"system-message-texts",
       "A failure report's DESCRIPTION is the system's text for the error: Wine's texts are its own (\"Service does "
       "not exist.\" where Windows says \"The specified service does not exist as an installed service.\").",
       SystemMessageTexts},
      {"failed-action-return-value",
       "Wine logs a custom action that failed as \"Return value 0\"; Windows Installer, and the simulated one, write "
       "3.",
       FailedActionReturnValue},
      {"no-network-server",
       "Wine has no network server: NetShareAdd and NetShareGetInfo answer 50 (not supported), so no share is "
       "created and none can be seeded or deleted.",
       NoNetworkServer},
      {"no-filter-driver",
       "Wine cannot start the filter driver: StartService of SKDDriver fails with 1114, so VrinNTStartVrin reports it, "
       "starts neither component and sets STARTUPMODE to NeedReboot, where the simulated machine runs both.",
       NoFilterDriver},
      {"service-image-no-program",
       "The server's image in Wine's prefix is no program: starting Skelda fails with 193 (bad EXE format), where the "
       "simulated machine runs it.",
       ServiceImageNoProgram},
      {"component-removed-while-counted",
       "Wine removes a component's files and registry values when its key file's shared count stays above 0 after the "
       "run; Windows Installer, and the simulated one, keep the component until the count reaches 0.",
       ComponentRemovedWhileCounted},
      {"component-counted-once-more",
       "Wine counts a component once more when a maintenance run removes another feature of the product and keeps "
       "the component's own: its SharedDlls count is one above the simulated one (and Windows Installer's).",
       ComponentCountedOnceMore},
      {"wine-service-manager",
       "Wine's service manager writes a service's ImagePath as REG_SZ and without the quotes Windows Installer puts "
       "around it (Windows: REG_EXPAND_SZ), and adds ObjectName and PreshutdownTimeout to every service it creates.",
       WineServiceManager},
      {"windows-folder-spelling",
       "Wine's Windows folder is C:\\windows, the simulated machine's C:\\WINDOWS: paths under it differ in letter "
       "case only, which Windows ignores.",
       WindowsFolderSpelling},
      {"no-driver-image",
       "The Wine package has no driver image (with one in system32\\drivers, Wine holds it open after the driver "
       "entry is created, and every later installation asks for a restart): the simulated server component installs "
       "and counts C:\\WINDOWS\\system32\\drivers\\skdnt.sys, Wine's does not.",
       NoDriverImage},
      {"driver-image-left-to-the-library",
       "Without a driver image in the Wine package (no-driver-image), the earlier driver image stays until the "
       "removal's VrinNTDeleteLeftOvers deletes it; on the simulated machine the installer's RemoveFiles took it "
       "before, so the library finds it gone.",
       DriverImageDeletedByTheLibrary},
      {"driver-deleted-at-once",
       "Wine never starts the filter driver (no-filter-driver), so removing it deletes the stopped service at once; "
       "the simulated machine, whose driver runs, marks it for deletion at the next restart.",
       DriverDeletedAtOnce},
      {"session-manager-key",
       "The simulated machine has no Session Manager key until a deletion at the next restart is scheduled, which "
       "makes it; Windows and Wine have it from the start (the deletions themselves are compared as files).",
       SessionManagerKey},
      {"simulated-no-rollback",
       "The simulated installer does not roll back a failed installation (see the README): the files, registry "
       "values and services its standard actions installed stay on its machine, where Windows Installer and Wine "
       "remove them again.",
       SimulatedNoRollback},
      {"driver-not-running",
       "After an installation that started the driver (startup mode Manual), the simulated driver runs (status 4) and "
       "Wine's never ran (status 1, no-filter-driver): a later road's validation looks up the running driver's "
       "display name on the simulated machine only.",
       DriverNotRunning},
      {"program-files-x86",
       "On 64-bit Windows (Wine win64) a 32-bit package's ProgramFilesFolder is C:\\Program Files (x86)\\; the "
       "simulated machine, a 32-bit Windows, has C:\\Program Files\\.",
       ProgramFilesX86},
      {"values-in-name-order",
       "Wine's registry enumerates a key's values in alphabetical order, Windows and the simulated registry in the "
       "order they were written: the library migrates (or skips) the same values in another order.",
       ValuesInNameOrder},
      {"query-info-key-data-size",
       "Wine's RegQueryInfoKeyA gives the longest value data of a key in bytes of its UTF-16 form, twice the "
       "simulated registry's size for text: the library allocates a larger buffer.",
       QueryInfoKeyDataSize},
      {kFollows,
       "A step reads what an earlier known difference left different on the two machines (a shared count, a "
       "component Wine removed) and gets another answer on each: the library takes another branch from there, and "
       "the step's other differences follow from the earlier one (the step says which read); so does a later "
       "change that starts from the two different states and ends alike.",
       NamedForTheStep},
      {"event-not-made",
       "Wine could not make an event of the scenario (its note in the step says which and why): from that step on "
       "its machine is not the one the scenario describes, so the steps' other differences are not comparable.",
       EventNotMade},
  };
  return differences;
}

const KnownDifference* FindKnownDifference(const std::string& name) {
  for (const KnownDifference& known : KnownDifferences()) {
    if (name == known.name) return &known;
  }
  return nullptr;
}

const KnownDifference* Recognise(const Difference& difference, const StepResult* simulated, const StepResult* wine) {
  for (const KnownDifference& known : KnownDifferences()) {
    if (known.recognises(difference, simulated, wine)) return &known;
  }
  return nullptr;
}

std::vector<std::string> LogLines(const std::vector<std::string>& log) {
  std::vector<std::string> lines;
  for (const std::string& entry : log) {
    size_t start = 0;
    while (start <= entry.size()) {
      size_t end = entry.find('\n', start);
      std::string line = entry.substr(start, end == std::string::npos ? std::string::npos : end - start);
      if (!line.empty() && line.back() == '\r') line.pop_back();
      // The line end that closes an entry starts no line of its own.
      if (end != std::string::npos || !line.empty() || start == 0) lines.push_back(line);
      if (end == std::string::npos) break;
      start = end + 1;
    }
  }
  return lines;
}

std::string Lower(std::string text) {
  for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return text;
}

std::string LibraryText(const std::string& line) {
  const size_t mark = line.find(kTraceMark);
  if (mark == std::string::npos) return {};
  std::string text = line.substr(mark);
  while (!text.empty() && (text.back() == '\r' || text.back() == '\n')) text.pop_back();
  return text.substr(sizeof(kTraceMark) - 1);
}

std::string FormattedOnceMore(const std::string& text) {
  std::string formatted;
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '[') {
      const size_t close = text.find(']', i);
      if (close != std::string::npos && close > i + 1 &&
          std::all_of(text.begin() + static_cast<std::ptrdiff_t>(i) + 1,
                      text.begin() + static_cast<std::ptrdiff_t>(close),
                      [](char c) { return std::isdigit(static_cast<unsigned char>(c)) != 0; })) {
        i = close;
        continue;
      }
    }
    formatted += text[i];
  }
  return formatted;
}

std::string ActionLine(const std::string& line) {
  for (const std::string kind : {"Action start", "Action ended"}) {
    const size_t at = line.find(kind);
    if (at == std::string::npos) continue;
    const size_t colon = line.find(": ", at);
    if (colon == std::string::npos) return {};
    std::string rest = line.substr(colon + 2);
    while (!rest.empty() && (rest.back() == '\r' || rest.back() == '\n')) rest.pop_back();
    return kind + ": " + rest;
  }
  return {};
}

std::string ActionOf(const std::string& actionLine) {
  const size_t colon = actionLine.find(": ");
  if (colon == std::string::npos) return {};
  const std::string rest = actionLine.substr(colon + 2);
  return rest.substr(0, rest.find('.'));
}

}  // namespace vrinsim
