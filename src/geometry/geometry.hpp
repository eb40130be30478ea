// Plain value types shared by every stage, the error types that reach Python, and the rounding
// rules written once.
#pragma once

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <limits>
#include <numbers>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

namespace linetopo {

struct Point {
  double x = 0.0;
  double y = 0.0;
  friend bool operator==(const Point&, const Point&) = default;
};

using Polyline = std::vector<Point>;  // open
using Ring = std::vector<Point>;      // closed; the first vertex is never repeated at the end
using Widths = std::vector<std::vector<double>>;  // one radius list per curve

struct BufferPolygon {
  Ring outer;
  std::vector<Ring> holes;
};

struct Segment {
  Point a;
  Point b;
};

// Bad input from the caller; the binding raises it as ValueError with this text.
class InputError : public std::invalid_argument {
 public:
  using std::invalid_argument::invalid_argument;
};

// A broken internal invariant; reaches Python as RuntimeError, never as an out-of-bounds read.
class InternalError : public std::logic_error {
 public:
  using std::logic_error::logic_error;
};

// Returns i when it indexes a container of size n, and throws InternalError otherwise.
inline std::size_t check_index(std::size_t i, std::size_t n, const char* what) {
  if (i >= n) {
    throw InternalError(std::string("internal error: ") + what + " index " + std::to_string(i) +
                        " out of range " + std::to_string(n));
  }
  return i;
}

// Rounds halves away from zero and saturates to the int64 range; NaN gives 0.
inline std::int64_t round_half_away_i64(double v) {
  if (std::isnan(v)) return 0;
  const double r = std::round(v);  // std::round rounds halves away from zero
  if (r >= 9223372036854775807.0) return std::numeric_limits<std::int64_t>::max();
  if (r <= -9223372036854775808.0) return std::numeric_limits<std::int64_t>::min();
  return static_cast<std::int64_t>(r);
}

inline constexpr double kPi = std::numbers::pi;
inline constexpr double kHalfPi = kPi / 2.0;

// Lengths at or below this count as zero wherever a direction or a fraction of a length is taken.
inline constexpr double kLengthEpsilon = 1e-12;

// Shortest decimal text that reads back to v ("1e+20" style), or, when fixed, never in exponent
// form; NaN and the infinities read "NaN", "inf" and "-inf" either way.
std::string number_text(double v, bool fixed = false);

// The value of the environment variable `name`, which sets a budget's limit: nullopt when it is
// unset, else a positive integer; anything else throws InputError naming it.
std::optional<std::size_t> count_from_environment(const char* name);

// The limit of a budget that grows with its input: the value of the environment variable `name`
// when it is set, else the larger of `floor` and `per` x `count` (saturating).
std::size_t budget_limit(const char* name, std::size_t count, std::size_t per, std::size_t floor);

// The shoelace area of a ring: positive when it runs counter-clockwise with y up.
double signed_area(const Ring& ring);

// The length of a ring's outline, its closing edge included.
double ring_length(const Ring& ring);

// Throws InputError: "<what> is (x, y); coordinates must be finite numbers".
[[noreturn]] void throw_not_finite(const Point& p, const std::string& what);

inline bool is_finite(const Point& p) { return std::isfinite(p.x) && std::isfinite(p.y); }

inline double dist(const Point& a, const Point& b) {
  const double dx = b.x - a.x;
  const double dy = b.y - a.y;
  return std::sqrt(dx * dx + dy * dy);
}

inline double dist2(const Point& a, const Point& b) {
  const double dx = b.x - a.x;
  const double dy = b.y - a.y;
  return dx * dx + dy * dy;
}

}  // namespace linetopo
