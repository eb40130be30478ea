// The one table of the options the entry points take: each option's name, the member it sets,
// its converter, its default as the docs state it, its help text and its command-line flag. The
// bindings, the batch job tuple, the docstrings and the command line are all built from it.
#pragma once

#include <pybind11/pybind11.h>

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "pipeline/pipeline.hpp"

namespace linetopo::py_params {

namespace py = pybind11;

// What a value is, which fixes its converter; text_of in parameters.cpp follows this order.
enum class Kind : std::uint8_t {
  kCurves,
  kFloat,
  kOptionalFloat,
  kOptionalInt,
  kBool,
  kOptionalWidths,
  kPolygons,
  kOptionalBool,
  kOptionalText
};

// One call's converted arguments: the input and the options.
struct Call {
  BatchJob job;
  std::vector<BufferPolygon> polygons;  // topologize_polygons' input
};

struct Parameter {
  std::string name;
  Kind kind;
  // Converts a Python value into its place in the call; failures name `arg`.
  void (*assign)(Call& call, py::handle value, const char* arg);
  std::string rule;  // the default as the docs state it ("required" when there is none)
  std::string help;  // one sentence or two, without the default
  std::string cli;   // the command-line flag; empty when the command line does not take it
  std::string metavar;
};

// Every option, in the order of topologize's signature.
const std::vector<Parameter>& parameters();

// A function's parameters, in its signature's order.
struct Signature {
  std::string name;
  std::vector<std::string_view> params;
  std::size_t positional = static_cast<std::size_t>(-1);  // the rest are keyword-only
  // Options required elsewhere that this function may go without, with the default the docs
  // state; the binding leaves them unset and the function fills them in.
  std::vector<std::pair<std::string_view, std::string>> optional = {};
};

const Signature& inflate_curves_signature();
const Signature& triangulate_curves_signature();
const Signature& topologize_signature();
const Signature& topologize_tiled_signature();
const Signature& topologize_polygons_signature();
// The fields of one topologize_batch job tuple, in order.
const Signature& batch_job_fields();

// Converts one call's arguments, bound by Python's rules for positional and keyword arguments;
// omitted options keep their None or False. Wrong calls raise TypeError as Python functions do.
Call bind_call(const Signature& signature, const py::args& args, const py::kwargs& kwargs);

// bind_call with topologize_polygons' signature, buffer_distance feature_size / 2 unless given.
Call bind_polygons_call(const py::args& args, const py::kwargs& kwargs);

// Converts one job tuple of topologize_batch.
BatchJob to_job(py::handle job, std::size_t index);

// "name(a, b, c=None)\n--\n\n" and a numpydoc text: the summary, a Parameters section built from
// the table, and the given Returns and Examples texts.
std::string docstring(const Signature& signature, std::string_view summary,
                      std::string_view returns, std::string_view examples);

// The same for topologize_batch(jobs), whose one parameter lists the job tuple's fields.
std::string batch_docstring(std::string_view summary, std::string_view returns,
                            std::string_view examples);

// The table for Python: a tuple of dicts, and the signatures by function name.
py::tuple export_parameters();
py::dict export_signatures();
// Per function name, the defaults it states for options other functions default otherwise.
py::dict export_signature_defaults();

}  // namespace linetopo::py_params
