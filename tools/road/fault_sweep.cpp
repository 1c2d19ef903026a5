#include "tools/road/fault_sweep.h"

#include <cxxabi.h>
#include <dlfcn.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <unwind.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <set>
#include <typeinfo>
#include <utility>

#include "host/faults.h"
#include "host/library_heap.h"
#include "host/machine.h"
#include "host/session.h"
#include "runtime/install_exception.h"
#include "suite/master_setup.h"
#include "tools/road/machine_checks.h"
#include "tools/road/raise_exits.h"

// The library raises its failures as CInstallException pointers. Every throw
// of the process passes here on its way to the C++ runtime, so that the
// sweep sees each raise with its context and number while the object lives.
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

// The routines whose exit by exception the sweep watches: the exported
// actions and master-setup exports, and the routines specified never to
// raise.
std::set<std::string>& WatchedExports() {
  static std::set<std::string> exports = [] {
    std::set<std::string> names = {"CheckInstallInfo", "CreateConfigProfile", "GetPostConfigInfo"};
    for (const auto& [name, alwaysZero] : ActionTable()) names.insert(name);
    return names;
  }();
  return exports;
}

std::set<std::string>& WatchedNeverRaising() {
  static std::set<std::string> routines = {"InstallLog",
                                           "InstallGetRegString",
                                           "InstallGetRegValue",
                                           "InstallSetRegValue",
                                           "InstallSetRegString",
                                           "InstallDelRegValue",
                                           "InstallDelRegTree",
                                           "InstallGetPrivateProfileString",
                                           "InstallGetPrivateProfileInt",
                                           "InstallDeleteFile",
                                           "InstallDeleteDirectory",
                                           "InstallAnsiToWide",
                                           "InstallTryMakePath",
                                           "GetServiceImagePath",
                                           "QueryFileVersion",
                                           "WriteBuildNumber",
                                           "MigrateRegistryValues",
                                           "AdjustIRPStackSize",
                                           "AddShare",
                                           "DeleteShare",
                                           "CheckInstallInfo",
                                           "CreateConfigProfile",
                                           "GetPostConfigInfo"};
  return routines;
}

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
  // Raised inside the master setup, which reports nothing: what it cannot
  // read it does not find.
  bool inMasterSetup = false;
};

// An exception from its throw: what it is and the stack it left from.
struct Thrown {
  std::string what;
  std::vector<StackFrame> stack;
  std::set<std::string> left;  // the watched routines it left so far
};

struct RaiseTracker {
  bool active = false;
  bool inMasterSetup = false;      // while the master setup's exports run
  std::vector<std::string> lines;  // every log line of every session, in order, as the library wrote it
  std::vector<std::string> actions;
  std::vector<Raise> open;
  std::vector<Raise> ended;
  std::map<const void*, Thrown> thrown;  // by the thrown object's place
  // The watched routines left by an exception: invariant and detail.
  std::vector<std::pair<std::string, std::string>> exits;
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
  // The library's own line: the package's template does not shape it.
  const std::string& text = entry.message.empty() ? entry.text : entry.message;
  tracker.lines.push_back(text);
  std::string name;
  std::string value;
  std::string entered = EnteredAction(text);
  if (!entered.empty()) {
    tracker.actions.push_back(entered);
  } else if (LeftAction(text, &name, &value)) {
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
  raise.inMasterSetup = tracker.inMasterSetup;
  // The log reads its line's template without a session, and never passes a
  // failure of that read on; a read with a session has traced its entry.
  const std::string kRead = "InstallGetRecordString";
  raise.templateRead =
      raise.context.compare(0, kRead.size(), kRead) == 0 &&
      (tracker.lines.empty() || tracker.lines.back().find("OV VRIN : " + kRead + " ->") == std::string::npos);
  tracker.open.push_back(std::move(raise));
}

// "context (number)" of a raised failure.
std::string RaiseText(const CInstallException* exception) {
  if (exception == nullptr) return "a failure without its object";
  return std::string(exception->m_szContext != nullptr ? exception->m_szContext : "") + " (" +
         std::to_string(exception->m_dwError) + ")";
}

void NoteThrow(const void* object, const std::type_info& type) {
  RaiseTracker& tracker = Tracker();
  if (!tracker.active) return;
  Thrown thrown;
  if (type == typeid(CInstallException*)) {
    const CInstallException* exception = *static_cast<CInstallException* const*>(object);
    thrown.what = RaiseText(exception);
  } else {
    int status = 0;
    char* name = abi::__cxa_demangle(type.name(), nullptr, nullptr, &status);
    thrown.what = status == 0 && name != nullptr ? name : type.name();
    std::free(name);
  }
  thrown.stack = CurrentStack();
  tracker.thrown[object] = std::move(thrown);
}

void NoteExit(const char* invariant, const std::string& detail) {
  std::vector<std::pair<std::string, std::string>>& exits = Tracker().exits;
  const std::pair<std::string, std::string> exit(invariant, detail);
  if (std::find(exits.begin(), exits.end(), exit) == exits.end()) exits.push_back(exit);
}

// At each handler the exception reaches: the watched routines it has left.
void NoteCatch(const void* object) {
  RaiseTracker& tracker = Tracker();
  if (!tracker.active) return;
  auto it = tracker.thrown.find(object);
  if (it == tracker.thrown.end()) return;
  Thrown& thrown = it->second;
  const std::vector<StackFrame> stack = CurrentStack();
  for (const std::string& routine : RoutinesLeft(thrown.stack, stack)) {
    const char* invariant = WatchedNeverRaising().count(routine) != 0 ? kNeverRaises
                            : WatchedExports().count(routine) != 0    ? kExportLeft
                                                                      : nullptr;
    if (invariant != nullptr && thrown.left.insert(routine).second)
      NoteExit(invariant, routine + " left by " + thrown.what);
  }
}

}  // namespace
}  // namespace vrinroad

namespace __cxxabiv1 {
extern "C" void __cxa_throw(void* thrown, std::type_info* type, void (*destroy)(void*)) {
  using Throw = void (*)(void*, std::type_info*, void (*)(void*));
  static const Throw next = reinterpret_cast<Throw>(dlsym(RTLD_NEXT, "__cxa_throw"));
  if (*type == typeid(CInstallException*)) vrinroad::NoteRaise(*static_cast<CInstallException**>(thrown));
  vrinroad::NoteThrow(thrown, *type);
  next(thrown, type, destroy);
  __builtin_unreachable();
}

// The thrown object follows the unwinder's header of the exception.
extern "C" void* __cxa_begin_catch(void* header) noexcept {
  using BeginCatch = void* (*)(void*);
  static const BeginCatch next = reinterpret_cast<BeginCatch>(dlsym(RTLD_NEXT, "__cxa_begin_catch"));
  vrinroad::NoteCatch(static_cast<_Unwind_Exception*>(header) + 1);
  return next(header);
}
}  // namespace __cxxabiv1

namespace vrinroad {

namespace {

// The action that leaves the earlier console's engine folders ignores a
// failure to delete them without a report; the master setup one to read
// what it looks for.
bool DroppedByDesign(const Raise& raise) {
  return raise.inMasterSetup ||
         (raise.action == "VrinGUIDeleteUpgradeLeftOvers" && raise.context.rfind("InstallDelete", 0) == 0);
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
  if (call->length != 0) {
    // A field's text is its own key: shown cut, on one line.
    std::string key = Escaped(call->key.size() > 80 ? call->key.substr(0, 77) + "..." : call->key);
    return call->function + " (" + key + ") at " + std::to_string(call->length) + " characters";
  }
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

bool IsBoundaryLength(size_t length) {
  return std::find(BoundaryLengths().begin(), BoundaryLengths().end(), length) != BoundaryLengths().end();
}

// The over-long texts of a scenario's replays: each text the baseline read
// at each boundary length above its own, or every nth of those replays.
std::vector<FailedCall> TextsToLengthen(const std::map<std::pair<std::string, std::string>, std::string>& texts,
                                        int sampleEvery) {
  std::vector<FailedCall> calls;
  long index = 0;
  for (const auto& [source, text] : texts) {
    for (size_t length : BoundaryLengths()) {
      if (length > text.size() && (sampleEvery <= 1 || index++ % sampleEvery == 0)) {
        calls.push_back(FailedCall{source.first, 0, source.second, 0, length});
      }
    }
  }
  return calls;
}

// The control of a text's replays: the text longer by as little as makes no
// boundary length.
FailedCall ControlOf(const FailedCall& text, size_t ownLength) {
  FailedCall control = text;
  control.length = ownLength + 1;
  while (IsBoundaryLength(control.length)) ++control.length;
  return control;
}

}  // namespace

const std::vector<size_t>& BoundaryLengths() {
  static const std::vector<size_t> kLengths = {9, 10, 11, 255, 256, 257, 259, 260, 261, 1023, 1024, 1025, 10000};
  return kLengths;
}

void FaultSweep::WatchExport(const std::string& routine) { WatchedExports().insert(routine); }

void FaultSweep::WatchNeverRaising(const std::string& routine) { WatchedNeverRaising().insert(routine); }

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

namespace {

// Calls a master-setup export: nothing may leave it (its frame may be gone
// from the stack by a tail call, so its caller watches it).
template <typename Call>
int CallMasterSetup(const char* name, Call call) {
  RaiseTracker& tracker = Tracker();
  tracker.inMasterSetup = true;
  try {
    int result = call();
    tracker.inMasterSetup = false;
    return result;
  } catch (CInstallException* exception) {
    const std::string detail = std::string(name) + " left by " + RaiseText(exception);
    NoteExit(kExportLeft, detail);
    NoteExit(kNeverRaises, detail);
    tracker.inMasterSetup = false;
    throw;
  } catch (...) {
    NoteExit(kExportLeft, std::string(name) + " left by an exception");
    NoteExit(kNeverRaises, std::string(name) + " left by an exception");
    tracker.inMasterSetup = false;
    throw;
  }
}

}  // namespace

int RoadRunner::MasterSetup(const std::string& machine, const std::string& profile) {
  host::Faults& faults = host::Faults::Instance();
  const std::string name = faults.Text("CheckInstallInfo", "machineName", machine);
  const std::string profilePath = faults.Text("CheckInstallInfo", "profilePath", profile);
  ComponentInstallInfo info{};
  info.bWriteInstallDir = 1;
  char message[1024] = "";
  RoadRecord record;
  record.result = static_cast<UINT>(CallMasterSetup("CheckInstallInfo", [&] {
    return CheckInstallInfo(name.empty() ? nullptr : name.c_str(), 0, 0, message, 0, &info, profilePath.c_str(), 0, 1);
  }));
  roads_.push_back(record);
  // The folder as the master setup keeps it in its 260-byte field: a longer
  // one fills the field without its NUL.
  const std::string folder = faults.Text("ComponentInstallInfo", "szInstallDir",
                                         std::string(info.szInstallDir, strnlen(info.szInstallDir, MAX_PATH)));
  const size_t kept = std::min(folder.size(), sizeof(info.szInstallDir));
  std::memcpy(info.szInstallDir, folder.data(), kept);
  if (kept < sizeof(info.szInstallDir)) info.szInstallDir[kept] = '\0';
  CallMasterSetup("CreateConfigProfile", [&] {
    return CreateConfigProfile(name.c_str(), 0, 0, message, 0, &info, profilePath.c_str(), 0, 1);
  });
  CallMasterSetup("GetPostConfigInfo", [] { return GetPostConfigInfo(); });
  return static_cast<int>(record.result);
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
  std::map<std::pair<std::string, std::string>, std::string> texts;
  std::vector<std::string> lines;
  std::vector<std::pair<std::string, std::string>> exits;
  std::vector<Raise> raises;
  std::vector<std::string> leftBehind;
  std::set<std::string> start;
  std::set<std::string> end;
};

FaultSweep::FaultSweep() {
  LoadRoutineNames();
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
  if (fault != nullptr && fault->length != 0) {
    faults.Lengthen(fault->function, fault->key, fault->length);
  } else if (fault != nullptr) {
    faults.Fail(fault->function, fault->error, fault->nth);
  }

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
  outcome.texts = faults.TextsRead();
  faults.Clear();
  outcome.roads = runner.Roads();
  outcome.lines = std::move(tracker.lines);
  outcome.exits = std::move(tracker.exits);
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
  }
  for (const std::string& line : outcome.lines) {
    std::string name;
    std::string value;
    if (!LeftAction(line, &name, &value)) continue;
    auto entry = ActionTable().find(name);
    if (entry == ActionTable().end()) continue;
    if (value.size() > 2 && value.front() == '[' && value.back() == ']') value = value.substr(1, value.size() - 2);
    bool allowed = value == "0" || (value == "1603" && !entry->second);
    if (!allowed) broken[kResults].push_back(name + " returned " + value);
  }
  for (const auto& [invariant, detail] : outcome.exits) broken[invariant].push_back(detail);

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
  for (const char* invariant :
       {kNoCrash, kNoEscape, kNeverRaises, kExportLeft, kResults, kReportedOnce, kNothingHeld, kNothingLost}) {
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
// With endItems, it also sends the machine's items at its end, and what it lost
// is not checked: that replay is the control the next ones are held against.
namespace {
const char kEndItem[] = "end item";
}  // namespace

FaultSweep::Broken FaultSweep::PlayApart(const SweepScenario& scenario, const FailedCall& fault,
                                         const std::set<std::string>& baselineEnd, std::set<std::string>* endItems) {
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
    const Outcome outcome = Play(scenario, &fault);
    for (const auto& [invariant, details] : Check(&fault, outcome, endItems != nullptr ? outcome.end : baselineEnd)) {
      for (const std::string& detail : details) text += invariant + "\t" + Escaped(detail) + "\n";
    }
    if (endItems != nullptr) {
      for (const std::string& item : outcome.end) text += std::string(kEndItem) + "\t" + Escaped(item) + "\n";
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
    if (tab != std::string::npos && endItems != nullptr && line.compare(0, tab, kEndItem) == 0) {
      endItems->insert(line.substr(tab + 1));
    } else if (tab != std::string::npos) {
      broken[line.substr(0, tab)].push_back(line.substr(tab + 1));
    }
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
  report_.textsCounted += static_cast<long>(baseline.texts.size());
  Record(scenario, nullptr, Check(nullptr, baseline, baseline.end));
  if (failCalls_) {
    for (const FailedCall& call : CallsToFail(baseline.calls, scenario.sampleEvery)) {
      ++report_.callsFailed;
      Record(scenario, &call, PlayApart(scenario, call, baseline.end));
    }
  }
  if (lengthenTexts_) {
    // A longer text names something else (another file, folder or value):
    // what a replay loses by that alone shows in the text's control replay
    // too, which runs when a replay of that text lost anything, and is not
    // held against the boundary length.
    std::pair<std::string, std::string> controlled;
    std::set<std::string> controlEnd;
    for (const FailedCall& text : TextsToLengthen(baseline.texts, scenario.textSampleEvery)) {
      ++report_.textsLengthened;
      Broken broken = PlayApart(scenario, text, baseline.end);
      auto lost = broken.find(kNothingLost);
      if (lost != broken.end()) {
        const std::pair<std::string, std::string> source(text.function, text.key);
        if (controlled != source) {
          const FailedCall control = ControlOf(text, baseline.texts.at(source).size());
          controlEnd.clear();
          ++report_.textsLengthened;
          Record(scenario, &control, PlayApart(scenario, control, baseline.end, &controlEnd));
          controlled = source;
        }
        std::vector<std::string>& items = lost->second;
        items.erase(std::remove_if(items.begin(), items.end(),
                                   [&controlEnd](const std::string& item) { return controlEnd.count(item) == 0; }),
                    items.end());
        if (items.empty()) broken.erase(lost);
      }
      Record(scenario, &text, std::move(broken));
    }
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
                     std::to_string(textsCounted) + " texts counted, " + std::to_string(textsLengthened) +
                     " texts lengthened, " + std::to_string(invariantsChecked) + " invariants checked, " +
                     std::to_string(invariantsHeld) + " held, " + std::to_string(violations.size()) + " violations\n";
  for (const SweepViolation& violation : violations) {
    text += "violation: " + violation.scenario + ": " + Describe(&violation.call) + ": " + violation.invariant + ": " +
            violation.detail + "\n";
  }
  return text;
}

}  // namespace vrinroad
