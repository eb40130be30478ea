// Returning free memory to the system: glibc only, where the allocator keeps what it frees.
#include "parallel/memory.hpp"

#if defined(__GLIBC__)
#include <malloc.h>
#endif

namespace linetopo {

void release_free_memory() {
#if defined(__GLIBC__)
  malloc_trim(0);
#endif
}

}  // namespace linetopo
