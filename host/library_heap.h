// Accounting of the library's own allocations: every block its
// new (std::nothrow) forms hand out is remembered until it is deleted, so a
// test can assert that an action released every string and buffer it made.
#pragma once

#include <cstddef>

namespace host {

// Called by the library's allocation path for each block it returns.
void NoteLibraryAllocation(void* block);
// Blocks of the library that have not been deleted yet.
size_t LibraryAllocationCount();
// Called with each block of the library as it is deleted (null: none); it
// must not allocate or delete.
void SetLibraryReleaseObserver(void (*observer)(void* block));

}  // namespace host
