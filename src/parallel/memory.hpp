// Handing the allocator's free memory back to the system after a large run.
#pragma once

namespace linetopo {

// Returns the free pages the allocator keeps to the system (glibc's malloc_trim; nothing
// elsewhere), and whether this build can. A run frees most of what it allocated in its last
// stages, but the allocator holds on to it: without this, the interpreter's objects built from
// the result come on top of it.
bool release_free_memory();

}  // namespace linetopo
