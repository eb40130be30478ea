// Decodes fuzzer bytes into curves, radii and options of bounded cost, and checks the results.
// Every curve lies within 16 feature sizes of its own base point, and every spacing that sets
// the boundary point count stays a fixed fraction of the feature size, so that a run explores
// odd geometry and odd option values rather than requests that are legitimately huge.
#pragma once

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <iterator>
#include <limits>
#include <optional>
#include <utility>
#include <vector>

#include "geometry/keys.hpp"
#include "pipeline/pipeline.hpp"

namespace linetopo::fuzz {

// The fuzzer's bytes front to back; past the end every read gives zeros, so that any input
// decodes to something.
class Bytes {
 public:
  Bytes(const std::uint8_t* data, std::size_t size) : data_(data), size_(size) {}

  std::uint8_t byte() { return pos_ < size_ ? data_[pos_++] : 0; }

  // A fraction in [0, 1].
  double fraction() {
    const unsigned lo = byte();
    const unsigned hi = byte();
    return static_cast<double>(lo | (hi << 8)) / 65535.0;
  }

  // A signed 16-bit value.
  int signed16() {
    const unsigned lo = byte();
    const unsigned hi = byte();
    return static_cast<int>(static_cast<std::int16_t>(static_cast<std::uint16_t>(lo | (hi << 8))));
  }

 private:
  const std::uint8_t* data_;
  std::size_t size_;
  std::size_t pos_ = 0;
};

inline constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
inline constexpr double kInf = std::numeric_limits<double>::infinity();

// A value the checks must turn away or that degenerates the geometry.
inline double special(Bytes& in) {
  constexpr double kValues[] = {kNaN,  kInf, -kInf, 2e12,     -3e12,
                                1e300, -0.0, 0.0,   4.9e-324, 2.2250738585072014e-308};
  return kValues[in.byte() % std::size(kValues)];
}

// An optional option: absent half of the time, else zero, negative, NaN, infinite, huge or a
// value in [lo, hi].
inline std::optional<double> option(Bytes& in, double lo, double hi) {
  const int mode = in.byte() % 16;
  if (mode < 8) return std::nullopt;
  switch (mode) {
    case 8:
      return 0.0;
    case 9:
      return -(lo + (hi - lo) * in.fraction());
    case 10:
      return kNaN;
    case 11:
      return kInf;
    case 12:
      return 1e300;
    default:
      return lo + (hi - lo) * in.fraction();
  }
}

// A radius: mostly between fs / 16 and 4 fs, sometimes zero, negative, tiny or special.
inline double radius(Bytes& in, double fs) {
  switch (in.byte() % 16) {
    case 0:
      return 0.0;
    case 1:
      return -fs * in.fraction();
    case 2:
      return fs * 1e-9;
    case 3:
      return special(in);
    default:
      return fs * (1.0 / 16.0 + 4.0 * in.fraction());
  }
}

// A random walk of n points from a seed and two shape bytes, with steps of 0.2 to 0.7 fs, which
// thinning keeps: long enough that inflation offsets it in pieces and joins them.
inline Polyline walk(Bytes& in, std::size_t n, double fs, double offset) {
  std::uint64_t seed = 0;
  for (int i = 0; i < 4; ++i) seed = seed << 8 | in.byte();
  const double step = fs * (0.2 + 0.5 * in.fraction());
  const double wiggle = kPi * in.fraction();  // the largest turn per step
  Polyline out;
  Point p{offset, offset};
  double heading = 0.0;
  for (std::size_t k = 0; k < n; ++k) {
    out.push_back(p);
    const double u = static_cast<double>(mix64(seed + k) >> 11) * 0x1p-53;
    heading += (2.0 * u - 1.0) * wiggle;
    p = {p.x + step * std::cos(heading), p.y + step * std::sin(heading)};
  }
  return out;
}

struct Job {
  std::vector<Polyline> curves;
  TopologizeParams params;
};

// One topologize call of at most max_points input points.
inline Job decode_job(Bytes& in, std::size_t max_points, bool widths_often) {
  Job job;
  TopologizeParams& p = job.params;
  // A power-of-two scale from 2^-24 to 2^24 moves the same shapes across the numeric range.
  const double unit = std::ldexp(1.0, static_cast<int>(in.byte() % 49) - 24);
  const std::uint8_t fs_mode = in.byte();
  const double fs = unit * (0.5 + in.fraction());
  p.feature_size = fs_mode >= 0xF8 ? special(in) : fs;
  // Far from the origin the same shapes lose precision, down to collapsing points.
  constexpr double kOffsets[] = {1e3, -1e5, 1e7, -3e9, 1e11, 9.9e11};
  const std::uint8_t offset_mode = in.byte() % 16;
  const double offset = offset_mode < 10 ? 0.0 : kOffsets[offset_mode - 10];

  const std::size_t curves = in.byte() % 7;
  std::size_t budget = max_points;
  for (std::size_t c = 0; c < curves; ++c) {
    Polyline curve;
    const std::uint8_t size_mode = in.byte();
    if (size_mode / 17 == 12) {  // size bytes 204 to 220
      curve = walk(in, std::min<std::size_t>(65 + in.byte() % 40, budget), fs, offset);
      budget -= curve.size();
      job.curves.push_back(std::move(curve));
      continue;
    }
    const std::size_t n = std::min<std::size_t>(size_mode % 17, budget);
    budget -= n;
    // Now and then (size bytes 221 to 254) a curve lies far from the others: the extent of the
    // whole drawing grows while no curve gets longer.
    Point shift;
    if (size_mode / 17 == 13) {
      shift = {fs * 64.0 * in.signed16(), fs * 64.0 * in.signed16()};
    } else if (size_mode / 17 == 14) {
      constexpr double kFar[] = {1e6, -1e9, 5e11, -9.9e11};
      shift = {kFar[in.byte() % 4], kFar[in.byte() % 4]};
    }
    const double base_x = offset + shift.x;
    const double base_y = offset + shift.y;
    for (std::size_t k = 0; k < n; ++k) {
      const std::uint8_t mode = in.byte() % 8;
      if (mode == 5 && !curve.empty()) {
        curve.push_back(curve.back());  // a zero-length segment
      } else if (mode == 6 && !curve.empty()) {
        const Point q = curve.back();  // a near-duplicate
        curve.push_back({q.x + fs * 1e-9 * in.signed16(), q.y + fs * 1e-9 * in.signed16()});
      } else if (mode == 7) {
        // Values the checks let through join the others, so that the curve stays short.
        const double v = special(in);
        const double x = std::isfinite(v) && std::fabs(v) <= 1e12 ? base_x + v : v;
        curve.push_back({x, base_y + fs / 2048.0 * in.signed16()});
      } else {
        const double x = base_x + fs / 2048.0 * in.signed16();
        curve.push_back({x, base_y + fs / 2048.0 * in.signed16()});
      }
    }
    job.curves.push_back(std::move(curve));
  }

  const std::uint8_t buffer_mode = in.byte() % 16;
  if (buffer_mode == 0) {
    p.buffer_distance = 0.0;
  } else if (buffer_mode == 1) {
    p.buffer_distance = -fs * in.fraction();
  } else if (buffer_mode == 2) {
    p.buffer_distance = special(in);
  } else if (buffer_mode == 3) {
    p.buffer_distance = fs * 1e-9;
  } else {
    p.buffer_distance = fs * (1.0 / 16.0 + 4.0 * in.fraction());
  }

  p.simplification = option(in, 0.0, fs);
  p.min_tip_fraction = option(in, 0.0, 4.0);
  p.junction_merge_fraction = option(in, 0.0, 4.0);
  p.subdivision_ratio = option(in, 0.001, 1.0);
  p.resample = option(in, fs / 8.0, 2.0 * fs);
  p.boundary_simplification = option(in, 0.0, fs);
  p.merge_tolerance = option(in, 0.0, fs);
  const std::uint8_t flags = in.byte();
  p.compute_widths = (flags & 1) != 0;
  if ((flags & 2) != 0) p.max_nodes = in.byte();

  if (in.byte() % (widths_often ? 2 : 4) == 0) {
    Widths widths;
    const std::size_t entries = job.curves.size() + (in.byte() % 5 == 0 ? 1 : 0);
    for (std::size_t c = 0; c < entries; ++c) {
      const std::size_t n = c < job.curves.size() ? job.curves[c].size() : 1;
      const std::uint8_t mode = in.byte() % 8;
      std::vector<double> radii;
      if (mode >= 2) {
        const std::size_t count = mode == 2 ? n + 1 : n;  // a wrong length now and then
        for (std::size_t k = 0; k < count; ++k) radii.push_back(radius(in, fs));
      }
      widths.push_back(std::move(radii));
    }
    p.per_curve_widths = std::move(widths);
  }
  return job;
}

// Ends the run with a message: a broken promise of the result is a finding like a crash.
inline void require(bool ok, const char* what) {
  if (ok) return;
  std::fprintf(stderr, "fuzz check failed: %s\n", what);
  std::abort();
}

inline bool finite(const Point& p) { return std::isfinite(p.x) && std::isfinite(p.y); }

// What every result promises: ids index the nodes, each chain has two or more finite points and
// runs from its start node's position to its end node's, and widths (when asked for) hold one
// finite, non-negative value per chain point.
inline void check_result(const TopologyResult& r, bool compute_widths) {
  require(r.chains.size() == r.chain_node_ids.size(), "one id pair per chain");
  for (const Point& node : r.nodes) require(finite(node), "finite nodes");
  for (std::size_t i = 0; i < r.chains.size(); ++i) {
    const Polyline& chain = r.chains[i];
    const auto [s, e] = r.chain_node_ids[i];
    require(s < r.nodes.size() && e < r.nodes.size(), "ids index the nodes");
    require(chain.size() >= 2, "chains of two or more points");
    for (const Point& q : chain) require(finite(q), "finite chain points");
    require(chain.front() == r.nodes[s] && chain.back() == r.nodes[e], "chains end at their nodes");
  }
  if (!compute_widths) {
    require(r.widths.empty(), "no widths unless asked for");
    return;
  }
  require(r.widths.size() == r.chains.size(), "one width list per chain");
  for (std::size_t i = 0; i < r.chains.size(); ++i) {
    require(r.widths[i].size() == r.chains[i].size(), "one width per chain point");
    for (const double w : r.widths[i]) require(std::isfinite(w) && w >= 0.0, "finite widths");
  }
}

}  // namespace linetopo::fuzz
