// The module root: registers the four functions. Each one converts its arguments, checks
// feature_size, releases the interpreter lock where the work allows and calls the core.
#include <pybind11/pybind11.h>

#include <utility>

#include "pipeline/pipeline.hpp"
#include "python/convert.hpp"
#include "python/docs.hpp"

namespace py = pybind11;
namespace cv = linetopo::py_convert;
using linetopo::TopologizeParams;

namespace {

// The parameters shared by inflate_curves and triangulate_curves, converted in signature order.
TopologizeParams required_params(py::handle buffer_distance, py::handle feature_size) {
  TopologizeParams p;
  p.buffer_distance = cv::to_double(buffer_distance, "buffer_distance");
  p.feature_size = cv::to_double(feature_size, "feature_size");
  return p;
}

py::list inflate_curves(py::handle curves, py::handle buffer_distance, py::handle feature_size,
                        py::handle per_curve_widths, py::handle merge_tolerance) {
  const auto native = cv::to_curves(curves, "curves");
  TopologizeParams p = required_params(buffer_distance, feature_size);
  p.per_curve_widths = cv::to_optional_widths(per_curve_widths, "per_curve_widths");
  p.merge_tolerance = cv::to_optional_double(merge_tolerance, "merge_tolerance");
  return cv::from_polygons(linetopo::build_buffer_polygons(native, p));
}

py::list triangulate_curves(py::handle curves, py::handle buffer_distance, py::handle feature_size,
                            py::handle per_curve_widths, py::handle subdivision_ratio,
                            py::handle resample, py::handle boundary_simplification,
                            py::handle merge_tolerance) {
  const auto native = cv::to_curves(curves, "curves");
  TopologizeParams p = required_params(buffer_distance, feature_size);
  p.per_curve_widths = cv::to_optional_widths(per_curve_widths, "per_curve_widths");
  p.subdivision_ratio = cv::to_optional_double(subdivision_ratio, "subdivision_ratio");
  p.resample = cv::to_optional_double(resample, "resample");
  p.boundary_simplification =
      cv::to_optional_double(boundary_simplification, "boundary_simplification");
  p.merge_tolerance = cv::to_optional_double(merge_tolerance, "merge_tolerance");
  return cv::from_triangles(linetopo::triangulate_curves(native, p));
}

py::tuple topologize(py::handle curves, py::handle buffer_distance, py::handle feature_size,
                     py::handle simplification, py::handle min_tip_fraction,
                     py::handle junction_merge_fraction, py::handle per_curve_widths,
                     py::handle compute_widths, py::handle subdivision_ratio, py::handle max_nodes,
                     py::handle resample, py::handle boundary_simplification,
                     py::handle merge_tolerance) {
  const auto native = cv::to_curves(curves, "curves");
  TopologizeParams p = required_params(buffer_distance, feature_size);
  p.simplification = cv::to_optional_double(simplification, "simplification");
  p.min_tip_fraction = cv::to_optional_double(min_tip_fraction, "min_tip_fraction");
  p.junction_merge_fraction =
      cv::to_optional_double(junction_merge_fraction, "junction_merge_fraction");
  p.per_curve_widths = cv::to_optional_widths(per_curve_widths, "per_curve_widths");
  p.compute_widths = cv::to_bool(compute_widths, "compute_widths");
  p.subdivision_ratio = cv::to_optional_double(subdivision_ratio, "subdivision_ratio");
  p.max_nodes = cv::to_optional_size(max_nodes, "max_nodes");
  p.resample = cv::to_optional_double(resample, "resample");
  p.boundary_simplification =
      cv::to_optional_double(boundary_simplification, "boundary_simplification");
  p.merge_tolerance = cv::to_optional_double(merge_tolerance, "merge_tolerance");
  linetopo::validate_feature_size(p.feature_size);
  linetopo::TopologyResult r;
  {
    py::gil_scoped_release unlocked;
    r = linetopo::topologize_inner(native, p);
  }
  return py::make_tuple(cv::from_chains(r.chains), cv::from_points(r.nodes),
                        cv::from_pairs(r.chain_node_ids), cv::from_widths(r.widths));
}

py::list topologize_batch(py::handle jobs) {
  const auto native = cv::to_jobs(jobs);
  for (const auto& job : native) linetopo::validate_feature_size(job.params.feature_size);
  std::vector<linetopo::TopologyResult> results;
  {
    py::gil_scoped_release unlocked;
    results = linetopo::run_batch(native);
  }
  py::list out(results.size());
  for (std::size_t i = 0; i < results.size(); ++i) {
    out[i] = py::make_tuple(cv::from_chains(results[i].chains), cv::from_points(results[i].nodes),
                            cv::from_pairs(results[i].chain_node_ids));
  }
  return out;
}

}  // namespace

PYBIND11_MODULE(_internal, m, py::mod_gil_not_used()) {
  // The docstrings carry the exact text signatures, so pybind11's own are switched off.
  py::options options;
  options.disable_function_signatures();
  const auto none = py::none();
  m.def("inflate_curves", &inflate_curves, linetopo::docs::kInflateCurves, py::arg("curves"),
        py::arg("buffer_distance"), py::arg("feature_size"), py::arg("per_curve_widths") = none,
        py::arg("merge_tolerance") = none);
  m.def("triangulate_curves", &triangulate_curves, linetopo::docs::kTriangulateCurves,
        py::arg("curves"), py::arg("buffer_distance"), py::arg("feature_size"),
        py::arg("per_curve_widths") = none, py::arg("subdivision_ratio") = none,
        py::arg("resample") = none, py::arg("boundary_simplification") = none,
        py::arg("merge_tolerance") = none);
  m.def("topologize", &topologize, linetopo::docs::kTopologize, py::arg("curves"),
        py::arg("buffer_distance"), py::arg("feature_size"), py::arg("simplification") = none,
        py::arg("min_tip_fraction") = none, py::arg("junction_merge_fraction") = none,
        py::arg("per_curve_widths") = none, py::arg("compute_widths") = false,
        py::arg("subdivision_ratio") = none, py::arg("max_nodes") = none,
        py::arg("resample") = none, py::arg("boundary_simplification") = none,
        py::arg("merge_tolerance") = none);
  m.def("topologize_batch", &topologize_batch, linetopo::docs::kTopologizeBatch, py::arg("jobs"));
}
