// The module root: registers topologize, topologize_tiled, topologize_polygons, topologize_batch,
// inflate_curves, triangulate_curves, strokes and chain_sources (the tile steps register in
// tiles.cpp). Each one binds and converts its arguments (the first six through the parameter
// table), releases the interpreter lock where the work allows and calls the core.
#include <pybind11/pybind11.h>

#include <initializer_list>
#include <string>
#include <string_view>
#include <utility>

#include "boundary/budget.hpp"
#include "pipeline/pipeline.hpp"
#include "pipeline/settings.hpp"
#include "bezier/fit.hpp"
#include "pipeline/versions.hpp"
#include "provenance/polygons_at.hpp"
#include "python/convert.hpp"
#include "python/density.hpp"
#include "python/docs.hpp"
#include "python/interrupt.hpp"
#include "python/parameters.hpp"
#include "python/raster.hpp"
#include "python/tiles.hpp"

namespace py = pybind11;
namespace cv = linetopo::py_convert;
namespace pp = linetopo::py_params;

namespace {

py::list inflate_curves(const py::args& args, const py::kwargs& kwargs) {
  const auto call = pp::bind_call(pp::inflate_curves_signature(), args, kwargs);
  return cv::from_polygons(
      linetopo::py_interrupt::run_interruptible([&](const linetopo::CancelCheck& cancelled) {
        return linetopo::build_buffer_polygons(call.job.curves, call.job.params, cancelled);
      }));
}

py::list triangulate_curves(const py::args& args, const py::kwargs& kwargs) {
  const auto call = pp::bind_call(pp::triangulate_curves_signature(), args, kwargs);
  return cv::from_triangles(
      linetopo::py_interrupt::run_interruptible([&](const linetopo::CancelCheck& cancelled) {
        return linetopo::triangulate_curves(call.job.curves, call.job.params, cancelled);
      }));
}

py::tuple topologize(const py::args& args, const py::kwargs& kwargs) {
  const auto call = pp::bind_call(pp::topologize_signature(), args, kwargs);
  const linetopo::TopologyResult r =
      linetopo::py_interrupt::run_interruptible([&](const linetopo::CancelCheck& cancelled) {
        return linetopo::topologize_inner(call.job.curves, call.job.params, cancelled);
      });
  return py::make_tuple(cv::from_chains(r.chains), cv::from_points(r.nodes),
                        cv::from_pairs(r.chain_node_ids), cv::from_widths(r.widths));
}

py::tuple topologize_tiled(const py::args& args, const py::kwargs& kwargs) {
  const auto call = pp::bind_call(pp::topologize_tiled_signature(), args, kwargs);
  const linetopo::TopologyResult r =
      linetopo::py_interrupt::run_interruptible([&](const linetopo::CancelCheck& cancelled) {
        return linetopo::topologize_tiled(call.job.curves, call.job.params, cancelled);
      });
  return py::make_tuple(cv::from_chains(r.chains), cv::from_points(r.nodes),
                        cv::from_pairs(r.chain_node_ids), cv::from_widths(r.widths));
}

py::tuple topologize_polygons(const py::args& args, const py::kwargs& kwargs) {
  const auto call = pp::bind_polygons_call(args, kwargs);
  const linetopo::TopologyResult r =
      linetopo::py_interrupt::run_interruptible([&](const linetopo::CancelCheck& cancelled) {
        return linetopo::topologize_polygons(call.polygons, call.job.params, cancelled);
      });
  return py::make_tuple(cv::from_chains(r.chains), cv::from_points(r.nodes),
                        cv::from_pairs(r.chain_node_ids), cv::from_widths(r.widths));
}

py::list polygons_at(py::handle points, py::handle polygons) {
  const auto native_points = cv::to_points(points, "points");
  const auto native_polygons = cv::to_polygons(polygons, "polygons");
  std::vector<std::vector<std::size_t>> found;
  {
    py::gil_scoped_release unlocked;
    found = linetopo::polygons_at(native_points, native_polygons);
  }
  py::list out(found.size());
  for (std::size_t i = 0; i < found.size(); ++i) {
    py::list polygons_here(found[i].size());
    for (std::size_t k = 0; k < found[i].size(); ++k) polygons_here[k] = found[i][k];
    out[i] = std::move(polygons_here);
  }
  return out;
}

py::list fit_curves(py::handle chain, py::handle tolerance) {
  const auto points = cv::to_points(chain, "chain");
  const double tol = cv::to_double(tolerance, "tolerance");
  const std::vector<linetopo::CubicPiece> pieces =
      linetopo::py_interrupt::run_interruptible([&](const linetopo::CancelCheck& cancelled) {
        return linetopo::fit_curves(points, tol, cancelled);
      });
  py::list out(pieces.size());
  for (std::size_t i = 0; i < pieces.size(); ++i) {
    const linetopo::CubicPiece& c = pieces[i];
    out[i] = py::make_tuple(py::make_tuple(c.p0.x, c.p0.y), py::make_tuple(c.p1.x, c.p1.y),
                            py::make_tuple(c.p2.x, c.p2.y), py::make_tuple(c.p3.x, c.p3.y));
  }
  return out;
}

py::list topologize_batch(py::handle jobs) {
  const auto native = cv::to_jobs(jobs);
  const std::vector<linetopo::TopologyResult> results =
      linetopo::py_interrupt::run_interruptible([&](const linetopo::CancelCheck& cancelled) {
        return linetopo::run_batch(native, cancelled);
      });
  py::list out(results.size());
  for (std::size_t i = 0; i < results.size(); ++i) {
    out[i] = py::make_tuple(cv::from_chains(results[i].chains), cv::from_points(results[i].nodes),
                            cv::from_pairs(results[i].chain_node_ids));
  }
  return out;
}

py::tuple strokes(py::handle chains, py::handle nodes, py::handle chain_node_ids,
                  py::handle max_turn, py::handle tangent_reach) {
  const auto native_chains = cv::to_curves(chains, "chains");
  const auto native_nodes = cv::to_points(nodes, "nodes");
  const auto ids = cv::to_index_pairs(chain_node_ids, "chain_node_ids");
  linetopo::StrokeSettings settings;
  settings.max_turn_degrees = cv::to_double(max_turn, "max_turn");
  settings.tangent_reach = cv::to_optional_double(tangent_reach, "tangent_reach");
  linetopo::Strokes r;
  {
    py::gil_scoped_release unlocked;
    r = linetopo::build_strokes(native_chains, native_nodes, ids, settings);
  }
  return py::make_tuple(cv::from_chains(r.strokes), cv::from_stroke_chains(r.stroke_chains));
}

py::list chain_sources(py::handle chains, py::handle curves, py::handle radius,
                       py::handle max_angle, py::handle min_share) {
  const auto native_chains = cv::to_curves(chains, "chains");
  const auto native_curves = cv::to_curves(curves, "curves");
  linetopo::SourceSettings settings;
  settings.radius = cv::to_double(radius, "radius");
  settings.max_angle_degrees = cv::to_double(max_angle, "max_angle");
  settings.min_share = cv::to_double(min_share, "min_share");
  return cv::from_chain_sources(
      linetopo::py_interrupt::run_interruptible([&](const linetopo::CancelCheck& cancelled) {
        return linetopo::chain_sources(native_chains, native_curves, settings, cancelled);
      }));
}

// A docstring with each {name} replaced by its default, written as Python writes a float, so
// that the text states the very value the binding passes.
std::string filled(std::string_view text,
                   std::initializer_list<std::pair<std::string_view, double>> defaults) {
  std::string out(text);
  for (const auto& [name, value] : defaults) {
    const std::string mark = "{" + std::string(name) + "}";
    std::string number = linetopo::number_text(value);
    if (number.find('.') == std::string::npos) number += ".0";
    for (auto at = out.find(mark); at != std::string::npos; at = out.find(mark, at)) {
      out.replace(at, mark.size(), number);
    }
  }
  return out;
}

}  // namespace

PYBIND11_MODULE(_internal, m, py::mod_gil_not_used()) {
  // The docstrings carry the exact text signatures, so pybind11's own are switched off.
  py::options options;
  options.disable_function_signatures();
  namespace docs = linetopo::docs;
  m.def("inflate_curves", &inflate_curves,
        pp::docstring(pp::inflate_curves_signature(), docs::kInflateCurvesSummary,
                      docs::kInflateCurvesReturns, docs::kInflateCurvesExamples)
            .c_str());
  m.def("triangulate_curves", &triangulate_curves,
        pp::docstring(pp::triangulate_curves_signature(), docs::kTriangulateCurvesSummary,
                      docs::kTriangulateCurvesReturns, docs::kTriangulateCurvesExamples)
            .c_str());
  m.def("topologize", &topologize,
        pp::docstring(pp::topologize_signature(), docs::kTopologizeSummary,
                      docs::kTopologizeReturns, docs::kTopologizeExamples)
            .c_str());
  m.def("topologize_tiled", &topologize_tiled,
        pp::docstring(pp::topologize_tiled_signature(), docs::kTopologizeTiledSummary,
                      docs::kTopologizeReturns, docs::kTopologizeTiledExamples)
            .c_str());
  m.def("topologize_polygons", &topologize_polygons,
        pp::docstring(pp::topologize_polygons_signature(), docs::kTopologizePolygonsSummary,
                      docs::kTopologizeReturns, docs::kTopologizePolygonsExamples)
            .c_str());
  m.def("topologize_batch", &topologize_batch,
        pp::batch_docstring(docs::kTopologizeBatchSummary, docs::kTopologizeBatchReturns,
                            docs::kTopologizeBatchExamples)
            .c_str(),
        py::arg("jobs"));
  m.def("strokes", &strokes,
        filled(docs::kStrokes, {{"max_turn", linetopo::kDefaultMaxTurnDegrees}}).c_str(),
        py::arg("chains"), py::arg("nodes"), py::arg("chain_node_ids"), py::kw_only(),
        py::arg("max_turn") = linetopo::kDefaultMaxTurnDegrees,
        py::arg("tangent_reach") = py::none());
  m.def("fit_curves", &fit_curves, docs::kFitCurves, py::arg("chain"), py::arg("tolerance"));
  m.def("chain_sources", &chain_sources,
        filled(docs::kChainSources, {{"max_angle", linetopo::kDefaultSourceMaxAngleDegrees},
                                     {"min_share", linetopo::kDefaultSourceMinShare}})
            .c_str(),
        py::arg("chains"), py::arg("curves"), py::arg("radius"), py::kw_only(),
        py::arg("max_angle") = linetopo::kDefaultSourceMaxAngleDegrees,
        py::arg("min_share") = linetopo::kDefaultSourceMinShare);
  linetopo::py_tiles::register_tiles(m);
  linetopo::py_raster::register_raster(m);
  linetopo::py_density::register_density(m);
  // Not an entry point: linetopo's own readers use it to give polygon chains their sources.
  py::module_ regions = m.def_submodule("_regions", "Point in polygon for provenance.");
  regions.def("polygons_at", &polygons_at, py::arg("points"), py::arg("polygons"));
  // The option table, for the command line and the consistency tests.
  m.attr("_PARAMETERS") = pp::export_parameters();
  // The boundary point budget, for the command line's own budget per file.
  m.attr("_MAX_POINTS_VARIABLE") = linetopo::kMaxPointsVariable;
  m.attr("_BOUNDARY_POINTS_PER_INPUT_POINT") = linetopo::defaults::kBoundaryPointsPerInputPoint;
  m.attr("_BOUNDARY_POINTS_PER_CURVE") = linetopo::defaults::kBoundaryPointsPerCurve;
  // The buffer of areas, which the command line gives its drawings and scans too.
  m.attr("_AREA_BUFFER_FRACTION") = linetopo::defaults::kAreaBufferFraction;
  m.attr("_SIGNATURES") = pp::export_signatures();
  m.attr("_SIGNATURE_DEFAULTS") = pp::export_signature_defaults();
  py::dict versions;
  for (const auto& [name, version] : linetopo::library_versions())
    versions[py::str(name)] = version;
  m.attr("_VERSIONS") = versions;
}
