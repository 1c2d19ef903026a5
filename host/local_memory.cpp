#include "host/local_memory.h"

#include <cstdlib>
#include <map>
#include <mutex>

namespace host {

namespace {

struct LocalHeap {
  std::mutex mutex;
  std::map<const void*, size_t> sizes;
};

LocalHeap& Heap() {
  static LocalHeap heap;
  return heap;
}

}  // namespace

void* LocalAllocate(size_t size) {
  // malloc(0) may return null; a local allocation of 0 bytes is still a block.
  void* memory = std::malloc(size == 0 ? 1 : size);
  if (memory == nullptr) return nullptr;
  std::lock_guard<std::mutex> lock(Heap().mutex);
  Heap().sizes[memory] = size;
  return memory;
}

bool LocalRelease(void* memory) {
  {
    std::lock_guard<std::mutex> lock(Heap().mutex);
    if (Heap().sizes.erase(memory) == 0) return false;
  }
  std::free(memory);
  return true;
}

size_t LocalAllocationSize(const void* memory) {
  std::lock_guard<std::mutex> lock(Heap().mutex);
  auto it = Heap().sizes.find(memory);
  return it == Heap().sizes.end() ? 0 : it->second;
}

size_t LocalAllocationCount() {
  std::lock_guard<std::mutex> lock(Heap().mutex);
  return Heap().sizes.size();
}

}  // namespace host
