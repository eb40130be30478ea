// Traced outlines made ready for the pipeline: thinned to the weld tolerance and, when noisy,
// smoothed.
#include "pipeline/traced.hpp"

#include <algorithm>
#include <cstddef>
#include <utility>

#include "boundary/boundary.hpp"
#include "curves/curves.hpp"
#include "inflate/inflate.hpp"
#include "parallel/parallel.hpp"

namespace linetopo {
namespace {

// A thinned ring as it is, or smoothed once ([1, 2, 1] / 4) when it is noisy: when its points
// lie, at the median, farther than kScanJitterPixels from the midpoint of their neighbours. A
// clean outline's points sit a few hundredths of a pixel off it and keep their place; a noisy
// one's jitter would give its centerline a saw-tooth.
Ring smoothed_if_noisy(Ring r) {
  const std::size_t n = r.size();
  if (n < 4) return r;
  const auto midpoint_of_neighbours = [&](std::size_t i) {
    const Point& a = r[(i + n - 1) % n];
    const Point& c = r[(i + 1) % n];
    return Point{(a.x + c.x) / 2, (a.y + c.y) / 2};
  };
  std::vector<double> offsets(n);
  for (std::size_t i = 0; i < n; ++i) offsets[i] = dist(r[i], midpoint_of_neighbours(i));
  const auto median = offsets.begin() + static_cast<std::ptrdiff_t>(n / 2);
  std::nth_element(offsets.begin(), median, offsets.end());
  if (!(*median > defaults::kScanJitterPixels)) return r;
  Ring out(n);
  for (std::size_t i = 0; i < n; ++i) {
    const Point m = midpoint_of_neighbours(i);
    out[i] = Point{(m.x + r[i].x) / 2, (m.y + r[i].y) / 2};
  }
  return out;
}

}  // namespace

std::vector<BufferPolygon> thinned_outlines(std::vector<BufferPolygon> polygons, const Settings& s,
                                            const CancelCheck& cancelled) {
  const auto too_small = [](const Ring& r) { return r.size() < 3; };
  const auto thin = [&](const Ring& r) {
    return smoothed_if_noisy(decimate_curve(r, s.weld_tolerance));
  };
  std::vector<std::vector<BufferPolygon>> parts(polygons.size());
  parallel_for(polygons.size(), [&](std::size_t i) {
    throw_if_cancelled(cancelled);
    const BufferPolygon traced = std::move(polygons[i]);  // freed as it goes
    BufferPolygon p{thin(traced.outer), {}};
    if (too_small(p.outer)) return;
    for (const Ring& h : traced.holes) {
      Ring hole = thin(h);
      if (!too_small(hole)) p.holes.push_back(std::move(hole));
    }
    const std::vector<char> meets = meeting_rings(p);
    if (std::find(meets.begin(), meets.end(), 1) == meets.end()) {
      parts[i].push_back(std::move(p));
    } else {
      parts[i] = unite_polygons({p}, s.inflation, cancelled);
    }
  });
  std::vector<BufferPolygon> out;
  for (std::vector<BufferPolygon>& part : parts) {
    for (BufferPolygon& p : part) out.push_back(std::move(p));
  }
  return out;
}

}  // namespace linetopo
