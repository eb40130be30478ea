// Samples every chain and finds, through a grid of the curves' segments, the curves that pass
// near each sample in about the same direction. The grid is read once per run of samples along a
// chain segment, for the segments near the run in about its direction; each sample then tests
// only those.
#include "provenance/chain_sources.hpp"

#include <oneapi/tbb/enumerable_thread_specific.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdint>
#include <optional>
#include <string>
#include <unordered_map>
#include <utility>

#include "parallel/parallel.hpp"

namespace linetopo {
namespace {

// Chains are sampled at most this fraction of the radius apart.
constexpr double kSampleSpacingFraction = 0.25;
// A share this close below min_share still counts: a curve along the whole chain sums its
// samples' lengths to the chain's length only up to rounding.
constexpr double kShareSlack = 1e-9;
// Grid cells are at least as wide as this many times the radius (so that the cells around a
// sample's own hold every segment within the radius), and at least as wide as the longer
// segments, so that a segment lies in few cells.
constexpr double kCellRadii = 2.0;
constexpr double kCellLengthQuantile = 0.75;
// Cells are wide enough that the segments lie in at most about this many cells each on average.
constexpr double kMeanCellsPerSegment = 8.0;
// Cell indices stay well inside 32 bits.
constexpr double kMaxCellsAcross = 1 << 30;
// Coordinates and radii up to this size keep every length and squared distance finite.
constexpr double kMaxMagnitude = 1e150;
// Undirected directions are binned this many to a half turn where the radius reaches every
// segment.
constexpr std::size_t kDirectionBins = 180;
// A bin is taken whole only this far (radians) inside the allowed angle; a bin at its edge is
// tested segment by segment.
constexpr double kBinMargin = 1e-9;
// The chain-curve pairs that may come within the radius in about the same direction, per point of
// the chains and curves together (at least kSourcePairFloor), unless the environment says.
constexpr std::size_t kSourcePairsPerPoint = 16;
constexpr std::size_t kSourcePairFloor = 1'000'000;
// Chain segments between checks for cancellation, within one chain.
constexpr std::size_t kCancelEvery = 1024;

struct CurveSegment {
  Point a;
  Point unit;  // from a towards b
  double length = 0.0;
  std::size_t curve = 0;
};

// The curves' segments listed per grid cell, each in the cells of its pieces' midpoints; a piece
// is at most half a cell long, so a segment that comes within a distance d of a point has a piece
// midpoint within d plus a quarter of a cell of it.
class SegmentGrid {
 public:
  SegmentGrid(const std::vector<Polyline>& curves, double radius);

  double cell() const { return cell_; }

  // Whether a point may have every segment within `radius`: the box's half diagonal is at most it.
  bool reachable(double radius) const {
    return !segments_.empty() && 0.25 * dist2({x0_, y0_}, {x1_, y1_}) <= radius * radius;
  }

  // Whether every segment lies within `radius` of both points, and so of the segment between them.
  bool all_within(const Point& p, const Point& q, double radius) const {
    if (segments_.empty()) return false;
    const double r2 = radius * radius;
    for (const double x : {x0_, x1_}) {
      for (const double y : {y0_, y1_}) {
        if (dist2({x, y}, p) > r2 || dist2({x, y}, q) > r2) return false;
      }
    }
    return true;
  }

  // Calls fn(segment) for every segment listed in a cell that the box [lo, hi] reaches, which
  // holds every segment within a quarter of a cell of the box; a segment may come more than once.
  template <class Fn>
  void within(const Point& lo, const Point& hi, const Fn& fn) const {
    if (segments_.empty()) return;
    const auto columns = static_cast<double>(columns_);
    const auto rows = static_cast<double>(rows_);
    const auto column = [&](double v) { return std::clamp((v - x0_) / cell_, -1.0, columns); };
    const auto row = [&](double v) { return std::clamp((v - y0_) / cell_, -1.0, rows); };
    const auto x0 = static_cast<std::int64_t>(std::floor(column(lo.x - 0.25 * cell_)));
    const auto x1 = static_cast<std::int64_t>(std::floor(column(hi.x + 0.25 * cell_)));
    const auto y0 = static_cast<std::int64_t>(std::floor(row(lo.y - 0.25 * cell_)));
    const auto y1 = static_cast<std::int64_t>(std::floor(row(hi.y + 0.25 * cell_)));
    for (std::int64_t y = std::max<std::int64_t>(y0, 0); y <= std::min(y1, rows_ - 1); ++y) {
      for (std::int64_t x = std::max<std::int64_t>(x0, 0); x <= std::min(x1, columns_ - 1); ++x) {
        const auto found = runs_.find(key(x, y));
        if (found == runs_.end()) continue;
        for (std::size_t k = found->second.first; k < found->second.second; ++k) {
          fn(segments_[entries_[k].second]);
        }
      }
    }
  }

 private:
  static std::uint64_t key(std::int64_t x, std::int64_t y) {
    return (static_cast<std::uint64_t>(y) << 32) | static_cast<std::uint64_t>(x);
  }

  std::vector<CurveSegment> segments_;
  double x0_ = 0.0, y0_ = 0.0, x1_ = 0.0, y1_ = 0.0, cell_ = 1.0;
  std::int64_t columns_ = 0, rows_ = 0;
  std::vector<std::pair<std::uint64_t, std::size_t>> entries_;  // (cell, segment), sorted
  // Only looked up, never iterated: the order of the results does not depend on hashing.
  std::unordered_map<std::uint64_t, std::pair<std::size_t, std::size_t>> runs_;
};

SegmentGrid::SegmentGrid(const std::vector<Polyline>& curves, double radius) {
  double& x1 = x1_;
  double& y1 = y1_;
  double total = 0.0;
  for (std::size_t c = 0; c < curves.size(); ++c) {
    const Polyline& curve = curves[c];
    for (std::size_t k = 0; k + 1 < curve.size(); ++k) {
      const double length = dist(curve[k], curve[k + 1]);
      if (!(length > kLengthEpsilon)) continue;
      const Point d{(curve[k + 1].x - curve[k].x) / length, (curve[k + 1].y - curve[k].y) / length};
      if (segments_.empty()) {
        x0_ = x1 = curve[k].x;
        y0_ = y1 = curve[k].y;
      }
      for (const Point& p : {curve[k], curve[k + 1]}) {
        x0_ = std::min(x0_, p.x), x1 = std::max(x1, p.x);
        y0_ = std::min(y0_, p.y), y1 = std::max(y1, p.y);
      }
      segments_.push_back({curve[k], d, length, c});
      total += length;
    }
  }
  if (segments_.empty()) return;
  std::vector<double> lengths(segments_.size());
  for (std::size_t s = 0; s < segments_.size(); ++s) lengths[s] = segments_[s].length;
  const auto quantile =
      lengths.begin() + static_cast<std::ptrdiff_t>(kCellLengthQuantile *
                                                    static_cast<double>(lengths.size() - 1));
  std::nth_element(lengths.begin(), quantile, lengths.end());
  const double extent = std::max(x1 - x0_, y1 - y0_);
  cell_ = std::max({kCellRadii * radius, *quantile,
                    total / (kMeanCellsPerSegment * static_cast<double>(segments_.size())),
                    extent / kMaxCellsAcross});
  columns_ = static_cast<std::int64_t>(std::floor((x1 - x0_) / cell_)) + 1;
  rows_ = static_cast<std::int64_t>(std::floor((y1 - y0_) / cell_)) + 1;

  for (std::size_t s = 0; s < segments_.size(); ++s) {
    const CurveSegment& seg = segments_[s];
    const auto pieces = static_cast<std::size_t>(std::ceil(seg.length / (0.5 * cell_)));
    std::uint64_t last = ~std::uint64_t{0};
    for (std::size_t j = 0; j < pieces; ++j) {
      const double t = seg.length * (static_cast<double>(j) + 0.5) / static_cast<double>(pieces);
      const double x = std::floor((seg.a.x + t * seg.unit.x - x0_) / cell_);
      const double y = std::floor((seg.a.y + t * seg.unit.y - y0_) / cell_);
      const std::uint64_t k =
          key(std::clamp<std::int64_t>(static_cast<std::int64_t>(x), 0, columns_ - 1),
              std::clamp<std::int64_t>(static_cast<std::int64_t>(y), 0, rows_ - 1));
      if (k != last) entries_.emplace_back(k, s);  // consecutive pieces often share a cell
      last = k;
    }
  }
  parallel_sort(entries_.begin(), entries_.end(), std::less<>());
  entries_.erase(std::unique(entries_.begin(), entries_.end()), entries_.end());
  for (std::size_t k = 0; k < entries_.size();) {
    std::size_t end = k + 1;
    while (end < entries_.size() && entries_[end].first == entries_[k].first) ++end;
    runs_.emplace(entries_[k].first, std::make_pair(k, end));
    k = end;
  }
}

// The curves by the undirected directions of their segments, binned, for runs of samples that
// every segment lies within the radius of: there only the direction decides, and a bin inside
// the allowed angle gives its curves without looking at their segments.
class DirectionIndex {
 public:
  explicit DirectionIndex(const std::vector<Polyline>& curves) : bins_(kDirectionBins) {
    for (std::size_t c = 0; c < curves.size(); ++c) {
      const Polyline& curve = curves[c];
      for (std::size_t k = 0; k + 1 < curve.size(); ++k) {
        const double length = dist(curve[k], curve[k + 1]);
        if (!(length > kLengthEpsilon)) continue;
        const Point unit{(curve[k + 1].x - curve[k].x) / length,
                         (curve[k + 1].y - curve[k].y) / length};
        Bin& bin = bins_[bin_of(unit)];
        if (bin.curves.empty() || bin.curves.back() != c) bin.curves.push_back(c);
        bin.segments.emplace_back(c, unit);
      }
    }
  }

  // Calls fn(curve) for each curve with a segment within the allowed angle of `unit` (any
  // direction for none), once per bin it has such segments in.
  template <class Fn>
  void along(const Point* unit, double min_cos, double max_angle, const Fn& fn) const {
    const double width = kPi / static_cast<double>(kDirectionBins);
    const double phi = unit == nullptr ? 0.0 : std::atan2(unit->y, unit->x);
    const auto gap = [phi](double angle) {  // undirected, in [0, pi / 2]
      const double d = std::fmod(std::fabs(angle - phi), kPi);
      return std::min(d, kPi - d);
    };
    // Both ends of a bin inside the angle put the whole bin inside while the angle leaves out
    // more than a bin.
    const bool bins_fit = 2.0 * max_angle + 2.0 * width < kPi;
    for (std::size_t b = 0; b < bins_.size(); ++b) {
      const Bin& bin = bins_[b];
      const double a0 = width * static_cast<double>(b);
      if (unit != nullptr && gap(a0 + 0.5 * width) > max_angle + width) continue;
      const bool whole = unit == nullptr || (bins_fit && gap(a0) < max_angle - kBinMargin &&
                                             gap(a0 + width) < max_angle - kBinMargin);
      if (whole) {
        for (const std::size_t c : bin.curves) fn(c);
        continue;
      }
      for (const auto& [c, u] : bin.segments) {
        if (std::fabs(unit->x * u.x + unit->y * u.y) >= min_cos) fn(c);
      }
    }
  }

 private:
  struct Bin {
    std::vector<std::size_t> curves;  // each curve once per run of its segments here
    std::vector<std::pair<std::size_t, Point>> segments;
  };

  static std::size_t bin_of(const Point& unit) {
    double angle = std::atan2(unit.y, unit.x);
    if (angle < 0.0) angle += kPi;
    const double b = std::floor(angle / kPi * static_cast<double>(kDirectionBins));
    return static_cast<std::size_t>(std::clamp(b, 0.0, double{kDirectionBins - 1}));
  }

  std::vector<Bin> bins_;
};

// Per worker thread: each curve's last sample and its summed length along the current chain, and
// the segments near the current run of samples.
struct Scratch {
  std::vector<std::uint64_t> seen;
  std::vector<double> along;
  std::vector<std::size_t> touched;
  std::vector<CurveSegment> near;
  std::uint64_t sample = 0;
};

void check_settings(const SourceSettings& s) {
  if (!(s.radius > 0.0) || !std::isfinite(s.radius)) {
    throw InputError("radius must be a positive finite number, got " + number_text(s.radius));
  }
  if (s.radius > kMaxMagnitude) {
    throw InputError("radius must be at most " + number_text(kMaxMagnitude) + ", got " +
                     number_text(s.radius));
  }
  if (!(s.max_angle_degrees >= 0.0 && s.max_angle_degrees <= 90.0)) {
    throw InputError("max_angle must be a number of degrees from 0 to 90, got " +
                     number_text(s.max_angle_degrees));
  }
  if (!(s.min_share >= 0.0 && s.min_share <= 1.0)) {
    throw InputError("min_share must be a number from 0 to 1, got " + number_text(s.min_share));
  }
}

void check_points(const std::vector<Polyline>& lines, const char* name) {
  for (std::size_t i = 0; i < lines.size(); ++i) {
    for (std::size_t k = 0; k < lines[i].size(); ++k) {
      const Point& p = lines[i][k];
      const std::string what =
          std::string(name) + "[" + std::to_string(i) + "][" + std::to_string(k) + "]";
      if (!is_finite(p)) throw_not_finite(p, what);
      if (std::abs(p.x) > kMaxMagnitude || std::abs(p.y) > kMaxMagnitude) {
        throw InputError(what + " is (" + number_text(p.x) + ", " + number_text(p.y) +
                         "); coordinates must be at most " + number_text(kMaxMagnitude) +
                         " in size, so that lengths stay finite");
      }
    }
  }
}

// Squared distance from p to the segment from a along unit for length.
double distance2(const Point& p, const CurveSegment& s) {
  const double t = std::clamp((p.x - s.a.x) * s.unit.x + (p.y - s.a.y) * s.unit.y, 0.0, s.length);
  return dist2(p, {s.a.x + t * s.unit.x, s.a.y + t * s.unit.y});
}

}  // namespace

std::vector<std::vector<ChainSource>> chain_sources(const std::vector<Polyline>& chains,
                                                    const std::vector<Polyline>& curves,
                                                    const SourceSettings& settings,
                                                    const CancelCheck& cancelled) {
  check_settings(settings);
  check_points(chains, "chains");
  check_points(curves, "curves");
  const double radius = settings.radius;
  const double radius2 = radius * radius;
  // Undirected: a curve drawn the other way round runs along the chain as well.
  const double min_cos = std::cos(settings.max_angle_degrees * kPi / 180.0);
  const SegmentGrid grid(curves, radius);
  // Only a radius that can reach every segment from one point needs the curves by direction.
  const std::optional<DirectionIndex> directions =
      grid.reachable(radius) ? std::optional<DirectionIndex>(curves) : std::nullopt;
  const double max_angle = settings.max_angle_degrees * kPi / 180.0;
  const double spacing = kSampleSpacingFraction * radius;
  std::size_t points = 0;
  for (const std::vector<Polyline>* lines : {&chains, &curves}) {
    for (const Polyline& line : *lines) points += line.size();
  }
  const std::size_t pair_limit =
      budget_limit(kMaxSourcePairsVariable, points, kSourcePairsPerPoint, kSourcePairFloor);
  std::atomic<std::size_t> pairs{0};

  tbb::enumerable_thread_specific<Scratch> scratches([&] {
    Scratch s;
    s.seen.assign(curves.size(), ~std::uint64_t{0});
    s.along.assign(curves.size(), 0.0);
    return s;
  });
  std::vector<std::vector<ChainSource>> out(chains.size());
  parallel_for(chains.size(), [&](std::size_t i) {
    throw_if_cancelled(cancelled);
    const Polyline& chain = chains[i];
    if (chain.empty()) return;
    Scratch& s = scratches.local();
    // Adds each sample's length to every curve that runs along it, for the samples at
    // first + step * (j + 0.5) for j in [0, n); a null direction takes any.
    const auto run = [&](const Point& first, const Point& step, std::size_t n, const Point* unit,
                         double length) {
      const Point last{first.x + step.x * (static_cast<double>(n) - 0.5),
                       first.y + step.y * (static_cast<double>(n) - 0.5)};
      // Where every segment lies within the radius of the whole run, only directions decide,
      // and every sample of the run alike.
      if (directions &&
          grid.all_within({first.x + 0.5 * step.x, first.y + 0.5 * step.y}, last, radius)) {
        const std::uint64_t id = s.sample++;
        directions->along(unit, min_cos, max_angle, [&](std::size_t c) {
          if (s.seen[c] == id) return;
          s.seen[c] = id;
          if (s.along[c] == 0.0) s.touched.push_back(c);
          s.along[c] += static_cast<double>(n) * length;
        });
        return;
      }
      const Point lo{std::min(first.x, last.x) - radius, std::min(first.y, last.y) - radius};
      const Point hi{std::max(first.x, last.x) + radius, std::max(first.y, last.y) + radius};
      s.near.clear();
      grid.within(lo, hi, [&](const CurveSegment& seg) {
        if (unit != nullptr && std::fabs(unit->x * seg.unit.x + unit->y * seg.unit.y) < min_cos) {
          return;
        }
        const Point b{seg.a.x + seg.length * seg.unit.x, seg.a.y + seg.length * seg.unit.y};
        if (std::max(seg.a.x, b.x) < lo.x || std::min(seg.a.x, b.x) > hi.x ||
            std::max(seg.a.y, b.y) < lo.y || std::min(seg.a.y, b.y) > hi.y) {
          return;
        }
        s.near.push_back(seg);
      });
      for (std::size_t j = 0; j < n; ++j) {
        const double t = static_cast<double>(j) + 0.5;
        const Point p{first.x + t * step.x, first.y + t * step.y};
        const std::uint64_t id = s.sample++;
        for (const CurveSegment& seg : s.near) {
          if (s.seen[seg.curve] == id || distance2(p, seg) > radius2) continue;
          s.seen[seg.curve] = id;
          if (s.along[seg.curve] == 0.0) s.touched.push_back(seg.curve);
          s.along[seg.curve] += length;
        }
      }
    };
    // Runs reach at most half a cell along the chain, so that each reads a few cells.
    const double reach = 0.5 * grid.cell();
    double total = 0.0;
    for (std::size_t k = 0; k + 1 < chain.size(); ++k) {
      const Point& a = chain[k];
      const Point& b = chain[k + 1];
      const double length = dist(a, b);
      if (!(length > kLengthEpsilon)) continue;
      const Point unit{(b.x - a.x) / length, (b.y - a.y) / length};
      const auto n = static_cast<std::size_t>(std::clamp(
          std::ceil(length / spacing), 1.0, static_cast<double>(kMaxSamplesPerSegment)));
      const double piece = length / static_cast<double>(n);
      const Point step{piece * unit.x, piece * unit.y};
      // Clamped as a double: a radius far beyond the segment would overflow the count.
      const auto per_run = static_cast<std::size_t>(
          std::clamp(std::floor(reach / piece), 1.0, static_cast<double>(n)));
      for (std::size_t j = 0; j < n; j += per_run) {
        const auto d = static_cast<double>(j);
        run({a.x + d * step.x, a.y + d * step.y}, step, std::min(per_run, n - j), &unit, piece);
      }
      total += length;
      if (k % kCancelEvery == 0) throw_if_cancelled(cancelled);
    }
    if (total == 0.0) {
      run(chain.front(), {0.0, 0.0}, 1, nullptr, 1.0);
      total = 1.0;
    }
    if (pairs.fetch_add(s.touched.size()) + s.touched.size() > pair_limit) {
      throw InputError("more than " + std::to_string(pair_limit) +
                       " chain-curve pairs come within the radius in about the same direction "
                       "(is the radius far beyond the spacing of the lines?); set " +
                       kMaxSourcePairsVariable + " to allow more");
    }
    std::sort(s.touched.begin(), s.touched.end());
    for (const std::size_t c : s.touched) {
      const double share = std::min(1.0, s.along[c] / total);
      if (share >= settings.min_share - kShareSlack) out[i].push_back({c, share});
      s.along[c] = 0.0;
    }
    s.touched.clear();
  });
  return out;
}

}  // namespace linetopo
