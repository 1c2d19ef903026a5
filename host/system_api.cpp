// GetVersionEx and the loader (LoadLibrary, GetProcAddress, FreeLibrary) of
// the simulated machine.
#include <cstring>

#include "host/code_page.h"
#include "host/faults.h"
#include "host/shares.h"
#include "host/system.h"
#include "host/win32_api.h"

namespace host {

namespace {

// The key of a DLL: the file name without folders, letter case folded, with
// ".dll" added when it has no extension (a trailing dot means none).
std::string ModuleKey(const std::string& fileName) {
  size_t slash = fileName.find_last_of("\\/");
  std::string base = slash == std::string::npos ? fileName : fileName.substr(slash + 1);
  if (!base.empty() && base.back() == '.') {
    base.pop_back();
  } else if (base.find('.') == std::string::npos) {
    base += ".dll";
  }
  return FoldCase(base);
}

}  // namespace

SystemInfo& SystemInfo::Instance() {
  static SystemInfo info;
  return info;
}

void SystemInfo::SetBuild(uint32_t major, uint32_t minor, uint32_t build) {
  version_ = WindowsVersion();
  version_.major = major;
  version_.minor = minor;
  version_.build = build;
}

Modules& Modules::Instance() {
  static Modules modules;
  return modules;
}

void Modules::Reset() {
  modules_.clear();
  misuses_.clear();
  Register("NETAPI32.DLL", NetApi32Exports());
}

void Modules::Register(const std::string& name, std::map<std::string, FARPROC> exports) {
  Module& module = modules_[ModuleKey(name)];
  module.name = name;
  if (!module.handle) module.handle = std::make_unique<HINSTANCE__>();
  module.exports = std::move(exports);
  module.present = true;
}

void Modules::Remove(const std::string& name) {
  if (Module* module = ByName(name)) module->present = false;
}

void Modules::RemoveExport(const std::string& name, const std::string& procedure) {
  if (Module* module = ByName(name)) module->exports.erase(procedure);
}

int Modules::LoadCount(const std::string& name) const {
  const Module* module = ByName(name);
  return module != nullptr ? module->count : 0;
}

int Modules::LoadCalls(const std::string& name) const {
  const Module* module = ByName(name);
  return module != nullptr ? module->loads : 0;
}

int Modules::LoadedModules() const {
  int loaded = 0;
  for (const auto& [key, module] : modules_) {
    if (module.count > 0) ++loaded;
  }
  return loaded;
}

void Modules::CheckCallable(const std::string& name, const char* procedure) {
  if (LoadCount(name) == 0) misuses_.push_back(std::string(procedure) + " called while " + name + " is not loaded");
}

uint32_t Modules::Load(const char* fileName, HMODULE* module) {
  *module = nullptr;
  if (fileName == nullptr || fileName[0] == '\0') return ERROR_INVALID_PARAMETER;
  Module* found = ByName(fileName);
  if (found == nullptr || !found->present) return ERROR_MOD_NOT_FOUND;
  ++found->count;
  ++found->loads;
  *module = found->handle.get();
  return ERROR_SUCCESS;
}

uint32_t Modules::Find(HMODULE module, const char* procedure, FARPROC* address) {
  *address = nullptr;
  Module* found = ByHandle(module);
  if (found == nullptr) {
    misuses_.push_back("GetProcAddress with an unknown handle");
    return ERROR_INVALID_HANDLE;
  }
  if (found->count == 0) {
    misuses_.push_back(std::string("GetProcAddress on ") + found->name + " after its last release");
    return ERROR_INVALID_HANDLE;
  }
  // Ordinals (a value below 0x10000 in place of a name) are not offered.
  if (reinterpret_cast<uintptr_t>(procedure) < 0x10000) return ERROR_PROC_NOT_FOUND;
  auto it = found->exports.find(procedure);
  if (it == found->exports.end() || it->second == nullptr) return ERROR_PROC_NOT_FOUND;
  *address = it->second;
  return ERROR_SUCCESS;
}

uint32_t Modules::Free(HMODULE module) {
  Module* found = ByHandle(module);
  if (found == nullptr) {
    misuses_.push_back("FreeLibrary with an unknown handle");
    return ERROR_INVALID_HANDLE;
  }
  if (found->count == 0) {
    misuses_.push_back(std::string("FreeLibrary of ") + found->name + " after its last release");
    return ERROR_INVALID_HANDLE;
  }
  --found->count;
  return ERROR_SUCCESS;
}

Modules::Module* Modules::ByName(const std::string& name) {
  auto it = modules_.find(ModuleKey(name));
  return it == modules_.end() ? nullptr : &it->second;
}

const Modules::Module* Modules::ByName(const std::string& name) const {
  auto it = modules_.find(ModuleKey(name));
  return it == modules_.end() ? nullptr : &it->second;
}

Modules::Module* Modules::ByHandle(HMODULE module) {
  if (module == nullptr) return nullptr;
  for (auto& [key, found] : modules_) {
    if (found.handle.get() == module) return &found;
  }
  return nullptr;
}

}  // namespace host

extern "C" {

BOOL GetVersionExA(LPOSVERSIONINFOA lpVersionInformation) {
  if (auto error = host::Faults::Instance().Check("GetVersionEx")) {
    SetLastError(*error);
    return FALSE;
  }
  if (lpVersionInformation == nullptr) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  const DWORD size = lpVersionInformation->dwOSVersionInfoSize;
  if (size != sizeof(OSVERSIONINFOA) && size != sizeof(OSVERSIONINFOEXA)) {
    SetLastError(ERROR_INSUFFICIENT_BUFFER);
    return FALSE;
  }
  const host::WindowsVersion& version = host::SystemInfo::Instance().Version();
  lpVersionInformation->dwMajorVersion = version.major;
  lpVersionInformation->dwMinorVersion = version.minor;
  lpVersionInformation->dwBuildNumber = version.build;
  lpVersionInformation->dwPlatformId = version.platformId;
  std::memset(lpVersionInformation->szCSDVersion, 0, sizeof(lpVersionInformation->szCSDVersion));
  std::strncpy(lpVersionInformation->szCSDVersion, version.servicePack.c_str(),
               sizeof(lpVersionInformation->szCSDVersion) - 1);
  if (size == sizeof(OSVERSIONINFOEXA)) {
    auto* extended = reinterpret_cast<LPOSVERSIONINFOEXA>(lpVersionInformation);
    extended->wServicePackMajor = 0;
    extended->wServicePackMinor = 0;
    extended->wSuiteMask = 0;
    extended->wProductType = version.productType;
    extended->wReserved = 0;
  }
  return TRUE;
}

HMODULE LoadLibraryA(LPCSTR lpLibFileName) {
  if (auto error = host::Faults::Instance().Check("LoadLibrary", lpLibFileName)) {
    SetLastError(*error);
    return nullptr;
  }
  HMODULE module = nullptr;
  uint32_t error = host::Modules::Instance().Load(lpLibFileName, &module);
  if (error != ERROR_SUCCESS) SetLastError(error);
  return module;
}

FARPROC GetProcAddress(HMODULE hModule, LPCSTR lpProcName) {
  const bool named = reinterpret_cast<uintptr_t>(lpProcName) >= 0x10000;
  if (auto error = host::Faults::Instance().Check("GetProcAddress", named ? lpProcName : nullptr)) {
    SetLastError(*error);
    return nullptr;
  }
  FARPROC address = nullptr;
  uint32_t error = host::Modules::Instance().Find(hModule, lpProcName, &address);
  if (error != ERROR_SUCCESS) SetLastError(error);
  return address;
}

BOOL FreeLibrary(HMODULE hLibModule) {
  if (auto error = host::Faults::Instance().Check("FreeLibrary")) {
    SetLastError(*error);
    return FALSE;
  }
  uint32_t error = host::Modules::Instance().Free(hLibModule);
  if (error != ERROR_SUCCESS) {
    SetLastError(error);
    return FALSE;
  }
  return TRUE;
}
}
