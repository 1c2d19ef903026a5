// The shell's namespace on the simulated machine, as far as the library uses
// it: the common Programs folder of the Start menu (CSIDL_COMMON_PROGRAMS),
// the item ID lists that name it, and the shell's task allocator with an
// account of what callers still hold.
//
// - The common Programs folder is a path set per machine; the default is the
//   folder of the Windows versions the machine reports by default (Windows
//   10): "C:\ProgramData\Microsoft\Windows\Start Menu\Programs". Earlier
//   Windows (2000, XP) had "C:\Documents and Settings\All Users\Start
//   Menu\Programs" (kLegacyCommonPrograms). The folder is not created with the
//   machine: a test creates it (Files().AddDirectory) or the lookup fails with
//   E_FAIL, as shell32 6.0 fails SHGetSpecialFolderLocation for a missing
//   folder.
// - SHGetSpecialFolderLocation knows CSIDL_COMMON_PROGRAMS only; other
//   folders are E_INVALIDARG. The item ID list it returns is allocated from
//   the task allocator and holds the folder's path; SHGetPathFromIDList gives
//   that path back while the list is alive.
// - SHGetMalloc hands out a reference to the one task allocator. Every item
//   ID list must go back through IMalloc::Free and every reference through
//   Release; what is left, and every misuse (freeing a block the allocator
//   did not hand out or one already freed, a Release too many, a call on the
//   allocator after its last reference went), is counted for the tests.
// - Faults (host::Faults): "SHGetMalloc" and "SHGetSpecialFolderLocation"
//   return the injected number as their HRESULT; "SHGetPathFromIDList" fails
//   with it as the last error; "OpenFile" (keyed by the path) fails with it.
#pragma once

#include <cstddef>
#include <map>
#include <string>
#include <vector>

namespace host {

inline constexpr const char* kDefaultCommonPrograms = "C:\\ProgramData\\Microsoft\\Windows\\Start Menu\\Programs";
inline constexpr const char* kLegacyCommonPrograms = "C:\\Documents and Settings\\All Users\\Start Menu\\Programs";

class ShellFolders {
 public:
  static ShellFolders& Instance();

  // The default folder, no item ID lists, no references, no misuses.
  void Reset();

  void SetCommonPrograms(const std::string& path) { commonPrograms_ = path; }
  const std::string& CommonPrograms() const { return commonPrograms_; }

  // Blocks of the task allocator not freed yet (item ID lists included).
  int LiveBlocks() const { return static_cast<int>(blocks_.size()); }
  // Item ID lists handed out by SHGetSpecialFolderLocation not freed yet.
  int LiveItemLists() const;
  // References to the task allocator handed out and not released.
  int AllocatorReferences() const { return references_; }
  // SHGetMalloc calls that handed out a reference.
  int AllocatorRequests() const { return requests_; }
  const std::vector<std::string>& Misuses() const { return misuses_; }
  void NoteMisuse(const std::string& misuse) { misuses_.push_back(misuse); }

  // --- The operations behind the simulated calls. ---
  // A new reference to the task allocator.
  void* AcquireAllocator();
  // An item ID list holding path, allocated from the task allocator.
  void* NewItemList(const std::string& path);
  // The path of a live item ID list; false for anything else.
  bool ItemListPath(const void* list, std::string* path) const;

  // The task allocator's methods.
  unsigned AddReference();
  unsigned ReleaseReference();
  void* Allocate(size_t size, bool itemList = false);
  void* Reallocate(void* block, size_t size);
  void FreeBlock(void* block);
  size_t BlockSize(void* block);
  int Owns(void* block);

 private:
  struct Block {
    size_t size = 0;
    bool itemList = false;
  };
  ShellFolders() = default;
  // A call on the allocator when no reference is held is a misuse.
  void CheckReferenced(const char* method);
  void FreeAll();

  std::string commonPrograms_ = kDefaultCommonPrograms;
  std::map<void*, Block> blocks_;
  int references_ = 0;
  int requests_ = 0;
  std::vector<std::string> misuses_;
};

// A block's address as misuse records show it.
std::string DescribeBlock(const void* block);

}  // namespace host
