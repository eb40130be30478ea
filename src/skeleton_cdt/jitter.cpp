// Displacing a triangulation's points off exact ties by a hair, the same for points that share
// a place.
#include <algorithm>
#include <array>
#include <bit>
#include <cmath>
#include <cstdint>
#include <limits>
#include <utility>

#include "geometry/keys.hpp"
#include "parallel/parallel.hpp"
#include "skeleton_cdt/cdt_detail.hpp"

namespace linetopo::cdt_detail {
namespace {

// The largest displacement jitter gives, and a second cap: this share of s^2 / D, where s is the
// point's spacing along its ring and D the polygon's extent. s^2 / D is about how far a ring point
// sampled at s sits off the circle through its neighbours and a point across the polygon; a
// displacement beyond it, not the shape, decides the Delaunay triangles, and a finely sampled
// straight run then grows chords between non-neighbours, which become spurious skeleton branches.
constexpr double kJitter = 1e-9;
constexpr double kJitterSagittaShare = 1e-3;

// Points per block of the passes on the pool.
constexpr std::size_t kBlock = 65536;

// Up to this many points share one table; more are first spread over buckets by hash, one table
// each, so that every table stays in cache.
constexpr std::size_t kPointsPerTable = 4096;
constexpr unsigned kMaxBucketBits = 10;

// Per point, kJitter or less where its ring is sampled finely: s is the point's shorter ring edge
// and D the diagonal of the box round all rings, an upper bound of any width across them.
std::vector<double> jitter_limits(const std::vector<Point>& p,
                                  const std::vector<std::vector<std::size_t>>& contours) {
  Point lo = p.front();
  Point hi = p.front();
  for (const Point& q : p) {
    lo = {std::fmin(lo.x, q.x), std::fmin(lo.y, q.y)};
    hi = {std::fmax(hi.x, q.x), std::fmax(hi.y, q.y)};
  }
  const double diagonal = dist(lo, hi);
  std::vector<double> spacing(p.size(), std::numeric_limits<double>::infinity());
  for (const auto& contour : contours) {
    for (std::size_t i = 0; i + 1 < contour.size(); ++i) {
      const double d = dist(p[contour[i]], p[contour[i + 1]]);
      spacing[contour[i]] = std::fmin(spacing[contour[i]], d);
      spacing[contour[i + 1]] = std::fmin(spacing[contour[i + 1]], d);
    }
  }
  std::vector<double> limit(p.size(), 0.0);
  if (!(diagonal > 0.0)) return limit;
  parallel_for_blocks(p.size(), kBlock, [&](std::size_t, std::size_t first, std::size_t last) {
    for (std::size_t j = first; j < last; ++j) {
      limit[j] = std::fmin(kJitter, kJitterSagittaShare * spacing[j] * spacing[j] / diagonal);
    }
  });
  return limit;
}

}  // namespace

// Spread over buckets by the top bits of their hash, in index order within each; each bucket then
// fills a table of its own (open addressing, slots holding the hash and 1 + the index) on the
// pool, which finds the same first index as one table would.
std::vector<std::uint32_t> first_alike(const std::vector<Point>& points) {
  const std::size_t n = points.size();
  if (n == 0) return {};
  if (n >= std::numeric_limits<std::uint32_t>::max()) {
    throw InternalError("internal error: too many points to number");
  }
  const auto bits = [](double v) { return std::bit_cast<std::int64_t>(v == 0.0 ? 0.0 : v); };
  const auto key_of = [&](std::size_t j) {
    return CellKey{bits(points[j].x), bits(points[j].y)};
  };
  const KeyHash hash;
  unsigned bucket_bits = 0;
  while (bucket_bits < kMaxBucketBits && (n >> bucket_bits) > kPointsPerTable) ++bucket_bits;
  const std::size_t buckets = std::size_t{1} << bucket_bits;
  const auto bucket_of = [&](std::uint64_t h) {
    return bucket_bits == 0 ? std::size_t{0} : static_cast<std::size_t>(h >> (64 - bucket_bits));
  };

  std::vector<std::uint64_t> hashes(n);
  const std::size_t blocks = block_count(n, kBlock);
  std::vector<std::uint32_t> at(buckets * blocks, 0);  // bucket-major, then block
  parallel_for_blocks(n, kBlock, [&](std::size_t b, std::size_t first, std::size_t last) {
    std::vector<std::uint32_t> count(buckets, 0);
    for (std::size_t j = first; j < last; ++j) {
      hashes[j] = hash(key_of(j));
      ++count[bucket_of(hashes[j])];
    }
    for (std::size_t q = 0; q < buckets; ++q) at[q * blocks + b] = count[q];
  });
  std::uint32_t total = 0;
  for (std::uint32_t& a : at) total += std::exchange(a, total);
  std::vector<std::uint32_t> order(n);
  parallel_for_blocks(n, kBlock, [&](std::size_t b, std::size_t first, std::size_t last) {
    std::vector<std::uint32_t> next(buckets);
    for (std::size_t q = 0; q < buckets; ++q) next[q] = at[q * blocks + b];
    for (std::size_t j = first; j < last; ++j) {
      order[next[bucket_of(hashes[j])]++] = static_cast<std::uint32_t>(j);
    }
  });

  struct Slot {
    std::uint64_t hash;
    std::uint32_t index;  // 1 + the first index, 0 while empty
  };
  std::vector<std::uint32_t> first(n);
  parallel_for(buckets, [&](std::size_t q) {
    const std::size_t begin = at[q * blocks];
    const std::size_t end = q + 1 < buckets ? at[(q + 1) * blocks] : n;
    const std::size_t capacity = std::bit_ceil(2 * (end - begin) + 2);
    std::vector<Slot> slots(capacity, Slot{0, 0});
    for (std::size_t k = begin; k < end; ++k) {
      const std::uint32_t j = order[k];
      const std::uint64_t h = hashes[j];
      std::size_t s = h & (capacity - 1);
      while (slots[s].index != 0 &&
             !(slots[s].hash == h && key_of(slots[s].index - 1) == key_of(j))) {
        s = (s + 1) & (capacity - 1);
      }
      if (slots[s].index == 0) slots[s] = {h, j + 1};
      first[j] = slots[s].index - 1;
    }
  });
  return first;
}

void jitter(std::vector<Point>& points, const std::vector<std::vector<std::size_t>>& contours) {
  if (points.empty()) return;
  if (points.size() >= std::numeric_limits<std::uint32_t>::max()) {
    throw InternalError("internal error: too many ring points");
  }
  const std::vector<double> limit = jitter_limits(points, contours);
  const std::vector<std::uint32_t> first = first_alike(points);
  // The displacements, each a function of its first index alone.
  parallel_for_blocks(points.size(), kBlock, [&](std::size_t, std::size_t lo, std::size_t hi) {
    for (std::size_t j = lo; j < hi; ++j) {
      const double jd = static_cast<double>(first[j]);
      points[j].x = points[j].x + std::sin(jd * 1.1) * limit[first[j]];
      points[j].y = points[j].y + std::cos(jd * 1.3) * limit[first[j]];
    }
  });
}

}  // namespace linetopo::cdt_detail
