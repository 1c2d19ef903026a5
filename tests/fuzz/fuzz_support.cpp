#include "tests/fuzz/fuzz_support.h"

#include <sys/resource.h>

#include <cstdio>
#include <cstdlib>

#include "host/filesystem.h"
#include "host/handles.h"
#include "host/library_heap.h"
#include "host/registry.h"
#include "host/services.h"

namespace vrinfuzz {

std::vector<std::string> Split(const uint8_t* data, size_t size, size_t count) {
  std::vector<std::string> parts;
  const char* text = reinterpret_cast<const char*>(data);
  size_t start = 0;
  while (parts.size() + 1 < count) {
    size_t end = start;
    while (end < size && text[end] != '\0') ++end;
    parts.emplace_back(text + start, text + end);
    start = end < size ? end + 1 : size;
  }
  parts.emplace_back(text + start, text + size);
  return parts;
}

void CheckReleased(size_t libraryBlocks) {
  const char* left = nullptr;
  if (host::HandleTable::Instance().OpenNonSessionCount() != 0) left = "an installer handle";
  if (host::OpenRegistryKeyCount() != 0) left = "a registry key";
  if (host::Services().OpenHandles() != 0) left = "a service handle";
  if (host::FileSystem::Instance().OpenFileHandles() != 0) left = "a file handle";
  if (host::FileSystem::Instance().OpenFindHandles() != 0) left = "a find handle";
  if (host::LibraryAllocationCount() != libraryBlocks) left = "a library allocation";
  if (left != nullptr) {
    std::fprintf(stderr, "left behind: %s\n", left);
    std::abort();
  }
}

void PrepareSessions() {
  if (std::freopen("/dev/null", "w", stdout) == nullptr) std::perror("freopen");
  rlimit limit{};
  if (getrlimit(RLIMIT_NOFILE, &limit) == 0 && limit.rlim_cur < limit.rlim_max) {
    limit.rlim_cur = limit.rlim_max;
    setrlimit(RLIMIT_NOFILE, &limit);
  }
}

}  // namespace vrinfuzz
