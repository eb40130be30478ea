// The argument checks every entry point runs: feature_size and per-curve widths messages.
#include <gtest/gtest.h>

#include <cmath>
#include <string>

#include "pipeline/pipeline.hpp"

namespace linetopo {
namespace {

// The InputError text of `check`, or "" when it passes.
template <typename F>
std::string message_of(F check) {
  try {
    check();
  } catch (const InputError& e) {
    return e.what();
  }
  return "";
}

std::string feature_message(double v) {
  return message_of([v] { validate_feature_size(v); });
}

TEST(FeatureSize, RejectsWithShortestFixedText) {
  const std::string prefix = "feature_size must be a positive finite number, got ";
  // Each text parses back to exactly the value it must print as.
  for (const char* text :
       {"0", "-0", "-3", "-1.5", "-0.0001", "-0.1", "-10000000000000000000000", "inf", "-inf"}) {
    EXPECT_EQ(feature_message(std::stod(text)), prefix + text);
  }
  EXPECT_EQ(feature_message(std::nan("")), prefix + "NaN");
  EXPECT_EQ(feature_message(-std::nan("")), prefix + "NaN");
  // The smallest subnormal is written out in full fixed digits.
  const std::string tiny = feature_message(-5e-324);
  ASSERT_EQ(tiny.substr(0, prefix.size() + 3), prefix + "-0.");
  const std::string digits = tiny.substr(prefix.size() + 3);
  EXPECT_EQ(digits.size(), 324u);
  EXPECT_EQ(digits.find_first_not_of('0'), 323u);
  EXPECT_EQ(digits.back(), '5');
  for (double v : {5e-324, 1e-300, 0.0001, 1.0, 1e308}) EXPECT_EQ(feature_message(v), "");
}

TEST(PerCurveWidths, Messages) {
  const std::vector<Polyline> curves = {{{0, 0}, {1, 0}, {2, 0}}, {{0, 1}, {1, 1}}};
  const std::string length = "; they must match (or pass an empty list to use the uniform buffer)";
  const std::pair<Widths, std::string> cases[] = {
      {{}, ""},
      {{{}, {}, {}}, ""},
      {{{1, 1, 1}}, ""},
      {{{}, {2, 2}}, ""},
      {{{}, {}, {1.0}}, "per_curve_widths has an entry for curve 2 but only 2 curve(s) were given"},
      {{{1.0, 2.0}}, "per_curve_widths[0] has 2 entries but curve 0 has 3 points" + length},
      // The first failing entry decides, even when a later one is out of range.
      {{{1, 1, 1}, {1}, {1}},
       "per_curve_widths[1] has 1 entries but curve 1 has 2 points" + length},
  };
  for (const auto& [widths, message] : cases) {
    EXPECT_EQ(message_of([&] { check_per_curve_widths(curves, widths); }), message);
  }
  EXPECT_EQ(message_of([&] { check_per_curve_widths(curves, std::nullopt); }), "");
  EXPECT_THROW(check_per_curve_widths({}, Widths{{1.0}}), InputError);
}

}  // namespace
}  // namespace linetopo
