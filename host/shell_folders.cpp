// shell32's folder calls over the simulated file system, and the task
// allocator behind them (host/shell_folders.h).
#include "host/shell_folders.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "host/faults.h"
#include "host/filesystem.h"
#include "host/win32_api.h"
#include "host/win32_shell.h"

namespace host {

std::string DescribeBlock(const void* block) {
  char text[32] = {};
  std::snprintf(text, sizeof(text), "%p", block);
  return text;
}

namespace {

// The allocator object callers hold: its methods are the account's.
class TaskAllocator : public IMalloc {
 public:
  HRESULT QueryInterface(REFIID riid, void** ppvObject) override {
    (void)riid;
    // Nothing asks the simulated allocator for another interface.
    if (ppvObject != nullptr) *ppvObject = nullptr;
    return E_NOINTERFACE;
  }
  ULONG AddRef() override { return ShellFolders::Instance().AddReference(); }
  ULONG Release() override { return ShellFolders::Instance().ReleaseReference(); }
  void* Alloc(SIZE_T cb) override { return ShellFolders::Instance().Allocate(cb); }
  void* Realloc(void* pv, SIZE_T cb) override { return ShellFolders::Instance().Reallocate(pv, cb); }
  void Free(void* pv) override { ShellFolders::Instance().FreeBlock(pv); }
  SIZE_T GetSize(void* pv) override { return ShellFolders::Instance().BlockSize(pv); }
  int DidAlloc(void* pv) override { return ShellFolders::Instance().Owns(pv); }
  void HeapMinimize() override {}
};

TaskAllocator& Allocator() {
  static TaskAllocator allocator;
  return allocator;
}

constexpr size_t kSizeField = sizeof(USHORT);

}  // namespace

ShellFolders& ShellFolders::Instance() {
  static ShellFolders folders;
  return folders;
}

void ShellFolders::Reset() {
  FreeAll();
  commonPrograms_ = kDefaultCommonPrograms;
  references_ = 0;
  requests_ = 0;
  misuses_.clear();
}

void ShellFolders::FreeAll() {
  for (auto& [block, info] : blocks_) std::free(block);
  blocks_.clear();
}

int ShellFolders::LiveItemLists() const {
  int count = 0;
  for (const auto& [block, info] : blocks_) count += info.itemList ? 1 : 0;
  return count;
}

void* ShellFolders::AcquireAllocator() {
  ++references_;
  ++requests_;
  return static_cast<IMalloc*>(&Allocator());
}

void ShellFolders::CheckReferenced(const char* method) {
  if (references_ <= 0) misuses_.push_back(std::string("IMalloc::") + method + " without a reference");
}

unsigned ShellFolders::AddReference() {
  CheckReferenced("AddRef");
  return static_cast<unsigned>(++references_);
}

unsigned ShellFolders::ReleaseReference() {
  if (references_ <= 0) {
    misuses_.push_back("IMalloc::Release too many");
    return 0;
  }
  return static_cast<unsigned>(--references_);
}

void* ShellFolders::Allocate(size_t size, bool itemList) {
  if (!itemList) CheckReferenced("Alloc");
  // Zero bytes is a valid request that still gets a block of its own.
  void* block = std::malloc(size == 0 ? 1 : size);
  if (block == nullptr) return nullptr;
  blocks_[block] = Block{size, itemList};
  return block;
}

void* ShellFolders::Reallocate(void* block, size_t size) {
  CheckReferenced("Realloc");
  if (block == nullptr) return Allocate(size);
  auto it = blocks_.find(block);
  if (it == blocks_.end()) {
    misuses_.push_back("IMalloc::Realloc of " + DescribeBlock(block) + ", which it did not hand out");
    return nullptr;
  }
  if (size == 0) {
    FreeBlock(block);
    return nullptr;
  }
  void* moved = std::realloc(block, size);
  if (moved == nullptr) return nullptr;
  Block info = it->second;
  info.size = size;
  blocks_.erase(it);
  blocks_[moved] = info;
  return moved;
}

void ShellFolders::FreeBlock(void* block) {
  CheckReferenced("Free");
  if (block == nullptr) return;  // freeing null is allowed and does nothing
  auto it = blocks_.find(block);
  if (it == blocks_.end()) {
    misuses_.push_back("IMalloc::Free of " + DescribeBlock(block) + ", which it did not hand out or already freed");
    return;
  }
  std::free(block);
  blocks_.erase(it);
}

size_t ShellFolders::BlockSize(void* block) {
  CheckReferenced("GetSize");
  auto it = blocks_.find(block);
  return it == blocks_.end() ? static_cast<size_t>(-1) : it->second.size;
}

int ShellFolders::Owns(void* block) {
  CheckReferenced("DidAlloc");
  if (block == nullptr) return -1;
  return blocks_.count(block) != 0 ? 1 : 0;
}

void* ShellFolders::NewItemList(const std::string& path) {
  // One item holding the path and its NUL, then the terminating zero size.
  const size_t item = kSizeField + path.size() + 1;
  if (item > 0xFFFF) return nullptr;
  uint8_t* list = static_cast<uint8_t*>(Allocate(item + kSizeField, true));
  if (list == nullptr) return nullptr;
  const USHORT cb = static_cast<USHORT>(item);
  std::memcpy(list, &cb, kSizeField);
  std::memcpy(list + kSizeField, path.c_str(), path.size() + 1);
  std::memset(list + item, 0, kSizeField);
  return list;
}

bool ShellFolders::ItemListPath(const void* list, std::string* path) const {
  auto it = blocks_.find(const_cast<void*>(list));
  if (it == blocks_.end() || !it->second.itemList) return false;
  *path = reinterpret_cast<const char*>(static_cast<const uint8_t*>(list) + kSizeField);
  return true;
}

}  // namespace host

extern "C" {

HRESULT SHGetMalloc(LPMALLOC* ppMalloc) {
  if (ppMalloc == nullptr) return E_INVALIDARG;
  *ppMalloc = nullptr;
  if (auto error = host::Faults::Instance().Check("SHGetMalloc")) return static_cast<HRESULT>(*error);
  *ppMalloc = static_cast<LPMALLOC>(host::ShellFolders::Instance().AcquireAllocator());
  return S_OK;
}

HRESULT SHGetSpecialFolderLocation(HWND hwnd, int csidl, PIDLIST_ABSOLUTE* ppidl) {
  (void)hwnd;
  if (ppidl == nullptr) return E_INVALIDARG;
  *ppidl = nullptr;
  if (auto error = host::Faults::Instance().Check("SHGetSpecialFolderLocation")) return static_cast<HRESULT>(*error);
  if (csidl != CSIDL_COMMON_PROGRAMS) return E_INVALIDARG;
  host::ShellFolders& folders = host::ShellFolders::Instance();
  uint32_t attributes = 0;
  if (host::FileSystem::Instance().QueryAttributes(folders.CommonPrograms().c_str(), &attributes) != ERROR_SUCCESS ||
      (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0) {
    return E_FAIL;
  }
  void* list = folders.NewItemList(folders.CommonPrograms());
  if (list == nullptr) return E_OUTOFMEMORY;
  *ppidl = static_cast<PIDLIST_ABSOLUTE>(list);
  return S_OK;
}

BOOL SHGetPathFromIDListA(PCIDLIST_ABSOLUTE pidl, LPSTR pszPath) {
  if (pszPath == nullptr) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  pszPath[0] = '\0';
  if (auto error = host::Faults::Instance().Check("SHGetPathFromIDList")) {
    SetLastError(*error);
    return FALSE;
  }
  host::ShellFolders& folders = host::ShellFolders::Instance();
  std::string path;
  if (!folders.ItemListPath(pidl, &path)) {
    if (pidl != nullptr)
      folders.NoteMisuse("SHGetPathFromIDList of " + host::DescribeBlock(pidl) + ", no live item ID list");
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  // The caller's buffer holds MAX_PATH characters.
  if (path.size() >= MAX_PATH) {
    SetLastError(ERROR_FILENAME_EXCED_RANGE);
    return FALSE;
  }
  std::memcpy(pszPath, path.c_str(), path.size() + 1);
  return TRUE;
}
}
