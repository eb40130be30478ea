// Numbers in messages: one spelling for every stage.
#include <array>
#include <charconv>
#include <cmath>
#include <string>

#include "geometry/geometry.hpp"

namespace linetopo {

std::string number_text(double v, bool fixed) {
  if (std::isnan(v)) return "NaN";
  if (std::isinf(v)) return v < 0 ? "-inf" : "inf";
  // The longest fixed form of a double (the smallest subnormal) needs about 330 characters.
  std::array<char, 400> buf{};
  const auto res =
      fixed ? std::to_chars(buf.data(), buf.data() + buf.size(), v, std::chars_format::fixed)
            : std::to_chars(buf.data(), buf.data() + buf.size(), v);
  if (res.ec != std::errc()) throw InternalError("internal error: cannot format a number");
  return std::string(buf.data(), res.ptr);
}

void throw_not_finite(const Point& p, const std::string& what) {
  throw InputError(what + " is (" + number_text(p.x) + ", " + number_text(p.y) +
                   "); coordinates must be finite numbers");
}

}  // namespace linetopo
