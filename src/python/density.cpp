// density_centerline: its own options converted here, the rest bound as topologize_polygons
// binds them.
#include "python/density.hpp"

#include <string>

#include "pipeline/pipeline.hpp"
#include "pipeline/settings.hpp"
#include "python/convert.hpp"
#include "python/interrupt.hpp"
#include "python/parameters.hpp"

namespace py = pybind11;
namespace cv = linetopo::py_convert;
namespace pp = linetopo::py_params;

namespace linetopo::py_density {
namespace {

// The docstring, its numbers taken from the settings they describe.
std::string docstring() {
  namespace d = defaults;
  const auto n = [](double v) { return number_text(v); };
  return "density_centerline(curves, feature_size, *, cell=None, sigma=None, radius=None, "
         "relative=" + n(d::kDensityRelative) + ", min_count=" + n(d::kDensityMinCount) +
         ", **options)\n--\n\n"
         "Map the streets that many curves follow: a centerline of where they run densely.\n"
         "\n"
         "For many noisy traces of the same streets (GPS tracks), where `topologize`\n"
         "fuses the buffers of neighbouring streets. Each curve is counted once in\n"
         "every cell of side `cell` it crosses, however often it loops there; the\n"
         "counts are blurred with a Gaussian of deviation `sigma`, and a cell is road\n"
         "where its density is at least `relative` times the highest density within\n"
         "`radius` of it (a square of that half-side) and at least `min_count` times\n"
         "the peak of one trace alone. A busy avenue then does not swallow the quiet\n"
         "street beside it, and a street one trace drove still counts where nothing\n"
         "busier is near. The outline of the road, traced between cell centres where\n"
         "that margin crosses zero, runs through `topologize_polygons` with the\n"
         "options; holes in it narrower than feature_size x " +
         n(d::kDensityMinHoleWidthFraction) + " on average\n"
         "(slivers between the lanes of one road) are filled. A raster of more than\n" +
         n(kSingleRasterTiles) + " tiles of " + std::to_string(kDensityTileSide) + " x " +
         std::to_string(kDensityTileSide) +
         " cells runs tile by tile in bounded memory. More than\n" +
         number_text(static_cast<double>(kDensityCellBudget), true) +
         " cells is refused (the environment variable " + kMaxDensityCellsVariable +
         "\nsets another limit).\n"
         "\n"
         "Parameters\n"
         "----------\n"
         "curves : sequence of curves\n"
         "    The traces: each a sequence of (x, y) tuples or an (n, 2) float array.\n"
         "feature_size : float\n"
         "    As for `topologize`; about twice the spread of the traces across a\n"
         "    street (25 for GPS in metres).\n"
         "cell : float, optional\n"
         "    The side of a cell; default feature_size / " + n(d::kDensityCellDivisor) + ".\n"
         "sigma : float, optional\n"
         "    The deviation of the blur; default feature_size / " + n(d::kDensitySigmaDivisor) +
         "; 0 switches it off.\n"
         "radius : float, optional\n"
         "    How far around a cell the busiest traffic is looked for; default\n"
         "    " + n(d::kDensityRadiusFraction) + " x feature_size.\n"
         "relative : float, default " + n(d::kDensityRelative) + "\n"
         "    The share of that busiest traffic a cell needs, from 0 to 1: higher\n"
         "    keeps fewer quiet streets beside busy ones and fewer loops between\n"
         "    them; 0 keeps every cell above min_count.\n"
         "min_count : float, default " + n(d::kDensityMinCount) + "\n"
         "    The share of one trace's peak a cell needs in any case.\n"
         "**options : dict\n"
         "    The options of `topologize_polygons` (buffer_distance, simplification,\n"
         "    compute_widths, ...), except that keep_components is off unless given:\n"
         "    a speck of traffic is noise, not a drawn dot.\n"
         "\n"
         "Returns\n"
         "-------\n"
         "tuple\n"
         "    (chains, nodes, chain_node_ids, widths), as `topologize` returns them.\n"
         "\n"
         "Examples\n"
         "--------\n"
         ">>> import linetopo\n"
         ">>> traces = [[(0.0, 0.1 * k), (500.0, 0.1 * k)] for k in range(20)]\n"
         ">>> chains, nodes, ids, widths = linetopo.density_centerline(traces, 25.0)\n"
         ">>> len(chains)\n"
         "1\n";
}

py::tuple density_centerline(py::handle curves, py::handle feature_size, py::handle cell,
                             py::handle sigma, py::handle radius, py::handle relative,
                             py::handle min_count, const py::kwargs& options) {
  if (options.contains("polygons") || options.contains("curves")) {
    throw py::type_error("density_centerline() got an unexpected keyword argument");
  }
  DensityParams d;
  d.cell = cv::to_optional_double(cell, "cell");
  d.sigma = cv::to_optional_double(sigma, "sigma");
  d.radius = cv::to_optional_double(radius, "radius");
  d.relative = cv::to_optional_double(relative, "relative");
  d.min_count = cv::to_optional_double(min_count, "min_count");
  const std::vector<Polyline> native = cv::to_curves(curves, "curves");
  const pp::Call call = pp::bind_polygons_call(py::make_tuple(py::list(), feature_size), options);
  const TopologyResult r = py_interrupt::run_interruptible([&](const CancelCheck& cancelled) {
    return linetopo::density_centerline(native, d, call.job.params, cancelled);
  });
  return py::make_tuple(cv::from_chains(r.chains), cv::from_points(r.nodes),
                        cv::from_pairs(r.chain_node_ids), cv::from_widths(r.widths));
}

}  // namespace

void register_density(py::module_& m) {
  const std::string doc = docstring();
  m.def("density_centerline", &density_centerline, doc.c_str(), py::arg("curves"),
        py::arg("feature_size"), py::kw_only(), py::arg("cell") = py::none(),
        py::arg("sigma") = py::none(), py::arg("radius") = py::none(),
        py::arg("relative") = defaults::kDensityRelative,
        py::arg("min_count") = defaults::kDensityMinCount);
  // For the command line's help.
  py::dict density_defaults;
  density_defaults["relative"] = defaults::kDensityRelative;
  density_defaults["min_count"] = defaults::kDensityMinCount;
  m.attr("_DENSITY_DEFAULTS") = density_defaults;
}

}  // namespace linetopo::py_density
