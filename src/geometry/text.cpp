// Numbers in messages: one spelling for every stage.
#include <algorithm>
#include <array>
#include <charconv>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <limits>
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

std::optional<std::size_t> count_from_environment(const char* name) {
  const char* text = std::getenv(name);
  if (text == nullptr) return std::nullopt;
  const char* end = text + std::strlen(text);
  std::size_t value = 0;
  const auto [stop, ec] = std::from_chars(text, end, value);
  if (ec == std::errc() && stop == end && value > 0) return value;
  // Echoed with anything but printable ASCII replaced, so that the message stays valid text.
  std::string shown(text, std::min<std::size_t>(static_cast<std::size_t>(end - text), 40));
  for (char& c : shown) {
    if (c < ' ' || c > '~') c = '?';
  }
  throw InputError(std::string(name) + " must be a positive integer, got '" + shown + "'");
}

std::size_t budget_limit(const char* name, std::size_t count, std::size_t per,
                         std::size_t floor) {
  if (const auto set = count_from_environment(name)) return *set;
  const std::size_t grown =
      per != 0 && count > std::numeric_limits<std::size_t>::max() / per
          ? std::numeric_limits<std::size_t>::max()
          : count * per;
  return std::max(floor, grown);
}

void throw_not_finite(const Point& p, const std::string& what) {
  throw InputError(what + " is (" + number_text(p.x) + ", " + number_text(p.y) +
                   "); coordinates must be finite numbers");
}

}  // namespace linetopo
