// The batch runner: independent topologize jobs on one process-wide oneTBB arena.
#include <oneapi/tbb/blocked_range.h>
#include <oneapi/tbb/parallel_for.h>
#include <oneapi/tbb/task_arena.h>

#include <algorithm>
#include <atomic>
#include <exception>
#include <numeric>

#include "parallel/parallel.hpp"
#include "pipeline/pipeline.hpp"

namespace linetopo {
namespace {

std::size_t point_count(const BatchJob& job) {
  std::size_t n = 0;
  for (const Polyline& c : job.curves) n += c.size();
  return n;
}

}  // namespace

std::vector<TopologyResult> run_batch(const std::vector<BatchJob>& jobs,
                                      const CancelCheck& cancelled) {
  // A bad scale anywhere fails the batch before any job runs, with the plain message.
  for (const BatchJob& job : jobs) validate_feature_size(job.params.feature_size);
  const std::size_t n = jobs.size();
  std::vector<TopologyResult> results(n);
  if (n == 0) return results;
  // Largest jobs start first so that a big one does not start last and run alone.
  std::vector<std::size_t> order(n);
  std::iota(order.begin(), order.end(), std::size_t{0});
  std::vector<std::size_t> sizes(n);
  for (std::size_t i = 0; i < n; ++i) sizes[i] = point_count(jobs[i]);
  std::stable_sort(order.begin(), order.end(),
                   [&sizes](std::size_t a, std::size_t b) { return sizes[a] > sizes[b]; });

  std::atomic<std::size_t> next{0};
  std::atomic<bool> failed{false};
  std::exception_ptr first_error;  // written once, by the thread that set `failed`
  const auto run_jobs = [&] {
    for (std::size_t k = next.fetch_add(1); k < n; k = next.fetch_add(1)) {
      if (failed.load(std::memory_order_acquire)) return;  // skip jobs not yet started
      const std::size_t i = order[k];
      try {
        throw_if_cancelled(cancelled);
        results[i] = topologize_inner(jobs[i].curves, jobs[i].params, cancelled);
      } catch (const InputError& e) {
        if (!failed.exchange(true)) {
          first_error = std::make_exception_ptr(
              InputError("topologize_batch job " + std::to_string(i) + " failed: " + e.what()));
        }
      } catch (...) {
        if (!failed.exchange(true)) first_error = std::current_exception();
      }
    }
  };
  tbb::task_arena& arena = worker_pool();
  const std::size_t lanes =
      std::min(n, static_cast<std::size_t>(std::max(1, arena.max_concurrency())));
  // Every lane pulls the next job from the shared counter until none is left.
  arena.execute([&] {
    tbb::parallel_for(
        tbb::blocked_range<std::size_t>(0, lanes, 1),
        [&](const tbb::blocked_range<std::size_t>& r) {
          for (std::size_t lane = r.begin(); lane != r.end(); ++lane) run_jobs();
        },
        tbb::simple_partitioner());
  });
  if (first_error) std::rethrow_exception(first_error);
  return results;
}

}  // namespace linetopo
