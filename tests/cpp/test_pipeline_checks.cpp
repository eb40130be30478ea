// The argument checks every entry point runs: feature_size and per-curve widths messages.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "pipeline/pipeline.hpp"

namespace linetopo {
namespace {

std::string message_of(double v) {
  try {
    validate_feature_size(v);
  } catch (const InputError& e) {
    return e.what();
  }
  return "";
}

TEST(FeatureSize, RejectsWithShortestFixedText) {
  const double inf = std::numeric_limits<double>::infinity();
  const std::pair<double, const char*> cases[] = {{0.0, "0"},
                                                  {-0.0, "-0"},
                                                  {-3.0, "-3"},
                                                  {-1.5, "-1.5"},
                                                  {-0.0001, "-0.0001"},
                                                  {-1e22, "-10000000000000000000000"},
                                                  {inf, "inf"},
                                                  {-inf, "-inf"},
                                                  {std::nan(""), "NaN"},
                                                  {-std::nan(""), "NaN"},
                                                  {-0.1, "-0.1"}};
  for (const auto& [v, text] : cases) {
    EXPECT_EQ(message_of(v),
              std::string("feature_size must be a positive finite number, got ") + text)
        << v;
  }
  // The smallest subnormal is written out in full fixed digits.
  const std::string tiny = message_of(-5e-324);
  const std::string prefix = "feature_size must be a positive finite number, got -0.";
  ASSERT_EQ(tiny.substr(0, prefix.size()), prefix);
  const std::string digits = tiny.substr(prefix.size());
  EXPECT_EQ(digits.size(), 324u);
  EXPECT_EQ(digits.find_first_not_of('0'), 323u);
  EXPECT_EQ(digits.back(), '5');
}

TEST(FeatureSize, AcceptsPositiveFiniteIncludingSubnormal) {
  for (double v : {5e-324, 1e-300, 0.0001, 1.0, 1e308}) EXPECT_NO_THROW(validate_feature_size(v));
}

TEST(PerCurveWidths, Messages) {
  const std::vector<Polyline> curves = {{{0, 0}, {1, 0}, {2, 0}}, {{0, 1}, {1, 1}}};
  struct Case {
    Widths widths;
    std::string message;  // empty when the check passes
  };
  const Case cases[] = {
      {{}, ""},
      {{{}, {}, {}}, ""},
      {{{1, 1, 1}}, ""},
      {{{}, {2, 2}}, ""},
      {{{}, {}, {1.0}}, "per_curve_widths has an entry for curve 2 but only 2 curve(s) were given"},
      {{{1.0, 2.0}},
       "per_curve_widths[0] has 2 entries but curve 0 has 3 points; they must match (or pass an "
       "empty list to use the uniform buffer)"},
      // The first failing entry decides, even when a later one is out of range.
      {{{1, 1, 1}, {1}, {1}},
       "per_curve_widths[1] has 1 entries but curve 1 has 2 points; they must match (or pass an "
       "empty list to use the uniform buffer)"},
  };
  for (const Case& c : cases) {
    std::string got;
    try {
      check_per_curve_widths(curves, c.widths);
    } catch (const InputError& e) {
      got = e.what();
    }
    EXPECT_EQ(got, c.message);
  }
  EXPECT_NO_THROW(check_per_curve_widths(curves, std::nullopt));
  EXPECT_THROW(check_per_curve_widths({}, Widths{{1.0}}), InputError);
}

}  // namespace
}  // namespace linetopo
