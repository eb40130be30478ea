// Fuzz target: the topologize driver, and now and then the triangulation entry point, on decoded
// curves and options. InputError is the one accepted failure; anything else escapes and ends
// the run, InternalError included, since internal invariants must hold for every input.
#include <cstddef>
#include <cstdint>

#include "fuzz_input.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace linetopo;
  fuzz::Bytes in(data, size);
  const bool triangulate = in.byte() % 4 == 0;
  const fuzz::Job job = fuzz::decode_job(in, 160, false);
  try {
    fuzz::check_result(topologize_inner(job.curves, job.params), job.params.compute_widths);
  } catch (const InputError&) {
  }
  if (triangulate) {
    try {
      for (const Triangle& t : triangulate_curves(job.curves, job.params)) {
        for (const Point& p : t) fuzz::require(fuzz::finite(p), "finite triangles");
      }
    } catch (const InputError&) {
    }
  }
  return 0;
}
