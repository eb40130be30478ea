// Conversion of Python arguments into the core's value types, and of results back to Python.
// Shared by every file of the binding; every failure names the argument.
#pragma once

#include <pybind11/pybind11.h>

#include <cstddef>
#include <optional>

#include "pipeline/pipeline.hpp"
#include "provenance/chain_sources.hpp"
#include "strokes/strokes.hpp"

namespace linetopo::py_convert {

namespace py = pybind11;

std::vector<Polyline> to_curves(py::handle obj, const char* arg);
// A sequence of (outer, holes) tuples: a ring, and a sequence of rings.
std::vector<BufferPolygon> to_polygons(py::handle obj, const char* arg);
double to_double(py::handle obj, const char* arg);
std::optional<double> to_optional_double(py::handle obj, const char* arg);
std::optional<std::size_t> to_optional_size(py::handle obj, const char* arg);
std::optional<Widths> to_optional_widths(py::handle obj, const char* arg);
bool to_bool(py::handle obj, const char* arg);
std::vector<BatchJob> to_jobs(py::handle obj);
// A sequence of (x, y) tuples or an (n, 2) float array.
std::vector<Point> to_points(py::handle obj, const char* arg);
// A sequence of (int, int) tuples.
std::vector<std::pair<std::size_t, std::size_t>> to_index_pairs(py::handle obj, const char* arg);

py::list from_polygons(const std::vector<BufferPolygon>& polygons);
py::list from_triangles(const std::vector<Triangle>& triangles);
// The first three elements of a result; the binding appends widths where they belong.
py::list from_chains(const std::vector<Polyline>& chains);
py::list from_points(const std::vector<Point>& points);
py::list from_pairs(const std::vector<std::pair<std::size_t, std::size_t>>& pairs);
py::list from_widths(const Widths& widths);
// Per stroke, its chains as (index, reversed) tuples.
py::list from_stroke_chains(const std::vector<std::vector<StrokeChain>>& stroke_chains);
// Per chain, its sources as (curve index, share) tuples.
py::list from_chain_sources(const std::vector<std::vector<ChainSource>>& sources);

}  // namespace linetopo::py_convert
