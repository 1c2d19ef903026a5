#include "host/services.h"

#include <algorithm>
#include <cstring>
#include <stdexcept>

#include "host/clock.h"
#include "host/code_page.h"
#include "host/faults.h"
#include "host/filesystem.h"
#include "host/registry.h"
#include "host/win32_files.h"

namespace host {

namespace {

constexpr size_t kMaxServiceName = 256;

bool IsDriver(uint32_t type) { return (type & SERVICE_DRIVER) != 0; }

bool ValidType(uint32_t type) {
  switch (type & ~static_cast<uint32_t>(SERVICE_INTERACTIVE_PROCESS)) {
    case SERVICE_KERNEL_DRIVER:
    case SERVICE_FILE_SYSTEM_DRIVER:
    case SERVICE_RECOGNIZER_DRIVER:
      return (type & SERVICE_INTERACTIVE_PROCESS) == 0;
    case SERVICE_WIN32_OWN_PROCESS:
    case SERVICE_WIN32_SHARE_PROCESS:
      return true;
    default:
      return false;
  }
}

// Boot and system start are for drivers only.
bool ValidStart(uint32_t type, uint32_t start) {
  if (start > SERVICE_DISABLED) return false;
  return IsDriver(type) || start >= SERVICE_AUTO_START;
}

bool ValidName(const char* name) {
  if (name == nullptr || name[0] == '\0' || std::strlen(name) > kMaxServiceName) return false;
  return std::strpbrk(name, "\\/") == nullptr;
}

// A REG_MULTI_SZ list from the API's form (strings, each ended by a NUL, the
// list by another); an empty list is null or starts with the final NUL.
std::vector<uint8_t> MultiString(const char* list) {
  std::vector<uint8_t> data;
  if (list == nullptr) return data;
  for (const char* p = list; *p != '\0'; p += std::strlen(p) + 1) {
    data.insert(data.end(), p, p + std::strlen(p) + 1);
  }
  if (!data.empty()) data.push_back(0);
  return data;
}

std::string Lower(const std::string& text) { return FoldCase(text); }

bool StartsWithNoCase(const std::string& text, const std::string& prefix) {
  return text.size() >= prefix.size() && Lower(text.substr(0, prefix.size())) == Lower(prefix);
}

// ExpandEnvironmentStrings over the machine's few system variables; an
// unknown variable stays as written.
std::string Expand(const std::string& text) {
  static const std::pair<const char*, const char*> kVariables[] = {{"systemroot", kWindowsDirectory},
                                                                   {"windir", kWindowsDirectory},
                                                                   {"systemdrive", "C:"},
                                                                   {"programfiles", "C:\\Program Files"}};
  std::string out;
  size_t i = 0;
  while (i < text.size()) {
    size_t close = text[i] == '%' ? text.find('%', i + 1) : std::string::npos;
    if (close == std::string::npos) {
      out += text[i++];
      continue;
    }
    std::string variable = Lower(text.substr(i + 1, close - i - 1));
    const char* value = nullptr;
    for (const auto& [known, expansion] : kVariables) {
      if (variable == known) value = expansion;
    }
    if (value == nullptr) {
      out += text[i++];
      continue;
    }
    out += value;
    i = close + 1;
  }
  return out;
}

// The files Windows would load for an entry, in the order it tries them.
std::vector<std::string> ImageCandidates(uint32_t type, const std::string& imagePath, const std::string& name) {
  if (IsDriver(type)) {
    if (imagePath.empty()) return {std::string(kSystemDirectory) + "\\drivers\\" + name + ".sys"};
    std::string path = Expand(imagePath);
    if (StartsWithNoCase(path, "\\??\\")) return {path.substr(4)};
    if (StartsWithNoCase(path, "\\SystemRoot\\")) return {std::string(kWindowsDirectory) + path.substr(11)};
    bool absolute = (path.size() >= 2 && path[1] == ':') || (!path.empty() && path[0] == '\\');
    return {absolute ? path : std::string(kWindowsDirectory) + "\\" + path};
  }
  std::string line = Expand(imagePath);
  if (!line.empty() && line[0] == '"') {
    size_t close = line.find('"', 1);
    return {line.substr(1, close == std::string::npos ? std::string::npos : close - 1)};
  }
  // CreateProcess's reading of an unquoted line: the shortest prefix ending
  // at a blank that names a file, else the whole line.
  std::vector<std::string> candidates;
  for (size_t blank = line.find(' '); blank != std::string::npos; blank = line.find(' ', blank + 1)) {
    candidates.push_back(line.substr(0, blank));
  }
  candidates.push_back(line);
  return candidates;
}

}  // namespace

// --- Scripts ---

StartScript StartScript::Immediate() { return StartScript{}; }

StartScript StartScript::RunningAfter(int queries, uint32_t waitHint) {
  StartScript script;
  for (int i = 1; i < queries; ++i) script.pending.push_back({static_cast<uint32_t>(i), waitHint});
  return script;
}

StartScript StartScript::Stalled(uint32_t checkPoint, uint32_t waitHint) {
  StartScript script;
  script.pending.push_back({checkPoint, waitHint});
  script.ending = Ending::kStalled;
  return script;
}

StartScript StartScript::Progressing(uint32_t waitHint) {
  StartScript script;
  script.pending.push_back({1, waitHint});
  script.ending = Ending::kProgressing;
  return script;
}

StartScript StartScript::Refused(uint32_t error) {
  StartScript script;
  script.startError = error;
  return script;
}

StartScript StartScript::StoppedAfter(int queries, uint32_t exitCode, uint32_t waitHint) {
  StartScript script = RunningAfter(queries, waitHint);
  script.ending = Ending::kStopped;
  script.exitCode = exitCode;
  return script;
}

// --- Test API ---

ServiceManager& ServiceManager::Instance() {
  static ServiceManager manager;
  return manager;
}

void ServiceManager::Reset() {
  handles_.clear();
  runtime_.clear();
  scripts_.clear();
  startRequests_.clear();
  starts_.clear();
}

std::string ServiceManager::KeyPath(const std::string& name) const { return std::string(kServicesKey) + "\\" + name; }

void ServiceManager::Add(const ServiceEntry& entry) {
  if (!ValidName(entry.name.c_str())) throw std::invalid_argument("not a service name: " + entry.name);
  Registry& registry = LocalRegistry();
  const std::string path = KeyPath(entry.name);
  registry.SetDword(path, "Type", entry.type);
  registry.SetDword(path, "Start", entry.start);
  registry.SetDword(path, "ErrorControl", entry.errorControl);
  if (!entry.imagePath.empty()) registry.SetString(path, "ImagePath", entry.imagePath, REG_EXPAND_SZ);
  if (!entry.displayName.empty()) registry.SetString(path, "DisplayName", entry.displayName);
  if (!entry.group.empty()) registry.SetString(path, "Group", entry.group);
  if (!entry.objectName.empty()) registry.SetString(path, "ObjectName", entry.objectName);
}

bool ServiceManager::Exists(const std::string& name) const {
  if (!ValidName(name.c_str())) return false;
  std::shared_ptr<RegKey> key = LocalRegistry().Find(KeyPath(name));
  return key != nullptr && key->Value("Type") != nullptr;
}

void ServiceManager::SetRunning(const std::string& name) {
  if (!Exists(name)) throw std::invalid_argument("no service entry " + name);
  Runtime& runtime = RuntimeOf(name);
  runtime.state = SERVICE_RUNNING;
  runtime.checkPoint = 0;
  runtime.waitHint = 0;
  runtime.exitCode = 0;
}

void ServiceManager::Stop(const std::string& name) {
  if (!Exists(name)) throw std::invalid_argument("no service entry " + name);
  Runtime& runtime = RuntimeOf(name);
  runtime.state = SERVICE_STOPPED;
  runtime.checkPoint = 0;
  runtime.waitHint = 0;
  RemoveIfUnused(name);
}

std::optional<SERVICE_STATUS> ServiceManager::Status(const std::string& name) const {
  if (!Exists(name)) return std::nullopt;
  const Runtime* runtime = FindRuntime(name);
  return StatusOf(name, runtime != nullptr ? *runtime : Runtime{});
}

bool ServiceManager::MarkedForDeletion(const std::string& name) const {
  const Runtime* runtime = FindRuntime(name);
  return runtime != nullptr && runtime->marked;
}

void ServiceManager::SetStartScript(const std::string& name, const StartScript& script) {
  scripts_[FoldCase(name)] = script;
}

int ServiceManager::StartRequests(const std::string& name) const {
  auto it = startRequests_.find(FoldCase(name));
  return it != startRequests_.end() ? it->second : 0;
}

int ServiceManager::StatusQueries(const std::string& name) const {
  const Runtime* runtime = FindRuntime(name);
  return runtime != nullptr ? runtime->statusQueries : 0;
}

void ServiceManager::Restart() {
  handles_.clear();
  for (auto it = runtime_.begin(); it != runtime_.end();) {
    if (it->second.marked) {
      LocalRegistry().DeleteTree(KeyPath(it->first));
      it = runtime_.erase(it);
      continue;
    }
    Runtime& runtime = it->second;
    runtime.state = SERVICE_STOPPED;
    runtime.checkPoint = 0;
    runtime.waitHint = 0;
    runtime.exitCode = ERROR_SERVICE_NEVER_STARTED;
    ++it;
  }
}

// --- Internals ---

ServiceManager::Runtime& ServiceManager::RuntimeOf(const std::string& name) { return runtime_[FoldCase(name)]; }

const ServiceManager::Runtime* ServiceManager::FindRuntime(const std::string& name) const {
  auto it = runtime_.find(FoldCase(name));
  return it != runtime_.end() ? &it->second : nullptr;
}

void ServiceManager::RemoveIfUnused(const std::string& name) {
  const std::string folded = FoldCase(name);
  auto it = runtime_.find(folded);
  if (it == runtime_.end() || !it->second.marked || it->second.state != SERVICE_STOPPED) return;
  for (const auto& [value, handle] : handles_) {
    if (!handle.manager && FoldCase(handle.name) == folded) return;
  }
  LocalRegistry().DeleteTree(KeyPath(name));
  runtime_.erase(it);
}

bool ServiceManager::DisplayNameTaken(const std::string& displayName, const std::string& except) const {
  std::shared_ptr<RegKey> services = LocalRegistry().Find(kServicesKey);
  if (!services) return false;
  const std::string folded = FoldCase(displayName);
  for (const auto& [key, entry] : services->Subkeys()) {
    if (key == FoldCase(except) || entry->Value("Type") == nullptr) continue;
    if (key == folded) return true;
    const RegValue* shown = entry->Value("DisplayName");
    if (shown != nullptr) {
      std::string text(shown->data.begin(), shown->data.end());
      text.resize(std::strlen(text.c_str()));
      if (FoldCase(text) == folded) return true;
    }
  }
  return false;
}

uint32_t ServiceManager::Entry(uintptr_t value, uint32_t access, const Handle** out) const {
  auto it = handles_.find(value);
  if (it == handles_.end() || it->second.manager) return ERROR_INVALID_HANDLE;
  if ((it->second.access & access) != access) return ERROR_ACCESS_DENIED;
  if (!Exists(it->second.name)) return ERROR_SERVICE_DOES_NOT_EXIST;
  *out = &it->second;
  return ERROR_SUCCESS;
}

uint32_t ServiceManager::CheckImage(const std::string& name) const {
  const Registry& registry = LocalRegistry();
  const std::string path = KeyPath(name);
  const uint32_t type = registry.Dword(path, "Type").value_or(0);
  const std::string image = registry.String(path, "ImagePath").value_or("");
  std::shared_ptr<RegKey> key = registry.Find(path);
  uint32_t error = ERROR_FILE_NOT_FOUND;
  for (const std::string& candidate : ImageCandidates(type, image, key ? key->Name() : name)) {
    uint32_t attributes = 0;
    error = FileSystem::Instance().QueryAttributes(candidate.c_str(), &attributes);
    if (error == ERROR_SUCCESS && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) error = ERROR_ACCESS_DENIED;
    if (error == ERROR_SUCCESS) return ERROR_SUCCESS;
  }
  return error;
}

SERVICE_STATUS ServiceManager::StatusOf(const std::string& name, const Runtime& runtime) const {
  SERVICE_STATUS status = {};
  status.dwServiceType = LocalRegistry().Dword(KeyPath(name), "Type").value_or(0);
  status.dwCurrentState = runtime.state;
  status.dwControlsAccepted = runtime.state == SERVICE_RUNNING ? SERVICE_ACCEPT_STOP : 0;
  status.dwWin32ExitCode = runtime.state == SERVICE_STOPPED ? runtime.exitCode : 0;
  status.dwCheckPoint = runtime.checkPoint;
  status.dwWaitHint = runtime.waitHint;
  return status;
}

// --- Operations ---

uint32_t ServiceManager::OpenManager(const char* machine, const char* database, uint32_t access, uintptr_t* handle) {
  if (machine != nullptr && machine[0] != '\0') return RPC_S_SERVER_UNAVAILABLE;
  if (database != nullptr && FoldCase(database) != FoldCase(SERVICES_ACTIVE_DATABASEA)) {
    return ERROR_DATABASE_DOES_NOT_EXIST;
  }
  *handle = nextHandle_;
  nextHandle_ += 4;
  handles_[*handle] = Handle{true, access | SC_MANAGER_CONNECT, ""};
  return ERROR_SUCCESS;
}

uint32_t ServiceManager::OpenEntry(uintptr_t manager, const char* name, uint32_t access, uintptr_t* handle) {
  auto it = handles_.find(manager);
  if (it == handles_.end() || !it->second.manager) return ERROR_INVALID_HANDLE;
  if (name == nullptr) return ERROR_INVALID_ADDRESS;
  if (!ValidName(name)) return ERROR_INVALID_NAME;
  if (!Exists(name)) return ERROR_SERVICE_DOES_NOT_EXIST;
  *handle = nextHandle_;
  nextHandle_ += 4;
  handles_[*handle] = Handle{false, access, name};
  return ERROR_SUCCESS;
}

uint32_t ServiceManager::CreateEntry(uintptr_t manager, const char* name, const char* displayName, uint32_t access,
                                     uint32_t type, uint32_t start, uint32_t errorControl, const char* imagePath,
                                     const char* group, uint32_t* tag, const char* dependencies, const char* startName,
                                     uintptr_t* handle) {
  auto it = handles_.find(manager);
  if (it == handles_.end() || !it->second.manager) return ERROR_INVALID_HANDLE;
  if ((it->second.access & SC_MANAGER_CREATE_SERVICE) == 0) return ERROR_ACCESS_DENIED;
  if (name == nullptr) return ERROR_INVALID_ADDRESS;
  if (!ValidName(name)) return ERROR_INVALID_NAME;
  if (displayName != nullptr && std::strlen(displayName) > kMaxServiceName) return ERROR_INVALID_NAME;
  if (imagePath == nullptr || imagePath[0] == '\0') return ERROR_INVALID_PARAMETER;
  if (!ValidType(type) || !ValidStart(type, start) || errorControl > SERVICE_ERROR_CRITICAL) {
    return ERROR_INVALID_PARAMETER;
  }
  if (tag != nullptr && start != SERVICE_BOOT_START && start != SERVICE_SYSTEM_START) return ERROR_INVALID_PARAMETER;
  if (Exists(name)) return MarkedForDeletion(name) ? ERROR_SERVICE_MARKED_FOR_DELETE : ERROR_SERVICE_EXISTS;
  if (displayName != nullptr && displayName[0] != '\0' && DisplayNameTaken(displayName, name)) {
    return ERROR_DUPLICATE_SERVICE_NAME;
  }
  Registry& registry = LocalRegistry();
  const std::string path = KeyPath(name);
  registry.SetDword(path, "Type", type);
  registry.SetDword(path, "Start", start);
  registry.SetDword(path, "ErrorControl", errorControl);
  registry.SetString(path, "ImagePath", imagePath, REG_EXPAND_SZ);
  if (displayName != nullptr && displayName[0] != '\0') registry.SetString(path, "DisplayName", displayName);
  if (group != nullptr && group[0] != '\0') registry.SetString(path, "Group", group);
  std::vector<uint8_t> dependsOn = MultiString(dependencies);
  if (!dependsOn.empty()) registry.SetBinary(path, "DependOnService", REG_MULTI_SZ, dependsOn);
  if (startName != nullptr && startName[0] != '\0') {
    registry.SetString(path, "ObjectName", startName);
  } else if (!IsDriver(type)) {
    registry.SetString(path, "ObjectName", "LocalSystem");
  }
  if (tag != nullptr) {
    *tag = 1;
    registry.SetDword(path, "Tag", 1);
  }
  runtime_.erase(FoldCase(name));
  *handle = nextHandle_;
  nextHandle_ += 4;
  handles_[*handle] = Handle{false, access, name};
  return ERROR_SUCCESS;
}

uint32_t ServiceManager::QueryConfig(uintptr_t value, QUERY_SERVICE_CONFIGA* config, uint32_t size, uint32_t* needed) {
  const Handle* handle = nullptr;
  if (uint32_t error = Entry(value, SERVICE_QUERY_CONFIG, &handle)) return error;
  if (needed == nullptr) return ERROR_INVALID_ADDRESS;
  const Registry& registry = LocalRegistry();
  const std::string path = KeyPath(handle->name);
  const std::string image =
      Faults::Instance().Text("QueryServiceConfig", handle->name, registry.String(path, "ImagePath").value_or(""));
  const std::string group = registry.String(path, "Group").value_or("");
  const std::string startName = registry.String(path, "ObjectName").value_or("");
  std::string display = registry.String(path, "DisplayName").value_or("");
  if (display.empty()) display = registry.Find(path)->Name();
  // The dependencies as a list ended by an empty string: at least two NULs.
  std::vector<uint8_t> dependencies;
  if (std::optional<RegValue> list = registry.Value(path, "DependOnService")) dependencies = list->data;
  while (dependencies.size() < 2 || dependencies[dependencies.size() - 1] != 0 ||
         dependencies[dependencies.size() - 2] != 0) {
    dependencies.push_back(0);
  }

  const size_t total = sizeof(QUERY_SERVICE_CONFIGA) + image.size() + 1 + group.size() + 1 + dependencies.size() +
                       startName.size() + 1 + display.size() + 1;
  *needed = static_cast<uint32_t>(total);
  if (config == nullptr || size < total) return ERROR_INSUFFICIENT_BUFFER;

  char* next = reinterpret_cast<char*>(config) + sizeof(QUERY_SERVICE_CONFIGA);
  auto place = [&next](const void* data, size_t length) {
    char* start = next;
    std::memcpy(next, data, length);
    next += length;
    return start;
  };
  config->dwServiceType = registry.Dword(path, "Type").value_or(0);
  config->dwStartType = registry.Dword(path, "Start").value_or(SERVICE_DEMAND_START);
  config->dwErrorControl = registry.Dword(path, "ErrorControl").value_or(SERVICE_ERROR_NORMAL);
  config->dwTagId = registry.Dword(path, "Tag").value_or(0);
  config->lpBinaryPathName = place(image.c_str(), image.size() + 1);
  config->lpLoadOrderGroup = place(group.c_str(), group.size() + 1);
  config->lpDependencies = place(dependencies.data(), dependencies.size());
  config->lpServiceStartName = place(startName.c_str(), startName.size() + 1);
  config->lpDisplayName = place(display.c_str(), display.size() + 1);
  return ERROR_SUCCESS;
}

uint32_t ServiceManager::ChangeConfig(uintptr_t value, uint32_t type, uint32_t start, uint32_t errorControl,
                                      const char* imagePath, const char* group, uint32_t* tag, const char* dependencies,
                                      const char* startName, const char* displayName) {
  const Handle* handle = nullptr;
  if (uint32_t error = Entry(value, SERVICE_CHANGE_CONFIG, &handle)) return error;
  const std::string name = handle->name;
  ++startRequests_[FoldCase(name)];
  if (MarkedForDeletion(name)) return ERROR_SERVICE_MARKED_FOR_DELETE;
  Registry& registry = LocalRegistry();
  const std::string path = KeyPath(name);
  const uint32_t newType = type != SERVICE_NO_CHANGE ? type : registry.Dword(path, "Type").value_or(0);
  const uint32_t newStart =
      start != SERVICE_NO_CHANGE ? start : registry.Dword(path, "Start").value_or(SERVICE_DEMAND_START);
  if ((type != SERVICE_NO_CHANGE && !ValidType(type)) ||
      (errorControl != SERVICE_NO_CHANGE && errorControl > SERVICE_ERROR_CRITICAL) ||
      ((type != SERVICE_NO_CHANGE || start != SERVICE_NO_CHANGE) && !ValidStart(newType, newStart))) {
    return ERROR_INVALID_PARAMETER;
  }
  if (displayName != nullptr && std::strlen(displayName) > kMaxServiceName) return ERROR_INVALID_NAME;
  if (displayName != nullptr && displayName[0] != '\0' && DisplayNameTaken(displayName, name)) {
    return ERROR_DUPLICATE_SERVICE_NAME;
  }
  if (type != SERVICE_NO_CHANGE) registry.SetDword(path, "Type", type);
  if (start != SERVICE_NO_CHANGE) registry.SetDword(path, "Start", start);
  if (errorControl != SERVICE_NO_CHANGE) registry.SetDword(path, "ErrorControl", errorControl);
  if (imagePath != nullptr) registry.SetString(path, "ImagePath", imagePath, REG_EXPAND_SZ);
  std::shared_ptr<RegKey> key = registry.Find(path);
  if (group != nullptr) {
    if (group[0] != '\0') {
      registry.SetString(path, "Group", group);
    } else {
      key->RemoveValue("Group");
    }
  }
  if (dependencies != nullptr) {
    std::vector<uint8_t> dependsOn = MultiString(dependencies);
    if (dependsOn.empty()) {
      key->RemoveValue("DependOnService");
    } else {
      registry.SetBinary(path, "DependOnService", REG_MULTI_SZ, dependsOn);
    }
  }
  if (startName != nullptr && startName[0] != '\0') registry.SetString(path, "ObjectName", startName);
  if (displayName != nullptr && displayName[0] != '\0') registry.SetString(path, "DisplayName", displayName);
  if (tag != nullptr) *tag = registry.Dword(path, "Tag").value_or(0);
  return ERROR_SUCCESS;
}

uint32_t ServiceManager::QueryStatus(uintptr_t value, SERVICE_STATUS* status) {
  const Handle* handle = nullptr;
  if (uint32_t error = Entry(value, SERVICE_QUERY_STATUS, &handle)) return error;
  if (status == nullptr) return ERROR_INVALID_ADDRESS;
  Runtime& runtime = RuntimeOf(handle->name);
  ++runtime.statusQueries;
  if (runtime.state == SERVICE_START_PENDING) {
    const uint32_t now = Clock::Instance().Now();
    runtime.queriesWithoutTime = now == runtime.lastQueryTicks ? runtime.queriesWithoutTime + 1 : 0;
    runtime.lastQueryTicks = now;
    if (runtime.queriesWithoutTime >= kMaxQueriesWithoutTime) {
      throw std::runtime_error("the service \"" + handle->name + "\" was queried " +
                               std::to_string(kMaxQueriesWithoutTime) +
                               " times while starting, the clock standing still: a wait that never sleeps");
    }
    if (now - runtime.startTicks >= kMaxStartPending) {
      throw std::runtime_error("the service \"" + handle->name +
                               "\" was still starting after an hour of status queries: a wait without a time-out");
    }
    const StartScript& script = runtime.script;
    const size_t query = ++runtime.queries;
    const StartStep last = script.pending.empty() ? StartStep{} : script.pending.back();
    if (query <= script.pending.size()) {
      runtime.checkPoint = script.pending[query - 1].checkPoint;
      runtime.waitHint = script.pending[query - 1].waitHint;
    } else {
      switch (script.ending) {
        case StartScript::Ending::kRunning:
          runtime.state = SERVICE_RUNNING;
          runtime.checkPoint = 0;
          runtime.waitHint = 0;
          break;
        case StartScript::Ending::kStopped:
          runtime.state = SERVICE_STOPPED;
          runtime.exitCode = script.exitCode;
          runtime.checkPoint = 0;
          runtime.waitHint = 0;
          break;
        case StartScript::Ending::kStalled:
          runtime.checkPoint = last.checkPoint;
          runtime.waitHint = last.waitHint;
          break;
        case StartScript::Ending::kProgressing:
          runtime.checkPoint = last.checkPoint + static_cast<uint32_t>(query - script.pending.size());
          runtime.waitHint = last.waitHint;
          break;
      }
    }
  }
  *status = StatusOf(handle->name, runtime);
  return ERROR_SUCCESS;
}

uint32_t ServiceManager::Start(uintptr_t value) {
  const Handle* handle = nullptr;
  if (uint32_t error = Entry(value, SERVICE_START, &handle)) return error;
  const std::string name = handle->name;
  ++startRequests_[FoldCase(name)];
  if (MarkedForDeletion(name)) return ERROR_SERVICE_MARKED_FOR_DELETE;
  if (LocalRegistry().Dword(KeyPath(name), "Start").value_or(SERVICE_DEMAND_START) == SERVICE_DISABLED) {
    return ERROR_SERVICE_DISABLED;
  }
  Runtime& runtime = RuntimeOf(name);
  if (runtime.state != SERVICE_STOPPED) return ERROR_SERVICE_ALREADY_RUNNING;
  auto scripted = scripts_.find(FoldCase(name));
  const StartScript script = scripted != scripts_.end() ? scripted->second : StartScript::Immediate();
  uint32_t error = script.startError != 0 ? script.startError : CheckImage(name);
  if (error != ERROR_SUCCESS) {
    runtime.exitCode = error;
    return error;
  }
  runtime.script = script;
  runtime.queries = 0;
  runtime.startTicks = Clock::Instance().Now();
  runtime.lastQueryTicks = runtime.startTicks;
  runtime.queriesWithoutTime = 0;
  runtime.exitCode = 0;
  runtime.checkPoint = 0;
  runtime.waitHint = script.pending.empty() ? 0 : script.pending.front().waitHint;
  const bool runsAtOnce = script.pending.empty() && script.ending == StartScript::Ending::kRunning;
  runtime.state = runsAtOnce ? SERVICE_RUNNING : SERVICE_START_PENDING;
  std::shared_ptr<RegKey> key = LocalRegistry().Find(KeyPath(name));
  starts_.push_back(StartRecord{key->Name(), Clock::Instance().Now()});
  return ERROR_SUCCESS;
}

uint32_t ServiceManager::Delete(uintptr_t value) {
  const Handle* handle = nullptr;
  if (uint32_t error = Entry(value, DELETE, &handle)) return error;
  Runtime& runtime = RuntimeOf(handle->name);
  if (runtime.marked) return ERROR_SERVICE_MARKED_FOR_DELETE;
  runtime.marked = true;
  return ERROR_SUCCESS;
}

uint32_t ServiceManager::Close(uintptr_t value) {
  auto it = handles_.find(value);
  if (it == handles_.end()) return ERROR_INVALID_HANDLE;
  const Handle handle = it->second;
  handles_.erase(it);
  if (!handle.manager) RemoveIfUnused(handle.name);
  return ERROR_SUCCESS;
}

const char* ServiceManager::HandleKey(uintptr_t value) const {
  auto it = handles_.find(value);
  if (it == handles_.end() || it->second.manager) return nullptr;
  return it->second.name.c_str();
}

}  // namespace host
