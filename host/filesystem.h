// The simulated machine's file system. Drive letters are folders under a
// fresh temporary root (/tmp/vrinfs-XXXXXX/C/...), removed when the machine is
// reset. Windows path rules on top of it:
// - "\" and "/" separate components; "." and ".." are applied; a drive-relative
//   path ("C:", "C:x") and a rooted path ("\x") start at the root of the drive
//   (C: is the current drive); other relative paths start at the current
//   directory, C:\.
// - Names compare without regard to letter case (host::FoldCase) and keep the
//   spelling they were created with.
// - A path of 260 characters or more (one that does not fit MAX_PATH with its
//   NUL) fails with ERROR_FILENAME_EXCED_RANGE, as the ANSI entry points do;
//   so does a component longer than 255 characters. A missing drive or folder
//   on the way is ERROR_PATH_NOT_FOUND; UNC paths are ERROR_BAD_NETPATH.
// - Attributes live in a side table (the tests run as root, so the Linux
//   permissions would stop nothing): read-only files refuse deletion and
//   writing, read-only folders refuse removal.
// - Files "held open" by another process and the process's own handles take
//   part in the sharing check of every open, deletion and removal.
// - Deletion at restart is recorded where Windows records it, in the registry
//   value PendingFileRenameOperations; Restart() applies and clears it.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <utility>
#include <vector>

namespace host {

// The Windows C runtime's errno numbers (Linux's differ).
constexpr int kCrtENOENT = 2;
constexpr int kCrtEACCES = 13;
constexpr int kCrtEINVAL = 22;
constexpr int kCrtENOTEMPTY = 41;

// Where a path was found, or would be created.
struct FileLocation {
  char drive = 'C';
  std::vector<std::string> parts;  // components as given, "." and ".." applied
  std::string hostParent;          // Linux folder holding the last component
  std::string storedName;          // its stored spelling when it exists, else as given
  bool exists = false;
  bool directory = false;

  bool IsRoot() const { return parts.empty(); }
  std::string HostPath() const;
  // "C:\a\b" in the caller's spelling ("C:\" for a root).
  std::string WindowsPath() const;
  // The key of the side tables: the path with letter case folded.
  std::string Key() const;
};

struct FindEntryData {
  std::string name;
  uint32_t attributes = 0;
  uint64_t size = 0;
};

class FileSystem {
 public:
  static FileSystem& Instance();
  FileSystem(const FileSystem&) = delete;
  FileSystem& operator=(const FileSystem&) = delete;
  ~FileSystem();

  // A fresh, empty machine: drive C: with C:\WINDOWS\system32, no handles,
  // nothing held open, nothing read-only.
  void Reset();
  const std::string& Root() const { return root_; }

  // --- Seeding and inspection for tests (Windows paths; throw on a path the
  // machine cannot hold). Missing folders and drives are created. ---
  void AddDirectory(const std::string& path);
  void AddFile(const std::string& path, const std::string& content = "");
  std::optional<std::string> FileContent(const std::string& path) const;
  bool Exists(const std::string& path) const;
  bool IsDirectory(const std::string& path) const;
  // The Linux path of an existing file or folder.
  std::string HostPath(const std::string& path) const;
  // Names in a folder, in the order FindFirstFile lists them (no "." or "..").
  std::vector<std::string> List(const std::string& path) const;
  // Writes each drive's tree to folder/<letter>/... on the real disk.
  void WriteDrives(const std::string& folder) const;
  void SetReadOnly(const std::string& path, bool readOnly = true);
  // Another process holds the file open with this access (GENERIC_READ, ...)
  // and sharing (FILE_SHARE_...), until Release or Restart.
  void HoldOpen(const std::string& path, uint32_t access, uint32_t share);
  // Another process uses the folder (a handle without delete sharing): it
  // cannot be removed until Release or Restart.
  void HoldDirectory(const std::string& path);
  void Release(const std::string& path);
  // The restart of the machine: the pending operations are applied in order
  // (files deleted, read-only or not; folders removed only if empty by then;
  // renames done), the list is cleared, and what other processes held is free.
  void Restart();
  // PendingFileRenameOperations as (source, target) pairs, "\??\" prefixes
  // kept; an empty target is a deletion.
  std::vector<std::pair<std::string, std::string>> PendingOperations() const;
  int OpenFileHandles() const { return static_cast<int>(files_.size()); }
  int OpenFindHandles() const { return static_cast<int>(finds_.size()); }

  // --- The operations behind the simulated Win32 calls: 0 or a Win32 error. ---
  uint32_t Locate(const char* path, FileLocation* out, bool wildcards = false) const;
  uint32_t QueryAttributes(const char* path, uint32_t* attributes) const;
  uint32_t ChangeAttributes(const char* path, uint32_t attributes);
  uint32_t Unlink(const char* path);
  uint32_t MakeDirectory(const char* path);
  uint32_t RemoveEmptyDirectory(const char* path);
  uint32_t ScheduleAtRestart(const char* source, const char* target, bool replace);
  uint32_t Rename(const char* source, const char* target, bool replace);
  uint32_t Open(const char* path, uint32_t access, uint32_t share, uint32_t disposition, uint32_t attributes,
                uintptr_t* handle, bool* existed);
  uint32_t Read(uintptr_t handle, void* buffer, uint32_t count, uint32_t* read);
  uint32_t Write(uintptr_t handle, const void* buffer, uint32_t count, uint32_t* written);
  uint32_t Size(uintptr_t handle, uint64_t* size) const;
  uint32_t Close(uintptr_t handle);
  // The path of an open file handle, case folded (for fault keys), or null.
  const char* HandleKey(uintptr_t handle) const;
  uint32_t FindStart(const char* pattern, uintptr_t* handle, FindEntryData* first);
  uint32_t FindNext(uintptr_t handle, FindEntryData* next);
  uint32_t FindEnd(uintptr_t handle);
  // The whole content of a file opened (and closed again) with this access
  // and sharing; the path as callers of the profile and version calls pass it.
  uint32_t ReadWhole(const char* path, uint32_t access, uint32_t share, std::string* content) const;
  uint32_t WriteWhole(const char* path, uint32_t access, uint32_t share, const std::string& content);

  // Attributes as GetFileAttributes reports them.
  uint32_t Attributes(const FileLocation& location) const;

 private:
  struct Hold {
    uint32_t access;
    uint32_t share;
  };
  struct OpenFile {
    std::string key;
    std::string hostPath;
    uint32_t access;
    uint32_t share;
    int fd;
  };
  struct FindState {
    std::string directoryHost;
    std::vector<std::string> names;
    size_t next = 0;
  };

  FileSystem();
  void MakeRoot();
  void RemoveRoot();
  // The Windows path of a test call, located; throws when unusable.
  FileLocation LocateForTest(const std::string& path) const;
  // Creates the folders of path (and its drive) that are missing.
  FileLocation CreateParents(const std::string& path);
  // 0 or ERROR_SHARING_VIOLATION: would an open with access and share
  // conflict with the opens already made on the file?
  uint32_t CheckSharing(const std::string& key, uint32_t access, uint32_t share) const;
  bool ReadOnly(const std::string& key) const;
  void Forget(const std::string& key);
  void MoveSideEntries(const std::string& fromKey, const std::string& toKey);
  uintptr_t NextHandle();
  bool FillFindData(const FindState& state, const std::string& name, FindEntryData* data) const;

  std::string root_;
  std::map<std::string, uint32_t> attributes_;  // settable attributes by key
  std::map<std::string, Hold> held_;            // files other processes hold open
  std::set<std::string> heldDirectories_;
  std::map<uintptr_t, OpenFile> files_;
  std::map<uintptr_t, FindState> finds_;
  uintptr_t nextHandle_ = 0x100;
};

// Shorthand for tests.
inline FileSystem& Files() { return FileSystem::Instance(); }

// Where Windows records deletions and renames for the next restart.
inline constexpr const char* kSessionManagerKey =
    "HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Control\\Session Manager";
inline constexpr const char* kPendingRenamesValue = "PendingFileRenameOperations";

// The Windows and system folders of the machine.
inline constexpr const char* kWindowsDirectory = "C:\\WINDOWS";
inline constexpr const char* kSystemDirectory = "C:\\WINDOWS\\system32";

}  // namespace host
