// The library's blocks are remembered in a set kept outside the C++ heap
// (its nodes come from malloc), and the replaced global delete forgets a
// block when it is released. new and delete are both replaced, over malloc
// and free, so that every block is released the way it was allocated, also
// under a sanitizer that would otherwise pair its own new with this delete.
#include "host/library_heap.h"

#include <cstdlib>
#include <functional>
#include <mutex>
#include <new>
#include <unordered_set>

namespace host {

namespace {

template <typename T>
struct MallocAllocator {
  using value_type = T;
  MallocAllocator() = default;
  template <typename U>
  MallocAllocator(const MallocAllocator<U>&) {}
  T* allocate(size_t count) {
    void* memory = std::malloc(count * sizeof(T));
    if (memory == nullptr) std::abort();
    return static_cast<T*>(memory);
  }
  void deallocate(T* memory, size_t) { std::free(memory); }
  template <typename U>
  bool operator==(const MallocAllocator<U>&) const {
    return true;
  }
  template <typename U>
  bool operator!=(const MallocAllocator<U>&) const {
    return false;
  }
};

struct Blocks {
  std::mutex mutex;
  std::unordered_set<void*, std::hash<void*>, std::equal_to<void*>, MallocAllocator<void*>> live;
};

// Never destroyed: blocks are deleted until the very end of the process.
Blocks& LiveBlocks() {
  static Blocks* blocks = new (std::malloc(sizeof(Blocks))) Blocks();
  return *blocks;
}

void (*g_releaseObserver)(void*) = nullptr;

void Forget(void* block) {
  if (block == nullptr) return;
  Blocks& blocks = LiveBlocks();
  size_t erased = 0;
  {
    std::lock_guard<std::mutex> lock(blocks.mutex);
    erased = blocks.live.erase(block);
  }
  if (erased != 0 && g_releaseObserver != nullptr) g_releaseObserver(block);
}

}  // namespace

void NoteLibraryAllocation(void* block) {
  if (block == nullptr) return;
  Blocks& blocks = LiveBlocks();
  std::lock_guard<std::mutex> lock(blocks.mutex);
  blocks.live.insert(block);
}

void SetLibraryReleaseObserver(void (*observer)(void*)) { g_releaseObserver = observer; }

size_t LibraryAllocationCount() {
  Blocks& blocks = LiveBlocks();
  std::lock_guard<std::mutex> lock(blocks.mutex);
  return blocks.live.size();
}

}  // namespace host

void* operator new(std::size_t size) {
  void* block = std::malloc(size != 0 ? size : 1);
  if (block == nullptr) throw std::bad_alloc();
  return block;
}

void* operator new[](std::size_t size) { return ::operator new(size); }

void operator delete(void* block) noexcept {
  host::Forget(block);
  std::free(block);
}

void operator delete[](void* block) noexcept {
  host::Forget(block);
  std::free(block);
}

void operator delete(void* block, std::size_t) noexcept {
  host::Forget(block);
  std::free(block);
}

void operator delete[](void* block, std::size_t) noexcept {
  host::Forget(block);
  std::free(block);
}
