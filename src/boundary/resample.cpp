// Uniform ring resampling: corners found by turning angle, spans between them resampled evenly.
#include "boundary/resample.hpp"

#include <cmath>

namespace linetopo {

namespace detail {

std::optional<double> turn_cosine(const Ring& ring, std::size_t i) {
  const std::size_t n = ring.size();
  const Point& cur = ring[check_index(i, n, "turn vertex")];
  const Point& prev = ring[(i + n - 1) % n];
  const Point& next = ring[(i + 1) % n];
  const double in_x = cur.x - prev.x;
  const double in_y = cur.y - prev.y;
  const double out_x = next.x - cur.x;
  const double out_y = next.y - cur.y;
  const double in_len = std::sqrt(in_x * in_x + in_y * in_y);
  const double out_len = std::sqrt(out_x * out_x + out_y * out_y);
  if (in_len < kLengthEpsilon || out_len < kLengthEpsilon) return std::nullopt;
  double c = (in_x * out_x + in_y * out_y) / (in_len * out_len);
  if (c < -1.0) c = -1.0;
  if (c > 1.0) c = 1.0;
  return c;
}

std::vector<double> cumulative_lengths(const std::vector<Point>& span) {
  std::vector<double> cum(span.size(), 0.0);
  for (std::size_t i = 1; i < span.size(); ++i) {
    cum[i] = cum[i - 1] + dist(span[i - 1], span[i]);
  }
  return cum;
}

Point point_at_arc_length(const std::vector<Point>& span, const std::vector<double>& cum, double t,
                          std::size_t& j) {
  const std::size_t n = span.size();
  if (n == 0 || cum.size() != n) throw InternalError("internal error: arc length table mismatch");
  if (j == 0) j = 1;
  while (j < n && !(cum[j] >= t)) ++j;
  if (j >= n) return span[n - 1];  // t beyond the end by rounding
  const Point& a = span[j - 1];
  const Point& b = span[j];
  const double seg = cum[j] - cum[j - 1];
  const double f = seg > kLengthEpsilon ? (t - cum[j - 1]) / seg : 0.0;
  return {a.x + (b.x - a.x) * f, a.y + (b.y - a.y) * f};
}

}  // namespace detail

std::vector<std::size_t> corner_anchors(const Ring& ring, double corner_angle) {
  // The cosine from the math library, not a rounded literal: cos(pi/3) is 0.5000000000000001.
  const double threshold = std::cos(corner_angle);
  std::vector<std::size_t> anchors;
  for (std::size_t j = 0; j < ring.size(); ++j) {
    const std::optional<double> c = detail::turn_cosine(ring, j);
    if (c && *c < threshold) anchors.push_back(j);
  }
  return anchors;
}

std::vector<Point> ring_span(const Ring& ring, std::size_t start, std::size_t end) {
  const std::size_t n = ring.size();
  check_index(start, n, "span start");
  check_index(end, n, "span end");
  // The walk takes one step before testing for end, so start == end goes once round.
  const std::size_t steps = end > start ? end - start : end + n - start;
  std::vector<Point> span;
  span.reserve(steps + 1);
  span.push_back(ring[start]);
  std::size_t i = start;
  do {
    i = (i + 1) % n;
    span.push_back(ring[i]);
  } while (i != end);
  return span;
}

namespace {

// Points resample_span_open makes from a span of n points and length total: n for n <= 1, 2 for
// a (near) zero length, otherwise max(1, round(total / spacing)) + 1.
std::size_t uniform_span_count(std::size_t n, double total, double spacing) {
  if (n <= 1) return n;
  if (total <= kLengthEpsilon) return 2;
  const std::int64_t rounded = round_half_away_i64(total / spacing);
  const std::size_t m = rounded < 2 ? 1 : static_cast<std::size_t>(rounded);
  return detail::saturating_add(m, 1);
}

// Length of the ring walk from start to end, summed in the same order as cumulative_lengths.
double walk_length(const Ring& ring, std::size_t start, std::size_t end) {
  const std::size_t n = ring.size();
  double total = 0.0;
  std::size_t i = start;
  do {
    const std::size_t next = (i + 1) % n;
    total += dist(ring[i], ring[next]);
    i = next;
  } while (i != end);
  return total;
}

// resample_span_open, checking the count against budget unless the caller already did.
std::vector<Point> resample_span(const std::vector<Point>& span, double spacing,
                                 const PointBudget* budget) {
  const std::size_t n = span.size();
  if (n <= 1) return span;
  const std::vector<double> cum = detail::cumulative_lengths(span);
  const double total = cum[n - 1];
  if (total <= kLengthEpsilon) return {span.front(), span.back()};

  const std::size_t count = uniform_span_count(n, total, spacing);
  if (budget != nullptr) check_point_budget(*budget, count);
  const std::size_t m = count - 1;
  std::vector<Point> out;
  out.reserve(m + 1);
  const double md = static_cast<double>(m);
  std::size_t j = 1;
  for (std::size_t k = 0; k <= m; ++k) {
    const double t = (total * static_cast<double>(k)) / md;
    out.push_back(detail::point_at_arc_length(span, cum, t, j));
  }
  return out;
}

}  // namespace

std::vector<Point> resample_span_open(const std::vector<Point>& span, double spacing,
                                      const PointBudget& budget) {
  return resample_span(span, spacing, &budget);
}

Ring resample_ring(const Ring& ring, double spacing, double corner_angle,
                   const PointBudget& budget) {
  const std::size_t n = ring.size();
  if (n < 3 || spacing <= 0.0) return ring;
  const std::vector<std::size_t> anchors = corner_anchors(ring, corner_angle);

  // The whole ring's count, known from the span lengths, is checked before any span is made.
  std::size_t total = 0;
  if (anchors.empty()) {
    total = uniform_span_count(n + 1, walk_length(ring, 0, 0), spacing) - 1;
  } else {
    for (std::size_t i = 0; i < anchors.size(); ++i) {
      const std::size_t start = anchors[i];
      const std::size_t end = anchors[(i + 1) % anchors.size()];
      const std::size_t steps = end > start ? end - start : end + n - start;
      total = detail::saturating_add(
          total, uniform_span_count(steps + 1, walk_length(ring, start, end), spacing) - 1);
    }
  }
  check_point_budget(budget, total);

  return detail::resample_ring_with(
      ring, anchors, budget, [spacing](const std::vector<Point>& span, const PointBudget&) {
        return resample_span(span, spacing, nullptr);  // counted above
      });
}

}  // namespace linetopo
