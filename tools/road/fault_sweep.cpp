#include "tools/road/fault_sweep.h"

#include <cxxabi.h>
#include <dlfcn.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <typeinfo>
#include <utility>

#include "host/faults.h"
#include "host/library_heap.h"
#include "host/machine.h"
#include "host/session.h"
#include "runtime/install_exception.h"
#include "tools/road/machine_checks.h"

// The library raises its failures as CInstallException pointers. Every throw
// of the process passes here on its way to the C++ runtime, so that the
// sweep sees each raise with its context and number while the object lives.
namespace vrinroad {
namespace {

// A raised failure from its throw until the object is deleted.
struct Raise {
  const void* object = nullptr;
  std::string context;
  long error = 0;
  size_t firstLine = 0;  // the first log line written after the throw
  std::string action;    // the innermost action running at the throw
  bool templateRead = false;
  // The platform calls made before the throw and before the deletion.
  size_t callsAtThrow = 0;
  size_t callsAtRelease = 0;
  int reports = 0;
};

struct RaiseTracker {
  bool active = false;
  std::vector<std::string> lines;  // every log line of every session, in order
  std::vector<std::string> actions;
  std::vector<Raise> open;
  std::vector<Raise> ended;
};

RaiseTracker& Tracker() {
  static RaiseTracker tracker;
  return tracker;
}

const char kTracePrefix[] = "OV VRIN : ";

// "Name ->", "Name -->" or "Name->": the action entered, if the line is one.
std::string EnteredAction(const std::string& text) {
  if (text.compare(0, sizeof(kTracePrefix) - 1, kTracePrefix) != 0) return "";
  std::string rest = text.substr(sizeof(kTracePrefix) - 1);
  for (const char* arrow : {" -->", " ->", "->"}) {
    size_t size = strlen(arrow);
    if (rest.size() > size && rest.compare(rest.size() - size, size, arrow) == 0 &&
        rest.find(' ') >= rest.size() - size) {
      return rest.substr(0, rest.size() - size);
    }
  }
  return "";
}

// "Name <- ..." : the action left, with the text after the arrow.
bool LeftAction(const std::string& text, std::string* name, std::string* value) {
  if (text.compare(0, sizeof(kTracePrefix) - 1, kTracePrefix) != 0) return false;
  std::string rest = text.substr(sizeof(kTracePrefix) - 1);
  size_t arrow = rest.find(" <-");
  if (arrow == std::string::npos || rest.find(' ') != arrow) return false;
  *name = rest.substr(0, arrow);
  *value = arrow + 3 < rest.size() ? rest.substr(arrow + 4) : "";
  return true;
}

void ObserveLog(const host::LogEntry& entry) {
  RaiseTracker& tracker = Tracker();
  if (!tracker.active) return;
  tracker.lines.push_back(entry.text);
  std::string name;
  std::string value;
  std::string entered = EnteredAction(entry.text);
  if (!entered.empty()) {
    tracker.actions.push_back(entered);
  } else if (LeftAction(entry.text, &name, &value)) {
    // An action that skips its exit trace leaves its name on the stack
    // until its caller's exit pops past it.
    for (size_t i = tracker.actions.size(); i > 0; --i) {
      if (tracker.actions[i - 1] == name) {
        tracker.actions.resize(i - 1);
        break;
      }
    }
  }
}

// A failure report names its context after its number: "... : n\r\n\r\n
// CONTEXT = context" and the description, if any, on the next line.
bool ReportsRaise(const std::string& line, const Raise& raise) {
  const std::string marker = " : " + std::to_string(raise.error) + "\r\n\r\nCONTEXT = " + raise.context;
  size_t at = line.find(marker);
  if (at == std::string::npos) return false;
  size_t end = at + marker.size();
  return end == line.size() || line.compare(end, 2, "\r\n") == 0;
}

void ObserveRelease(void* block) {
  RaiseTracker& tracker = Tracker();
  for (size_t i = 0; i < tracker.open.size(); ++i) {
    if (tracker.open[i].object != block) continue;
    Raise raise = std::move(tracker.open[i]);
    raise.callsAtRelease = host::Faults::Instance().CallSequence().size();
    tracker.open.erase(tracker.open.begin() + static_cast<long>(i));
    for (size_t line = raise.firstLine; line < tracker.lines.size(); ++line) {
      if (ReportsRaise(tracker.lines[line], raise)) ++raise.reports;
    }
    tracker.ended.push_back(std::move(raise));
    return;
  }
}

void NoteRaise(const CInstallException* exception) {
  RaiseTracker& tracker = Tracker();
  // A failure whose object could not be allocated is reported by the frame
  // as an allocation failure; its report is not matched here.
  if (!tracker.active || exception == nullptr) return;
  for (const Raise& raise : tracker.open) {
    if (raise.object == exception) return;  // raised on after a clean-up
  }
  Raise raise;
  raise.object = exception;
  raise.context = exception->m_szContext != nullptr ? exception->m_szContext : "";
  raise.error = static_cast<int>(exception->m_dwError);
  raise.firstLine = tracker.lines.size();
  raise.action = tracker.actions.empty() ? "" : tracker.actions.back();
  raise.callsAtThrow = host::Faults::Instance().CallSequence().size();
  // The log reads its line's template without a session, and never passes a
  // failure of that read on; a read with a session has traced its entry.
  const std::string kRead = "InstallGetRecordString";
  raise.templateRead =
      raise.context.compare(0, kRead.size(), kRead) == 0 &&
      (tracker.lines.empty() || tracker.lines.back().find("OV VRIN : " + kRead + " ->") == std::string::npos);
  tracker.open.push_back(std::move(raise));
}

}  // namespace
}  // namespace vrinroad

namespace __cxxabiv1 {
extern "C" void __cxa_throw(void* thrown, std::type_info* type, void (*destroy)(void*)) {
  using Throw = void (*)(void*, std::type_info*, void (*)(void*));
  static const Throw next = reinterpret_cast<Throw>(dlsym(RTLD_NEXT, "__cxa_throw"));
  if (*type == typeid(CInstallException*)) vrinroad::NoteRaise(*static_cast<CInstallException**>(thrown));
  next(thrown, type, destroy);
  __builtin_unreachable();
}
}  // namespace __cxxabiv1

namespace vrinroad {

namespace {

// Whether a caught failure of an exported action may only end as 0.
const std::map<std::string, bool>& ActionTable() {
  static const std::map<std::string, bool> table = [] {
    std::map<std::string, bool> alwaysZero;
    for (const char* name : {"VrinGUIPreviousVersionInstalled",
                             "VrinGUIDeleteLeftOvers",
                             "VrinGUIReadRefCounter",
                             "VrinGUIDecrementRefCounter",
                             "VrinGUIDeleteUpgradeLeftOvers",
                             "VrinNTPreviousVersionInstalled",
                             "VrinNTReadRefCounter",
                             "VrinNTDecrementRefCounter",
                             "VrinNTUninstallService",
                             "VrinNTUninstallDriver",
                             "VrinNTCreateShare",
                             "VrinNTDeleteLeftOvers",
                             "VrinNTDeleteUpgradeLeftOvers",
                             "VrinNTMigrateTarrowRegistry",
                             "VrinNTStartVrin",
                             "VrinNTInstallationValidation",
                             "VrinSetProductSubType",
                             "VrinWriteProductSubType",
                             "VrinDeleteCommonResources",
                             "VrinDeleteLeftOvers",
                             "VrinSetSelectedComponents",
                             "VrinReadIcfFile",
                             "VRINSetSelectedFeatureState",
                             "VrinNameReadMe",
                             "VrinLaunchReadMe",
                             "VrinReadMeLicenseInstall",
                             "VrinSetARPReadMe",
                             "VrinDisableChangeFolder",
                             "VrinWarning",
                             "VrinNothingToInstall",
                             "VrinTerminateSetup",
                             "VrinNovellClientInstalled",
                             "VrinInitUsers",
                             "VrinScheduleReboot"}) {
      alwaysZero[name] = true;
    }
    for (const char* name :
         {"VrinNTInitialise", "VrinNTInstallDriver", "VrinNTSetProducts", "VrinNTUnSetProducts",
          "VrinNTLastAgentUninstall", "VrinNTSetIRPStackSize", "VrinNTUnSetIRPStackSize", "VrinNTDeleteShare",
          "VrinNTMergePostLaunchConditions", "VrinNTMergePostInstallInitialize", "VrinNTMergePreInstallExecute",
          "VrinNTMergePreInstallFinalize", "VrinNTMergePostInstallFinalize", "VrinGUIMergePostInstallInitialize",
          "VrinGUIMergePreInstallFinalize", "VrinGUIMergePostInstallFinalize", "VrinReadInfFile", "VrinNameLicense",
          "VrinMessageInstall"}) {
      alwaysZero[name] = false;
    }
    return alwaysZero;
  }();
  return table;
}

// The action that leaves the earlier console's engine folders ignores a
// failure to delete them without a report.
bool DroppedByDesign(const Raise& raise) {
  return raise.action == "VrinGUIDeleteUpgradeLeftOvers" && raise.context.rfind("InstallDelete", 0) == 0;
}

// A detail on one line: the reports' line breaks shown as "\\n".
std::string Escaped(const std::string& text) {
  std::string escaped;
  for (char c : text) {
    if (c == '\n') {
      escaped += "\\n";
    } else if (c != '\r') {
      escaped += c == '\t' ? ' ' : c;
    }
  }
  return escaped;
}

// What a release function frees, as LeftBehind names it.
std::string ReleasedResource(const std::string& function) {
  static const std::map<std::string, std::string> kReleases = {
      {"CloseServiceHandle", "a service handle was left open"},
      {"FreeLibrary", "a DLL was left loaded"},
      {"NetApiBufferFree", "a share buffer was not freed"},
  };
  auto it = kReleases.find(function);
  return it != kReleases.end() ? it->second : "";
}

std::string Describe(const FailedCall* call) {
  if (call == nullptr || call->function.empty()) return "no fault";
  std::string text = call->function + " #" + std::to_string(call->nth);
  if (!call->key.empty()) text += " (" + call->key + ")";
  return text + " failing with " + std::to_string(call->error);
}

// The calls a scenario's replays fail: every call, or a sample of them.
std::vector<FailedCall> CallsToFail(const std::vector<std::pair<std::string, std::string>>& sequence, int sampleEvery) {
  std::map<std::string, int> totals;
  for (const auto& call : sequence) ++totals[call.first];
  std::map<std::string, int> seen;
  std::vector<FailedCall> calls;
  for (const auto& [function, key] : sequence) {
    int nth = ++seen[function];
    bool sampled = sampleEvery <= 1 || nth == 1 || nth == totals[function] || nth % sampleEvery == 0;
    if (sampled) calls.push_back(FailedCall{function, nth, key, PlausibleError(function)});
  }
  return calls;
}

}  // namespace

UINT RoadRunner::Drive(const PackageOptions& package, const RoadOptions& options,
                       std::function<void(host::Session&)> onExecute) {
  Road road(package, options);
  if (onExecute) road.OnExecute(std::move(onExecute));
  RoadRecord record;
  try {
    record.result = road.Run();
  } catch (...) {
    // Keep what the road did up to the escape for the report.
    record.calls = road.Calls();
    roads_.push_back(std::move(record));
    throw;
  }
  record.calls = road.Calls();
  record.log = road.Log();
  roads_.push_back(std::move(record));
  return roads_.back().result;
}

void KeepMachinesInMemory() {
  struct stat status = {};
  if (std::getenv("TMPDIR") == nullptr && stat("/dev/shm", &status) == 0 && S_ISDIR(status.st_mode)) {
    setenv("TMPDIR", "/dev/shm", 0);
  }
}

uint32_t PlausibleError(const std::string& function) {
  static const std::map<std::string, uint32_t> kErrors = {
      // Registry: access denied; a remote registry that cannot be reached.
      {"RegConnectRegistry", ERROR_BAD_NETPATH},
      // A condition the installer cannot evaluate: its answer, not an error code.
      {"MsiEvaluateCondition", MSICONDITION_ERROR},
      // Services: access denied, a handle the manager no longer knows.
      {"CloseServiceHandle", ERROR_INVALID_HANDLE},
      // Files: a file another program holds, a disk that fails.
      {"CreateFile", ERROR_SHARING_VIOLATION},
      {"DeleteFile", ERROR_SHARING_VIOLATION},
      {"MoveFileEx", ERROR_SHARING_VIOLATION},
      {"OpenFile", ERROR_SHARING_VIOLATION},
      {"RemoveDirectory", ERROR_SHARING_VIOLATION},
      {"ReadFile", 30 /* ERROR_READ_FAULT */},
      {"WriteFile", 29 /* ERROR_WRITE_FAULT */},
      {"FindNextFile", 30 /* ERROR_READ_FAULT */},
      {"GetFileSize", 30 /* ERROR_READ_FAULT */},
      {"GetPrivateProfileString", ERROR_SHARING_VIOLATION},
      {"GetPrivateProfileInt", ERROR_SHARING_VIOLATION},
      // Version resources that cannot be read.
      {"GetFileVersionInfoSize", ERROR_RESOURCE_TYPE_NOT_FOUND},
      {"GetFileVersionInfo", ERROR_RESOURCE_TYPE_NOT_FOUND},
      {"VerQueryValue", ERROR_RESOURCE_TYPE_NOT_FOUND},
      // Modules, messages, system.
      {"LoadLibrary", ERROR_MOD_NOT_FOUND},
      {"GetProcAddress", ERROR_PROC_NOT_FOUND},
      {"FreeLibrary", ERROR_INVALID_HANDLE},
      {"FormatMessage", ERROR_MR_MID_NOT_FOUND},
      {"MultiByteToWideChar", ERROR_INVALID_PARAMETER},
      {"GetVersionEx", ERROR_INVALID_PARAMETER},
      {"GetComputerName", ERROR_NOT_ENOUGH_MEMORY},
      // Security: memory, an account without a name.
      {"AllocateAndInitializeSid", ERROR_NOT_ENOUGH_MEMORY},
      {"LookupAccountSid", ERROR_NONE_MAPPED},
      {"InitializeSecurityDescriptor", ERROR_INVALID_PARAMETER},
      {"SetSecurityDescriptorDacl", ERROR_INVALID_PARAMETER},
      {"InitializeAcl", ERROR_INSUFFICIENT_BUFFER},
      {"AddAccessAllowedAce", ERROR_ALLOTTED_SPACE_EXCEEDED},
      // Shares.
      {"NetApiBufferFree", ERROR_INVALID_PARAMETER},
      // The shell's folders (COM results) and its launcher.
      {"SHGetMalloc", static_cast<uint32_t>(E_OUTOFMEMORY)},
      {"SHGetSpecialFolderLocation", static_cast<uint32_t>(E_FAIL)},
      {"SHGetPathFromIDList", ERROR_PATH_NOT_FOUND},
      {"ShellExecute", ERROR_FILE_NOT_FOUND},
      // Windows and the network provider.
      {"IsWindow", ERROR_INVALID_WINDOW_HANDLE},
      {"PostMessageA", ERROR_INVALID_WINDOW_HANDLE},
      {"WNetGetProviderNameA", ERROR_NO_NETWORK},
      {"WNetGetNetworkInformationA", ERROR_NO_NETWORK},
      // The allocation path fails by its null result.
      {host::kAllocationFunction, ERROR_NOT_ENOUGH_MEMORY},
  };
  auto it = kErrors.find(function);
  if (it != kErrors.end()) return it->second;
  // The installer's own calls fail as a whole.
  if (function.rfind("Msi", 0) == 0) return ERROR_FUNCTION_FAILED;
  // Registry, services, shares, folders and the rest: access denied.
  return ERROR_ACCESS_DENIED;
}

struct FaultSweep::Outcome {
  bool escaped = false;
  std::string escape;
  std::vector<RoadRecord> roads;
  std::vector<std::pair<std::string, std::string>> calls;
  std::vector<Raise> raises;
  std::vector<std::string> leftBehind;
  std::set<std::string> start;
  std::set<std::string> end;
};

FaultSweep::FaultSweep() {
  host::Session::SetLogObserver(ObserveLog);
  host::SetLibraryReleaseObserver(ObserveRelease);
}

FaultSweep::~FaultSweep() {
  host::Session::SetLogObserver(nullptr);
  host::SetLibraryReleaseObserver(nullptr);
}

FaultSweep::Outcome FaultSweep::Play(const SweepScenario& scenario, const FailedCall* fault) {
  Outcome outcome;
  host::ResetMachine();
  PrepareMachine();
  if (scenario.prepare) scenario.prepare();
  host::Faults& faults = host::Faults::Instance();
  faults.Clear();
  outcome.start = MachineItems();
  const HeldResources held = Held();
  if (fault != nullptr) faults.Fail(fault->function, fault->error, fault->nth);

  RaiseTracker& tracker = Tracker();
  tracker = RaiseTracker();
  tracker.active = true;
  RoadRunner runner;
  try {
    scenario.run(runner);
  } catch (const std::exception& e) {
    outcome.escaped = true;
    outcome.escape = e.what();
  } catch (CInstallException* e) {
    outcome.escaped = true;
    outcome.escape = std::string("CInstallException ") + (e != nullptr ? e->m_szContext : "(null)");
    delete e;
  } catch (...) {
    outcome.escaped = true;
    outcome.escape = "an exception of an unknown type";
  }
  tracker.active = false;
  outcome.calls = faults.CallSequence();
  faults.Clear();
  outcome.roads = runner.Roads();
  outcome.raises = std::move(tracker.ended);
  // Raises whose object was never deleted show as a leak below.
  outcome.leftBehind = LeftBehind(held, Held());
  outcome.end = MachineItems();
  tracker = RaiseTracker();
  host::ResetMachine();
  return outcome;
}

FaultSweep::Broken FaultSweep::Check(const FailedCall* fault, const Outcome& outcome,
                                     const std::set<std::string>& baselineEnd) {
  Broken broken;
  if (outcome.escaped) broken[kNoEscape].push_back(outcome.escape);

  for (const RoadRecord& road : outcome.roads) {
    for (const ActionCall& call : road.calls) {
      if (call.result != ERROR_SUCCESS && call.result != ERROR_INSTALL_FAILURE) {
        broken[kResults].push_back(call.name + " returned " + std::to_string(call.result));
      }
    }
    for (const std::string& line : road.log) {
      std::string name;
      std::string value;
      if (!LeftAction(line, &name, &value)) continue;
      auto entry = ActionTable().find(name);
      if (entry == ActionTable().end()) continue;
      if (value.size() > 2 && value.front() == '[' && value.back() == ']') value = value.substr(1, value.size() - 2);
      bool allowed = value == "0" || (value == "1603" && !entry->second);
      if (!allowed) broken[kResults].push_back(name + " returned " + value);
    }
  }

  // Where in the faulted road the failed call came.
  size_t failedAt = outcome.calls.size();
  if (fault != nullptr) {
    int seen = 0;
    for (size_t i = 0; i < outcome.calls.size() && failedAt == outcome.calls.size(); ++i) {
      if (outcome.calls[i].first == fault->function && ++seen == fault->nth) failedAt = i;
    }
  }
  // A log call that failed before a raise may have lost the entry line of
  // the action that raised: the raise then seems to come from its caller.
  const bool logLineLost =
      fault != nullptr && (fault->function == "MsiCreateRecord" || fault->function == "MsiRecordSetString" ||
                           fault->function == "MsiProcessMessage");
  for (const Raise& raise : outcome.raises) {
    Raise inLeftOvers = raise;
    inLeftOvers.action = "VrinGUIDeleteUpgradeLeftOvers";
    bool dropped =
        DroppedByDesign(raise) || (logLineLost && failedAt < raise.callsAtThrow &&
                                   raise.action == "VrinGUIMergePostInstallFinalize" && DroppedByDesign(inLeftOvers));
    if (raise.reports == 1 || (raise.reports == 0 && (raise.templateRead || dropped))) continue;
    // The failed call was the report's own writing: the report is lost to it.
    bool inReport = failedAt >= raise.callsAtThrow && failedAt < raise.callsAtRelease;
    if (raise.reports == 0 && inReport) continue;
    std::string what = raise.reports == 0 ? "not reported: " : std::to_string(raise.reports) + " reports of ";
    broken[kReportedOnce].push_back(what + raise.context + " (" + std::to_string(raise.error) + ") in " +
                                    (raise.action.empty() ? "no action" : raise.action));
  }

  // A release that fails leaves its handle to the platform: nothing else
  // can release it.
  const std::string released = fault != nullptr ? ReleasedResource(fault->function) : "";
  for (const std::string& left : outcome.leftBehind) {
    if (!released.empty() && left == released + " (1)") continue;
    broken[kNothingHeld].push_back(left);
  }
  for (const std::string& item : LostItems(outcome.start, baselineEnd, outcome.end)) {
    broken[kNothingLost].push_back(item);
  }

  return broken;
}

void FaultSweep::Record(const SweepScenario& scenario, const FailedCall* fault, const Broken& broken) {
  for (const char* invariant : {kNoCrash, kNoEscape, kResults, kReportedOnce, kNothingHeld, kNothingLost}) {
    ++report_.invariantsChecked;
    auto it = broken.find(invariant);
    if (it == broken.end()) {
      ++report_.invariantsHeld;
      continue;
    }
    std::string detail;
    for (const std::string& text : it->second) detail += (detail.empty() ? "" : "; ") + text;
    report_.violations.push_back(
        SweepViolation{scenario.name, fault != nullptr ? *fault : FailedCall{}, invariant, detail});
  }
}

// The replay runs in a child process: a crash ends only the child, and what
// a replay leaves in the process (descriptors the package reader keeps, say)
// goes with it. The child sends what broke as "invariant\tdetail" lines.
FaultSweep::Broken FaultSweep::PlayApart(const SweepScenario& scenario, const FailedCall& fault,
                                         const std::set<std::string>& baselineEnd) {
  Broken broken;
  int channel[2];
  if (pipe(channel) != 0) {
    broken[kNoCrash].push_back("no pipe to a replay");
    return broken;
  }
  std::fflush(nullptr);
  const pid_t child = fork();
  if (child == 0) {
    close(channel[0]);
    std::string text;
    for (const auto& [invariant, details] : Check(&fault, Play(scenario, &fault), baselineEnd)) {
      for (const std::string& detail : details) text += invariant + "\t" + Escaped(detail) + "\n";
    }
    for (size_t written = 0; written < text.size();) {
      ssize_t count = write(channel[1], text.data() + written, text.size() - written);
      if (count <= 0) break;
      written += static_cast<size_t>(count);
    }
    std::fflush(nullptr);
    _exit(0);
  }
  close(channel[1]);
  std::string text;
  char buffer[4096];
  for (ssize_t count; (count = read(channel[0], buffer, sizeof(buffer))) > 0;) text.append(buffer, count);
  close(channel[0]);
  int status = 0;
  if (child < 0 || waitpid(child, &status, 0) != child) {
    broken[kNoCrash].push_back("the replay could not run");
    return broken;
  }
  if (WIFSIGNALED(status)) {
    broken[kNoCrash].push_back(std::string("ended by signal ") + strsignal(WTERMSIG(status)));
  } else if (WEXITSTATUS(status) != 0) {
    broken[kNoCrash].push_back("exited with " + std::to_string(WEXITSTATUS(status)));
  }
  for (size_t start = 0; start < text.size();) {
    size_t end = text.find('\n', start);
    if (end == std::string::npos) end = text.size();
    const std::string line = text.substr(start, end - start);
    size_t tab = line.find('\t');
    if (tab != std::string::npos) broken[line.substr(0, tab)].push_back(line.substr(tab + 1));
    start = end + 1;
  }
  return broken;
}

void FaultSweep::Sweep(const SweepScenario& scenario) {
  if (progress_) progress_(scenario.name);
  // The library traces every line to standard output too: thousands of
  // replays would bury the report.
  std::fflush(stdout);
  const int output = dup(STDOUT_FILENO);
  const int null = open("/dev/null", O_WRONLY);
  if (null >= 0) {
    dup2(null, STDOUT_FILENO);
    close(null);
  }
  SweepQuietly(scenario);
  std::fflush(stdout);
  if (output >= 0) {
    dup2(output, STDOUT_FILENO);
    close(output);
  }
}

void FaultSweep::SweepQuietly(const SweepScenario& scenario) {
  ++report_.roads;
  Outcome baseline = Play(scenario, nullptr);
  report_.callsCounted += static_cast<long>(baseline.calls.size());
  Record(scenario, nullptr, Check(nullptr, baseline, baseline.end));
  for (const FailedCall& call : CallsToFail(baseline.calls, scenario.sampleEvery)) {
    ++report_.callsFailed;
    Record(scenario, &call, PlayApart(scenario, call, baseline.end));
  }
}

std::vector<std::string> FaultSweep::ReplayLog(const SweepScenario& scenario, const FailedCall& call) {
  std::vector<std::string> lines;
  for (const RoadRecord& road : Play(scenario, call.function.empty() ? nullptr : &call).roads) {
    lines.insert(lines.end(), road.log.begin(), road.log.end());
  }
  return lines;
}

std::string SweepReport::Text() const {
  std::string text = "fault sweep: " + std::to_string(roads) + " roads, " + std::to_string(callsCounted) +
                     " calls counted, " + std::to_string(callsFailed) + " calls failed, " +
                     std::to_string(invariantsChecked) + " invariants checked, " + std::to_string(invariantsHeld) +
                     " held, " + std::to_string(violations.size()) + " violations\n";
  for (const SweepViolation& violation : violations) {
    text += "violation: " + violation.scenario + ": " + Describe(&violation.call) + ": " + violation.invariant + ": " +
            violation.detail + "\n";
  }
  return text;
}

}  // namespace vrinroad
