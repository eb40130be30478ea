// The worker pool's process-wide services.
#include <gtest/gtest.h>

#include "parallel/memory.hpp"

namespace linetopo {
namespace {

// A large run's free memory goes back to the system wherever the C library can: a build that
// loses sight of glibc would keep it silently.
TEST(ReleaseFreeMemory, ReachesGlibc) {
#if defined(__GLIBC__)
  EXPECT_TRUE(release_free_memory());
#else
  GTEST_SKIP() << "not glibc";
#endif
}

}  // namespace
}  // namespace linetopo
