// Handing memory the program freed back to the system. The allocator keeps freed memory
// for later allocations; after a large structure is dropped (a big profile the user
// switched away from) that memory would stay with the process for good.
#pragma once

namespace zv::platform {

// Returns the allocator's free memory to the system where it can (malloc_trim). Costs a
// walk of the heap: call it after dropping something large, not on every free.
void releaseFreedMemory();

}  // namespace zv::platform
