// The Windows version the simulated machine reports, and its DLLs as seen by
// LoadLibrary, GetProcAddress and FreeLibrary: load counts per module and a
// record of every misuse (a handle used after its last release, a release too
// many, a call into a DLL that is no longer loaded).
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "host/win32_system.h"

namespace host {

struct WindowsVersion {
  uint32_t major = 10;
  uint32_t minor = 0;
  uint32_t build = 19045;  // the whole dwBuildNumber, high word included
  uint32_t platformId = VER_PLATFORM_WIN32_NT;
  std::string servicePack;  // szCSDVersion
  uint8_t productType = 1;  // VER_NT_WORKSTATION
};

class SystemInfo {
 public:
  static SystemInfo& Instance();
  // Windows 10 (10.0.19045), no service pack text.
  void Reset() { version_ = WindowsVersion(); }
  void SetVersion(const WindowsVersion& version) { version_ = version; }
  // Shorthand: an NT version with this build number.
  void SetBuild(uint32_t major, uint32_t minor, uint32_t build);
  const WindowsVersion& Version() const { return version_; }

 private:
  WindowsVersion version_;
};

class Modules {
 public:
  static Modules& Instance();

  // The machine's DLLs: NETAPI32.DLL with its share exports; nothing loaded.
  void Reset();
  // Adds (or replaces) a DLL; names compare without regard to case and a name
  // without extension means ".dll", as LoadLibrary reads them.
  void Register(const std::string& name, std::map<std::string, FARPROC> exports);
  // The DLL is not on the machine: LoadLibrary fails with ERROR_MOD_NOT_FOUND.
  void Remove(const std::string& name);
  // The DLL lacks this entry point: GetProcAddress fails with ERROR_PROC_NOT_FOUND.
  void RemoveExport(const std::string& name, const std::string& procedure);

  // How often the DLL is loaded now (LoadLibrary minus FreeLibrary).
  int LoadCount(const std::string& name) const;
  // Successful LoadLibrary calls for the DLL since Reset.
  int LoadCalls(const std::string& name) const;
  // DLLs loaded now, of all of them.
  int LoadedModules() const;
  const std::vector<std::string>& Misuses() const { return misuses_; }
  // Called by a simulated DLL's entry point: records a misuse when the DLL is
  // not loaded (the call would run in unmapped code on Windows).
  void CheckCallable(const std::string& name, const char* procedure);

  // The operations behind the Win32 calls: 0 or a Win32 error.
  uint32_t Load(const char* fileName, HMODULE* module);
  uint32_t Find(HMODULE module, const char* procedure, FARPROC* address);
  uint32_t Free(HMODULE module);

 private:
  struct Module {
    std::string name;  // as registered
    std::unique_ptr<HINSTANCE__> handle;
    std::map<std::string, FARPROC> exports;  // case-sensitive, as GetProcAddress
    bool present = true;                     // false after Remove: no longer loadable
    int count = 0;
    int loads = 0;
  };
  Module* ByName(const std::string& name);
  const Module* ByName(const std::string& name) const;
  Module* ByHandle(HMODULE module);

  std::map<std::string, Module> modules_;  // by folded file name
  std::vector<std::string> misuses_;
};

}  // namespace host
