// The worker pool: sized once per process from the environment.
#include "parallel/parallel.hpp"

#include <oneapi/tbb/info.h>

#include <algorithm>
#include <charconv>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <optional>

namespace linetopo {
namespace {

// A positive decimal integer in the environment variable, or nothing.
std::optional<int> positive_env(const char* name) {
  const char* text = std::getenv(name);
  if (text == nullptr) return std::nullopt;
  const char* end = text + std::strlen(text);
  unsigned long value = 0;
  const auto res = std::from_chars(text, end, value);
  if (res.ec != std::errc() || res.ptr != end || value == 0) return std::nullopt;
  return static_cast<int>(std::min<unsigned long>(value, INT_MAX));
}

int pool_size() {
  if (auto n = positive_env("RAYON_NUM_THREADS")) return *n;
  if (auto n = positive_env("RAYON_RS_NUM_CPUS")) return *n;
  return std::max(1, tbb::info::default_concurrency());
}

}  // namespace

// Never destroyed, so no exit-time teardown races its workers.
tbb::task_arena& worker_pool() {
  static tbb::task_arena& arena = *[] {
    auto* a = new tbb::task_arena(pool_size());
    a->initialize();
    return a;
  }();
  return arena;
}

}  // namespace linetopo
