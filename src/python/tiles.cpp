// Private bindings of the tiled run's three steps, for running tiles elsewhere (linetopo.dask):
// plan on the client, run each tile on a worker, stitch on the client.
#include "python/tiles.hpp"

#include <optional>
#include <string>
#include <utility>

#include "pipeline/pipeline.hpp"
#include "python/convert.hpp"
#include "python/parameters.hpp"

namespace py = pybind11;
namespace cv = linetopo::py_convert;
namespace pp = linetopo::py_params;

namespace linetopo::py_tiles {
namespace {

py::tuple grid_tuple(const TileGrid& g) { return py::make_tuple(g.origin_x, g.origin_y, g.size); }

// `obj` as a sequence (of `size` items when given), or a TypeError naming `what`: a list taken for
// a tuple would fail inside the interpreter instead.
py::sequence sequence_of(py::handle obj, const char* arg, const char* what,
                         std::optional<Py_ssize_t> size = std::nullopt) {
  if (!PySequence_Check(obj.ptr()) || PyUnicode_Check(obj.ptr()) ||
      (size && PySequence_Size(obj.ptr()) != *size)) {
    PyErr_Clear();
    throw py::type_error(std::string("argument '") + arg + "': must be " + what);
  }
  return py::reinterpret_borrow<py::sequence>(obj);
}

TileGrid grid_of(py::handle grid) {
  const py::sequence t = sequence_of(grid, "grid", "(origin_x, origin_y, size)", 3);
  return {cv::to_double(t[0], "grid"), cv::to_double(t[1], "grid"), cv::to_double(t[2], "grid")};
}

// `options` are topologize_tiled's keyword arguments, without the curves.
BatchJob bind_options(py::handle curves, const py::dict& options) {
  pp::Call call = pp::bind_call(pp::topologize_tiled_signature(), py::make_tuple(curves), options);
  return std::move(call.job);
}

py::tuple plan(py::handle curves, const py::dict& options, py::handle origin, bool all_tiles) {
  const BatchJob call = bind_options(curves, options);
  std::optional<Point> at;
  if (!origin.is_none()) {
    const auto xy = cv::to_points(py::make_tuple(origin), "origin");
    at = xy.front();
  }
  TilePlan p;
  {
    py::gil_scoped_release unlocked;
    p = plan_tiles(call.curves, call.params, at, all_tiles);
  }
  py::list tiles(p.tiles.size());
  for (std::size_t i = 0; i < p.tiles.size(); ++i) {
    const TileCurves& t = p.tiles[i];
    tiles[i] = py::make_tuple(t.col, t.row, t.reached, cv::from_chains(t.curves),
                              t.widths ? py::object(cv::from_widths(*t.widths)) : py::none());
  }
  return py::make_tuple(grid_tuple(p.grid), p.tolerance, tiles);
}

py::list run(py::handle curves, py::handle widths, std::int64_t col, std::int64_t row,
             py::handle grid, const py::dict& options) {
  py::dict with_widths(options.attr("copy")());  // a copy: the caller's dict stays as it was
  with_widths["per_curve_widths"] = widths;
  BatchJob call = bind_options(curves, with_widths);
  TileCurves tile{col, row, std::move(call.curves), std::move(call.params.per_curve_widths), true};
  const TileGrid g = grid_of(grid);
  std::vector<CorePiece> pieces;
  {
    py::gil_scoped_release unlocked;
    pieces = run_tile(std::move(tile), g, call.params);
  }
  py::list out(pieces.size());
  for (std::size_t i = 0; i < pieces.size(); ++i) {
    const CorePiece& piece = pieces[i];
    py::list w(piece.widths.size());
    for (std::size_t k = 0; k < piece.widths.size(); ++k) w[k] = py::float_(piece.widths[k]);
    out[i] =
        py::make_tuple(cv::from_points(piece.points), std::move(w), piece.start_cut, piece.end_cut);
  }
  return out;
}

py::tuple stitch(py::handle pieces, py::handle grid, double tolerance) {
  const py::sequence seq = sequence_of(pieces, "pieces", "a sequence of pieces");
  std::vector<CorePiece> native(py::len(seq));
  constexpr const char* kPiece = "pieces of (points, widths, start_cut, end_cut)";
  for (std::size_t i = 0; i < native.size(); ++i) {
    const py::sequence t = sequence_of(seq[i], "pieces", kPiece, 4);
    native[i].points = cv::to_points(t[0], "pieces");
    for (const py::handle w : sequence_of(t[1], "pieces", kPiece)) {
      native[i].widths.push_back(cv::to_double(w, "pieces"));
    }
    native[i].start_cut = cv::to_bool(t[2], "pieces");
    native[i].end_cut = cv::to_bool(t[3], "pieces");
  }
  const TileGrid g = grid_of(grid);
  TopologyResult r;
  {
    py::gil_scoped_release unlocked;
    r = stitch_pieces(std::move(native), g, tolerance);
  }
  return py::make_tuple(cv::from_chains(r.chains), cv::from_points(r.nodes),
                        cv::from_pairs(r.chain_node_ids), cv::from_widths(r.widths));
}

}  // namespace

void register_tiles(py::module_& m) {
  // A submodule of their own, so that _internal holds the entry points only; linetopo._tiles
  // gives them types and documentation.
  py::module_ tiles = m.def_submodule("_tiles", "The steps of topologize_tiled.");
  tiles.def("plan", &plan, py::arg("curves"), py::arg("options"), py::arg("origin"),
            py::arg("all_tiles"));
  tiles.def("run", &run, py::arg("curves"), py::arg("widths"), py::arg("col"), py::arg("row"),
            py::arg("grid"), py::arg("options"));
  tiles.def("stitch", &stitch, py::arg("pieces"), py::arg("grid"), py::arg("tolerance"));
}

}  // namespace linetopo::py_tiles
