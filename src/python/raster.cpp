// A grey image's ink traced and run through the polygon pipeline without going through Python
// objects, so that a large scan stays in bounded memory.
#include "python/raster.hpp"

#include <algorithm>
#include <cmath>
#include <optional>
#include <utility>

#include "pipeline/settings.hpp"
#include "python/convert.hpp"
#include "python/interrupt.hpp"
#include "python/parameters.hpp"
#include "raster/local_threshold.hpp"
#include "raster/stroke_width.hpp"
#include "raster/trace.hpp"

namespace py = pybind11;
namespace cv = linetopo::py_convert;
namespace pp = linetopo::py_params;

namespace linetopo::py_raster {
namespace {

// Traces the ink of the image (width x height bytes, row by row) and returns the centerline
// result with the feature size used: the one given, else the median width of the ink's strokes
// (median_stroke_width). Options given as None take the scan's defaults.
// source_bytes, the size of the file the image was read from, sets the outline's budget.
py::tuple centerline(const py::buffer& pixels, std::size_t width, std::size_t height,
                     double threshold, bool light_ink, py::handle feature_size,
                     const py::dict& options, std::size_t source_bytes, bool local) {
  const py::buffer_info info = pixels.request();
  if (info.itemsize != 1 || static_cast<std::size_t>(info.size) != width * height) {
    throw py::value_error("pixels must hold width x height bytes");
  }
  GreyView view{static_cast<const std::uint8_t*>(info.ptr), width, height, width};
  std::vector<std::uint8_t> recentred;
  if (local) {
    // The window follows the strokes, measured first against the global threshold.
    std::optional<double> stroke;
    if (feature_size.is_none()) {
      stroke = py_interrupt::run_interruptible([&](const CancelCheck& cancelled) {
        return median_stroke_width(view, threshold, light_ink, cancelled);
      });
      if (!stroke) return py::make_tuple(py::none(), 0.0);
    } else {
      stroke = cv::to_double(feature_size, "feature_size");
    }
    const double side = std::max(defaults::kLocalWindowPixels,
                                 defaults::kLocalWindowFeatureSizes * *stroke);
    const auto window = static_cast<std::size_t>(std::min(side, 1e9));
    recentred = py_interrupt::run_interruptible([&](const CancelCheck& cancelled) {
      return recentre_locally(view, window, light_ink, cancelled);
    });
    view = {recentred.data(), width, height, width};
    threshold = kRecentredThreshold;
    light_ink = false;
  }
  const std::size_t max_points = outline_point_limit(source_bytes);
  const bool measure = feature_size.is_none();
  std::optional<double> stroke;
  std::vector<Ring> rings = py_interrupt::run_interruptible([&](const CancelCheck& cancelled) {
    if (measure) stroke = median_stroke_width(view, threshold, light_ink, cancelled);
    InkOutline ink = trace_ink(view, threshold, light_ink, cancelled, max_points);
    std::vector<Ring> all = std::move(ink.outer);
    for (Ring& hole : ink.holes) all.push_back(std::move(hole));
    return all;
  });
  double fs = 0.0;
  if (measure) {
    if (!stroke || rings.empty()) return py::make_tuple(py::none(), 0.0);
    fs = *stroke;
  } else {
    fs = cv::to_double(feature_size, "feature_size");
  }
  py::dict given;  // a copy: the caller's options stay as they were
  for (const auto& [key, value] : options) {
    if (!value.is_none()) given[key] = value;
  }
  pp::Call call = pp::bind_polygons_call(py::make_tuple(py::list(), fs),
                                         py::reinterpret_borrow<py::kwargs>(given));
  apply_scan_defaults(call.job.params, fs);
  const TopologyResult result =
      py_interrupt::run_interruptible([&](const CancelCheck& cancelled) {
        return topologize_rings(std::move(rings), call.job.params, cancelled);
      });
  py::tuple topology =
      py::make_tuple(cv::from_chains(result.chains), cv::from_points(result.nodes),
                     cv::from_pairs(result.chain_node_ids), cv::from_widths(result.widths));
  return py::make_tuple(std::move(topology), fs);
}

}  // namespace

void register_raster(py::module_& m) {
  // Not an entry point: linetopo.raster reads the image and chooses the threshold.
  py::module_ raster = m.def_submodule("_raster", "The centerline of a grey image's ink.");
  raster.def("centerline", &centerline, py::arg("pixels"), py::arg("width"), py::arg("height"),
             py::arg("threshold"), py::arg("light_ink"), py::arg("feature_size"),
             py::arg("options"), py::arg("source_bytes"), py::arg("local") = false);
  // Before an image is decoded, from the size its header gives.
  raster.def("check_pixels", &check_pixel_budget, py::arg("width"), py::arg("height"));
}

}  // namespace linetopo::py_raster
