// Fuzz target: the batch runner on a few decoded jobs, most with per-vertex radii, and the
// per-vertex inflation of the first job's curves. A batch must give exactly the results of
// single calls, or fail with InputError only when some job does on its own.
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "fuzz_input.hpp"
#include "inflate/inflate.hpp"
#include "pipeline/settings.hpp"
#include "support/inflation.hpp"

namespace {

using namespace linetopo;

void check_results_match(const std::vector<BatchJob>& jobs) {
  std::vector<TopologyResult> batch;
  bool batch_failed = false;
  try {
    batch = run_batch(jobs);
  } catch (const InputError&) {
    batch_failed = true;
  }
  bool single_failed = false;
  for (std::size_t i = 0; i < jobs.size(); ++i) {
    try {
      const TopologyResult r = topologize_inner(jobs[i].curves, jobs[i].params);
      if (batch_failed) continue;
      fuzz::check_result(r, jobs[i].params.compute_widths);
      const TopologyResult& b = batch[i];
      fuzz::require(b.chains == r.chains && b.nodes == r.nodes &&
                        b.chain_node_ids == r.chain_node_ids && b.widths == r.widths,
                    "batch result equals the single call");
    } catch (const InputError&) {
      single_failed = true;
    }
  }
  fuzz::require(batch_failed == single_failed, "the batch fails exactly when some job does");
  if (!batch_failed) fuzz::require(batch.size() == jobs.size(), "one result per job");
}

// Each curve with radii of its own, offset alone; the checks run first, as in the pipeline.
void check_variable_inflation(const fuzz::Job& job) {
  const auto& widths = job.params.per_curve_widths;
  if (!widths) return;
  for (std::size_t i = 0; i < job.curves.size() && i < widths->size(); ++i) {
    const Polyline& curve = job.curves[i];
    const std::vector<double>& radii = (*widths)[i];
    if (curve.size() < 2 || radii.size() != curve.size()) continue;
    try {
      check_inflation_input({curve}, Widths{radii}, 0.0);
    } catch (const InputError&) {
      continue;
    }
    const double fs = job.params.feature_size;
    const double arc_tolerance =
        std::isfinite(fs) && fs > 0.0 ? resolve_inflation(fs).arc_tolerance : 1.0;
    for (const std::vector<Point>& ring : inflate_curve_variable(curve, radii, arc_tolerance)) {
      for (const Point& p : ring) fuzz::require(fuzz::finite(p), "finite offset rings");
    }
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  fuzz::Bytes in(data, size);
  const std::size_t count = 1 + in.byte() % 4;
  std::vector<fuzz::Job> decoded;
  std::vector<BatchJob> jobs;
  for (std::size_t i = 0; i < count; ++i) {
    decoded.push_back(fuzz::decode_job(in, 72, true));
    jobs.push_back({decoded.back().curves, decoded.back().params});
  }
  check_variable_inflation(decoded.front());
  check_results_match(jobs);
  return 0;
}
