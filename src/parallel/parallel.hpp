// The process-wide worker pool and the one way stages run work on it.
#pragma once

#include <oneapi/tbb/blocked_range.h>
#include <oneapi/tbb/parallel_for.h>
#include <oneapi/tbb/parallel_sort.h>
#include <oneapi/tbb/task_arena.h>

#include <cstddef>

namespace linetopo {

// One oneTBB arena for the whole process: one thread per CPU unless RAYON_NUM_THREADS (or
// RAYON_RS_NUM_CPUS) holds a positive integer. Created on first use, never destroyed.
tbb::task_arena& worker_pool();

// Calls fn(i) for every i in [0, n) on the worker pool and returns when all are done. Nested
// calls run as tasks of the same arena, so a batch job that parallelises inside neither adds
// threads nor blocks. The first exception thrown by fn is rethrown here.
template <class Fn>
void parallel_for(std::size_t n, const Fn& fn) {
  if (n == 0) return;
  if (n == 1) {
    fn(std::size_t{0});
    return;
  }
  worker_pool().execute([&] {
    tbb::parallel_for(tbb::blocked_range<std::size_t>(0, n, 1),
                      [&](const tbb::blocked_range<std::size_t>& r) {
                        for (std::size_t i = r.begin(); i != r.end(); ++i) fn(i);
                      });
  });
}

// The ranges of `block` indices that parallel_for_blocks cuts [0, n) into.
constexpr std::size_t block_count(std::size_t n, std::size_t block) {
  return (n + block - 1) / block;
}

// Calls fn(b, first, last) for the consecutive ranges [first, last) of `block` indices (the last
// one shorter) that cover [0, n), on the worker pool; b counts the ranges from 0. For loops over
// many cheap items, and passes whose per-range results are joined in order after.
template <class Fn>
void parallel_for_blocks(std::size_t n, std::size_t block, const Fn& fn) {
  parallel_for(block_count(n, block), [&](std::size_t b) {
    const std::size_t first = b * block;
    fn(b, first, n - first < block ? n : first + block);
  });
}

// Sorts [first, last) by less on the worker pool. Elements that compare equal may land in any
// order, so less must be a total order wherever the result is meant to be deterministic.
template <class It, class Less>
void parallel_sort(It first, It last, const Less& less) {
  worker_pool().execute([&] { tbb::parallel_sort(first, last, less); });
}

}  // namespace linetopo
