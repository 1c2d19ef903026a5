// The simulated machine's Service Control Manager. Its database is where
// Windows keeps it, in the registry under kServicesKey: a subkey with a Type
// value is a service entry (Type, Start, ErrorControl, ImagePath as
// REG_EXPAND_SZ, Group, DisplayName, ObjectName, DependOnService, Tag), so a
// .reg seed describes services too. What Windows keeps only in memory lives
// here: the current state, the checkpoint and wait hint of a start, the exit
// code, the deletion mark, and the open handles.
//
// Windows rules it follows:
// - Names compare without regard to letter case; "\" and "/" are not allowed.
// - DeleteService marks the entry. A marked entry goes (registry key and all)
//   once it is stopped and no handle refers to it any more: a stopped entry
//   goes when its deleter closes its handle; a running one (a loaded filter
//   driver) stays until the machine restarts. Meanwhile it can still be
//   opened and queried, but CreateService, ChangeServiceConfig, StartService
//   and DeleteService answer ERROR_SERVICE_MARKED_FOR_DELETE.
// - StartService needs the image: a driver's ImagePath ("\SystemRoot\...",
//   "\??\C:\...", %SystemRoot%, a path relative to the Windows folder, or
//   none: system32\drivers\<name>.sys); a service's command line, quoted or
//   with the prefixes CreateProcess tries at each blank. A missing image makes
//   it fail with the file system's error (ERROR_FILE_NOT_FOUND or
//   ERROR_PATH_NOT_FOUND), as Windows reports the driver load or the process
//   creation; Wine's driver host fails differently (a stopped service with a
//   DLL initialisation error), which this machine does not copy.
// - Dependencies are stored and reported, not started; restart starts nothing.
//
// A start that never ends cannot hang a test: while a start is pending, a
// status query throws std::runtime_error once kMaxQueriesWithoutTime queries
// have passed without the clock moving (a caller that polls and never
// sleeps), or once kMaxStartPending milliseconds of the clock have passed
// since the start (a caller that waits without a time-out).
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "host/win32_services.h"

namespace host {

inline constexpr const char* kServicesKey = "HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Services";
inline constexpr int kMaxQueriesWithoutTime = 100000;
inline constexpr uint32_t kMaxStartPending = 3600000;  // an hour

// One status that a starting service reports.
struct StartStep {
  uint32_t checkPoint = 0;
  uint32_t waitHint = 0;
};

// What a service does when StartService starts it. The script runs on status
// queries, not on the clock: the n-th QueryServiceStatus after the start
// reports pending[n-1] (SERVICE_START_PENDING with its checkpoint and wait
// hint) and the queries after the last step report the ending. Time passes
// only through the caller's Sleep, so a caller that sleeps the wait hints
// between queries sees the start take their sum.
struct StartScript {
  enum class Ending {
    kRunning,      // SERVICE_RUNNING
    kStopped,      // SERVICE_STOPPED with exitCode: the start failed after StartService returned
    kStalled,      // the last step again at every query: a frozen checkpoint
    kProgressing,  // still starting: the checkpoint grows by one at every query
  };
  uint32_t startError = 0;  // StartService fails with it at once and nothing starts
  std::vector<StartStep> pending;
  Ending ending = Ending::kRunning;
  uint32_t exitCode = 0;

  // Running when StartService returns: what a service without a script does.
  static StartScript Immediate();
  // Start pending at queries 1 .. n-1 (checkpoints 1 .. n-1), running at query n.
  static StartScript RunningAfter(int queries, uint32_t waitHint);
  // Start pending with a checkpoint that never moves.
  static StartScript Stalled(uint32_t checkPoint, uint32_t waitHint);
  // Start pending for ever, the checkpoint moving on at every query.
  static StartScript Progressing(uint32_t waitHint);
  // StartService refuses with error.
  static StartScript Refused(uint32_t error);
  // Start pending at queries 1 .. n-1, stopped with exitCode at query n.
  static StartScript StoppedAfter(int queries, uint32_t exitCode, uint32_t waitHint);
};

// A service entry as a test seeds it, written to the registry as Windows
// writes one; empty texts write no value.
struct ServiceEntry {
  std::string name;
  std::string displayName;
  uint32_t type = SERVICE_WIN32_OWN_PROCESS;
  uint32_t start = SERVICE_DEMAND_START;
  uint32_t errorControl = SERVICE_ERROR_NORMAL;
  std::string imagePath;
  std::string group;
  std::string objectName;
};

// A successful StartService: which entry, at which tick count.
struct StartRecord {
  std::string name;
  uint32_t ticks;
};

class ServiceManager {
 public:
  static ServiceManager& Instance();

  // No handles, no runtime state, no scripts, nothing started. The entries
  // are in the registry, which the machine's reset clears.
  void Reset();

  // --- Test API (names as the entries are spelled; unknown entries throw
  // where noted). ---
  void Add(const ServiceEntry& entry);
  bool Exists(const std::string& name) const;
  std::string KeyPath(const std::string& name) const;
  // Running now, as if started at boot (throws for an unknown entry).
  void SetRunning(const std::string& name);
  // Stopped now; a marked entry that no handle refers to goes.
  void Stop(const std::string& name);
  // The status QueryServiceStatus would report, without moving a start on;
  // nothing for an unknown entry.
  std::optional<SERVICE_STATUS> Status(const std::string& name) const;
  bool MarkedForDeletion(const std::string& name) const;
  // The script of the entry's next starts (kept across deletion and creation).
  void SetStartScript(const std::string& name, const StartScript& script);
  // Every entry starts as a service without a script does.
  void ClearStartScripts() { scripts_.clear(); }
  // StartService calls on the entry since the reset, refused ones included.
  int StartRequests(const std::string& name) const;
  const std::vector<StartRecord>& Starts() const { return starts_; }
  int StatusQueries(const std::string& name) const;
  int OpenHandles() const { return static_cast<int>(handles_.size()); }
  // The restart of the machine: every handle is gone, marked entries go,
  // the others stop.
  void Restart();

  // --- The operations behind the simulated calls: 0 or a Win32 error. ---
  uint32_t OpenManager(const char* machine, const char* database, uint32_t access, uintptr_t* handle);
  uint32_t OpenEntry(uintptr_t manager, const char* name, uint32_t access, uintptr_t* handle);
  uint32_t CreateEntry(uintptr_t manager, const char* name, const char* displayName, uint32_t access, uint32_t type,
                       uint32_t start, uint32_t errorControl, const char* imagePath, const char* group, uint32_t* tag,
                       const char* dependencies, const char* startName, uintptr_t* handle);
  uint32_t QueryConfig(uintptr_t handle, QUERY_SERVICE_CONFIGA* config, uint32_t size, uint32_t* needed);
  uint32_t ChangeConfig(uintptr_t handle, uint32_t type, uint32_t start, uint32_t errorControl, const char* imagePath,
                        const char* group, uint32_t* tag, const char* dependencies, const char* startName,
                        const char* displayName);
  uint32_t QueryStatus(uintptr_t handle, SERVICE_STATUS* status);
  uint32_t Start(uintptr_t handle);
  uint32_t Delete(uintptr_t handle);
  uint32_t Close(uintptr_t handle);
  // The name a service handle was opened with (the fault key), or null.
  const char* HandleKey(uintptr_t handle) const;

 private:
  struct Handle {
    bool manager = false;
    uint32_t access = 0;
    std::string name;  // the entry, as the caller spelled it
  };
  struct Runtime {
    uint32_t state = SERVICE_STOPPED;
    uint32_t checkPoint = 0;
    uint32_t waitHint = 0;
    uint32_t exitCode = ERROR_SERVICE_NEVER_STARTED;
    bool marked = false;
    StartScript script;  // of the start under way
    size_t queries = 0;  // status queries since that start
    uint32_t startTicks = 0;
    uint32_t lastQueryTicks = 0;
    int queriesWithoutTime = 0;  // since the clock last moved
    int statusQueries = 0;
  };

  ServiceManager() = default;
  // The service handle's entry, checked for existence and access.
  uint32_t Entry(uintptr_t handle, uint32_t access, const Handle** out) const;
  Runtime& RuntimeOf(const std::string& name);
  const Runtime* FindRuntime(const std::string& name) const;
  // Removes a marked entry that is stopped and unreferenced.
  void RemoveIfUnused(const std::string& name);
  // Another entry (not except) shows displayName, or is named so.
  bool DisplayNameTaken(const std::string& displayName, const std::string& except) const;
  uint32_t CheckImage(const std::string& name) const;
  SERVICE_STATUS StatusOf(const std::string& name, const Runtime& runtime) const;

  std::map<uintptr_t, Handle> handles_;
  std::map<std::string, Runtime> runtime_;      // by folded name
  std::map<std::string, StartScript> scripts_;  // by folded name
  std::map<std::string, int> startRequests_;    // by folded name
  std::vector<StartRecord> starts_;
  uintptr_t nextHandle_ = 0x5C000;
};

inline ServiceManager& Services() { return ServiceManager::Instance(); }

}  // namespace host
