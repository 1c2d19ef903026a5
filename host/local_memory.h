// The local heap of the simulated machine: what LocalFree and LocalSize work
// on. FormatMessage allocates its buffers here, so a test can see their size
// and whether the caller released them.
#pragma once

#include <cstddef>

namespace host {

// Nothing when the allocation fails.
void* LocalAllocate(size_t size);
// Releases memory of LocalAllocate; false (and nothing released) for any other pointer.
bool LocalRelease(void* memory);
// The size LocalAllocate was asked for; 0 for any other pointer.
size_t LocalAllocationSize(const void* memory);
// Allocations not released yet.
size_t LocalAllocationCount();

}  // namespace host
