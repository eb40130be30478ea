// Returning free memory to the system: glibc only, where the allocator keeps what it frees.
#include "parallel/memory.hpp"

// Any C library header defines __GLIBC__ there; without one the check below is always false.
#include <cstdlib>

#if defined(__GLIBC__)
#include <malloc.h>
#endif

namespace linetopo {

bool release_free_memory() {
#if defined(__GLIBC__)
  malloc_trim(0);
  return true;
#else
  return false;
#endif
}

}  // namespace linetopo
