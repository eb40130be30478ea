// The option table: each option's name, member, converter, default, help and flag.
#include "python/option_table.hpp"

#include <array>
#include <optional>
#include <string>

#include "python/convert.hpp"

namespace linetopo::py_params::detail {
namespace {

namespace cv = py_convert;

template <auto Member, auto Convert>
void assign(Call& call, py::handle value, const char* arg) {
  call.job.params.*Member = Convert(value, arg);
}

void assign_curves(Call& call, py::handle value, const char* arg) {
  call.job.curves = cv::to_curves(value, arg);
}

std::optional<bool> to_optional_bool(py::handle value, const char* arg) {
  if (value.is_none()) return std::nullopt;
  return cv::to_bool(value, arg);
}

// The words of the tip rules, in the order of TipRule.
constexpr std::array<const char*, 2> kTipRules{"length", "protrusion"};

void assign_tip_rule(Call& call, py::handle value, const char* arg) {
  if (value.is_none()) return;
  const std::string given = py::isinstance<py::str>(value) ? value.cast<std::string>() : "";
  for (std::size_t k = 0; k < kTipRules.size(); ++k) {
    if (given == kTipRules[k]) {
      call.job.params.tip_rule = static_cast<TipRule>(k);
      return;
    }
  }
  throw py::value_error(std::string(arg) + " must be \"length\" or \"protrusion\", got " +
                        py::repr(value).cast<std::string>());
}

void assign_polygons(Call& call, py::handle value, const char* arg) {
  call.polygons = cv::to_polygons(value, arg);
}

// One row per kind, so that a kind always comes with its converter.
template <auto Member>
Parameter number(std::string name, std::string help, std::string cli, std::string metavar) {
  return {std::move(name),   Kind::kFloat,    &assign<Member, &cv::to_double>,
          "required",        std::move(help), std::move(cli),
          std::move(metavar)};
}

template <auto Member>
Parameter optional_number(std::string name, std::string rule, std::string help, std::string cli,
                          std::string metavar) {
  return {std::move(name),   Kind::kOptionalFloat, &assign<Member, &cv::to_optional_double>,
          std::move(rule),   std::move(help),      std::move(cli),
          std::move(metavar)};
}

std::string fs_times(double factor) { return number_text(factor) + " × fs"; }

}  // namespace

const char* tip_rule_word(TipRule rule) { return kTipRules[static_cast<std::size_t>(rule)]; }

std::vector<Parameter> build_table() {
  namespace d = defaults;
  using P = TopologizeParams;
  std::vector<Parameter> t;
  t.push_back({"curves", Kind::kCurves, &assign_curves, "required",
               "The polylines: each a sequence of (x, y) tuples or an (n, 2) float array.", "",
               ""});
  t.push_back(number<&P::buffer_distance>(
      "buffer_distance",
      "Radius every curve is inflated by (curves with per-vertex widths use those instead); "
      "curves closer than twice this merge into one line. Boundary refinement near sharp turns "
      "scales with it, for polygons too.",
      "--buffer", "D"));
  t.push_back(number<&P::feature_size>(
      "feature_size",
      "The size of the smallest detail to keep, which scales every threshold; must be positive "
      "and finite.",
      "--feature-size", "F"));
  t.push_back(optional_number<&P::simplification>(
      "simplification", "fs / " + number_text(d::kSimplificationDivisor),
      "Tolerance for simplifying the output chains; <= 0 switches it off.", "--simplification",
      "T"));
  t.push_back(optional_number<&P::min_tip_fraction>(
      "min_tip_fraction", number_text(d::kMinTipFraction),
      "Dead-end branches shorter than fs × this are pruned, or with tip_rule protrusion "
      "those reaching less than fs × this past the stroke (by default " +
          number_text(d::kMinProtrusionFraction) + "); <= 0 keeps them all.",
      "--min-tip-fraction", "K"));
  t.push_back(optional_number<&P::junction_merge_fraction>(
      "junction_merge_fraction", number_text(d::kJunctionMergeFraction),
      "Junctions closer than fs × this merge into one, which stays as close to each of them; "
      "<= 0 switches merging off.",
      "--junction-merge-fraction", "K"));
  t.push_back({"per_curve_widths", Kind::kOptionalWidths,
               &assign<&P::per_curve_widths, &cv::to_optional_widths>, "none",
               "One radius per point, per curve, instead of buffer_distance; an empty list keeps "
               "the uniform radius for its curve, any other must be as long as its curve.",
               "", ""});
  t.push_back({"compute_widths", Kind::kBool, &assign<&P::compute_widths, &cv::to_bool>, "False",
               "Also return, per chain point, the local stroke width: twice the distance to the "
               "buffer boundary.",
               "--widths", ""});
  t.push_back(optional_number<&P::subdivision_ratio>(
      "subdivision_ratio", number_text(d::kSubdivisionRatio),
      "Near sharp boundary turns the boundary is refined down to buffer_distance × this (at "
      "least " +
          number_text(d::kMinSubdivisionRatio) +
          "); <= 0 switches the refinement off. Edges are always cut to at most " +
          fs_times(d::kMaxEdgeFraction) + ".",
      "--subdivision-ratio", "R"));
  t.push_back({"max_nodes", Kind::kOptionalInt, &assign<&P::max_nodes, &cv::to_optional_size>,
               "no limit",
               "Refuse skeleton graphs with more nodes than this, a guard for huge inputs.",
               "--max-nodes", "N"});
  t.push_back(optional_number<&P::resample>(
      "resample", "off",
      "Resample the buffer boundary at this even spacing instead of subdividing it.", "--resample",
      "S"));
  t.push_back(optional_number<&P::boundary_simplification>(
      "boundary_simplification", fs_times(d::kBoundarySimplificationFraction),
      "Tolerance for simplifying the buffer boundary first; <= 0 switches it off.",
      "--boundary-simplification", "T"));
  t.push_back(number<&P::tile_size>(
      "tile_size",
      "Side of the square tiles that topologize_tiled cuts the plane into; each tile runs on "
      "its own, with the curves within a halo around it.",
      "--tile-size", "S"));
  t.push_back({"polygons", Kind::kPolygons, &assign_polygons, "required",
               "The polygons: (outer, holes) pairs of rings, each ring a sequence of (x, y) "
               "tuples or an (n, 2) float array, as inflate_curves returns them. Rings may be "
               "closed or not, run either way round, repeat points, touch or cross themselves; "
               "holes may touch the outer ring and polygons overlap: each outer ring is filled "
               "and each hole cut out by the non-zero rule, and the polygons united, before "
               "the boundary is prepared. Rings of fewer than 3 distinct points are skipped.",
               "", ""});
  t.push_back(optional_number<&P::merge_tolerance>(
      "merge_tolerance", fs_times(d::kMergeToleranceFraction),
      "Curves whose ends meet within this are joined before inflating; <= 0 switches it off.",
      "--merge-tolerance", "T"));
  t.push_back({"keep_components", Kind::kOptionalBool,
               &assign<&P::keep_components, &to_optional_bool>,
               d::kKeepComponents ? "True" : "False",
               "Pruning never removes a connected part whole: a dot, a small closed shape or a "
               "short separate stroke keeps its longest path. topologize_polygons and scans "
               "keep them unless told not to.",
               "--keep-components", ""});
  t.push_back({"tip_rule", Kind::kOptionalText, &assign_tip_rule, tip_rule_word(d::kTipRule),
               "How pruning measures a dead end: length, all of it, or protrusion, how far it "
               "reaches past the stroke it leaves (its length less half the stroke's width at "
               "its junction), which keeps serifs and crossbars and drops bumps of the "
               "outline. topologize_polygons and scans measure protrusion unless told "
               "otherwise.",
               "--tip-rule", "RULE"});
  return t;
}

}  // namespace linetopo::py_params::detail
