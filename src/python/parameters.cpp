// What is built from the option table: argument binding, job conversion, docstrings, exports.
#include "python/parameters.hpp"

#include <algorithm>
#include <iterator>
#include <sstream>

#include "python/convert.hpp"
#include "python/option_table.hpp"

namespace linetopo::py_params {

namespace {

namespace cv = py_convert;
using detail::build_table;
using detail::tip_rule_word;

const Parameter& find(std::string_view name) {
  const auto& table = parameters();
  const auto it = std::find_if(table.begin(), table.end(),
                               [name](const Parameter& p) { return p.name == name; });
  if (it == table.end()) {
    throw InternalError("internal error: no parameter named " + std::string(name));
  }
  return *it;
}

py::handle default_of(const Parameter& p) {
  return p.kind == Kind::kBool ? py::handle(Py_False) : py::handle(Py_None);
}

bool is_required(const Parameter& p) {
  return p.kind == Kind::kCurves || p.kind == Kind::kFloat || p.kind == Kind::kPolygons;
}

// The default a signature states for an option it may go without, or nullptr.
const std::string* optional_rule(const Signature& signature, std::string_view name) {
  for (const auto& [option, rule] : signature.optional) {
    if (option == name) return &rule;
  }
  return nullptr;
}

// How a kind reads in the exported table and in a numpydoc parameter line.
struct KindText {
  const char* name;
  const char* doc_type;
};

const KindText& text_of(Kind kind) {
  // In the order of Kind.
  static constexpr KindText kTexts[] = {
      {"curves", "sequence of curves"},
      {"float", "float"},
      {"optional float", "float, optional"},
      {"optional int", "int, optional"},
      {"bool", "bool, default False"},
      {"optional widths", "list of lists of float, optional"},
      {"polygons", "sequence of (outer, holes)"},
      {"optional bool", "bool, optional"},
      {"optional text", "str, optional"},
  };
  static_assert(std::size(kTexts) == static_cast<std::size_t>(Kind::kOptionalText) + 1);
  return kTexts[static_cast<std::size_t>(kind)];
}

// Words of text filled into lines of at most `width` columns, each indented.
std::string wrap(std::string_view text, std::size_t indent, std::size_t width = 76) {
  std::istringstream words{std::string(text)};
  std::string out;
  std::string line;
  std::string word;
  const std::string pad(indent, ' ');
  while (words >> word) {
    if (!line.empty() && pad.size() + line.size() + 1 + word.size() > width) {
      out += pad + line + "\n";
      line.clear();
    }
    line += (line.empty() ? "" : " ") + word;
  }
  if (!line.empty()) out += pad + line + "\n";
  return out;
}

std::string text_signature(const Signature& signature) {
  std::string out = signature.name + "(";
  for (std::size_t i = 0; i < signature.params.size(); ++i) {
    const Parameter& p = find(signature.params[i]);
    if (i == signature.positional) out += ", *";
    out += (i ? ", " : "") + p.name;
    if (!is_required(p) || optional_rule(signature, p.name)) {
      out += p.kind == Kind::kBool ? "=False" : "=None";
    }
  }
  return out + ")";
}

}  // namespace

const std::vector<Parameter>& parameters() {
  static const std::vector<Parameter> table = build_table();
  return table;
}

const Signature& inflate_curves_signature() {
  static const Signature s{
      "inflate_curves",
      {"curves", "buffer_distance", "feature_size", "per_curve_widths", "merge_tolerance"}};
  return s;
}

const Signature& triangulate_curves_signature() {
  static const Signature s{
      "triangulate_curves",
      {"curves", "buffer_distance", "feature_size", "per_curve_widths", "subdivision_ratio",
       "resample", "boundary_simplification", "merge_tolerance"}};
  return s;
}

const Signature& topologize_signature() {
  static const Signature s = [] {
    Signature all{"topologize", {}};
    for (const Parameter& p : parameters()) {
      if (p.name != "tile_size" && p.kind != Kind::kPolygons) all.params.push_back(p.name);
    }
    return all;
  }();
  return s;
}

const Signature& topologize_tiled_signature() {
  static const Signature s = [] {
    Signature tiled{
        "topologize_tiled", {"curves", "buffer_distance", "feature_size", "tile_size"}, 3};
    for (const Parameter& p : parameters()) {
      if (!is_required(p)) tiled.params.push_back(p.name);
    }
    return tiled;
  }();
  return s;
}

const Signature& topologize_polygons_signature() {
  static const Signature s = [] {
    Signature polygons{"topologize_polygons", {"polygons", "feature_size", "buffer_distance"}, 2};
    polygons.optional.emplace_back(
        "buffer_distance", "feature_size / " + number_text(1.0 / defaults::kAreaBufferFraction));
    polygons.optional.emplace_back("keep_components",
                                   defaults::kKeepComponentsOfAreas ? "True" : "False");
    polygons.optional.emplace_back("tip_rule", tip_rule_word(defaults::kTipRuleOfAreas));
    polygons.optional.emplace_back(
        "min_tip_fraction", number_text(defaults::tip_fraction(defaults::kTipRuleOfAreas)));
    for (const Parameter& p : parameters()) {
      if (!is_required(p) && p.name != "per_curve_widths" && p.name != "merge_tolerance") {
        polygons.params.push_back(p.name);
      }
    }
    return polygons;
  }();
  return s;
}

const Signature& batch_job_fields() {
  static const Signature s{
      "topologize_batch job",
      {"curves", "buffer_distance", "feature_size", "simplification", "min_tip_fraction",
       "junction_merge_fraction", "max_nodes", "subdivision_ratio", "resample",
       "boundary_simplification", "merge_tolerance"}};
  return s;
}

Call bind_polygons_call(const py::args& args, const py::kwargs& kwargs) {
  // buffer_distance=None, as the signature shows it, is the default: the scale of areas.
  const bool buffer_given =
      kwargs.contains("buffer_distance") && !kwargs["buffer_distance"].is_none();
  Call call;
  if (kwargs.contains("buffer_distance") && !buffer_given) {
    auto rest = py::reinterpret_steal<py::kwargs>(PyDict_Copy(kwargs.ptr()));
    if (!rest) throw py::error_already_set();
    PyDict_DelItemString(rest.ptr(), "buffer_distance");
    call = bind_call(topologize_polygons_signature(), args, rest);
  } else {
    call = bind_call(topologize_polygons_signature(), args, kwargs);
  }
  if (!buffer_given) {
    call.job.params.buffer_distance = defaults::kAreaBufferFraction * call.job.params.feature_size;
  }
  return call;
}

Call bind_call(const Signature& signature, const py::args& args, const py::kwargs& kwargs) {
  const std::size_t n = signature.params.size();
  const auto given = static_cast<std::size_t>(py::len(args));
  const std::string who = signature.name + "()";
  const std::size_t most = std::min(n, signature.positional);
  if (given > most) {
    throw py::type_error(who + " takes at most " + std::to_string(most) +
                         " positional arguments (" + std::to_string(given) + " given)");
  }
  std::vector<py::handle> bound(n);
  for (std::size_t i = 0; i < given; ++i) bound[i] = args[i];
  for (const auto& [key, value] : kwargs) {
    const std::string name = py::str(key);
    const auto it = std::find(signature.params.begin(), signature.params.end(), name);
    if (it == signature.params.end()) {
      throw py::type_error(std::string(who).append(" got an unexpected keyword argument '")
                               .append(name)
                               .append("'"));
    }
    py::handle& slot = bound[static_cast<std::size_t>(it - signature.params.begin())];
    if (slot) {
      throw py::type_error(
          std::string(who).append(" got multiple values for argument '").append(name).append("'"));
    }
    slot = value;
  }
  for (std::size_t i = 0; i < n; ++i) {
    const Parameter& p = find(signature.params[i]);
    if (!bound[i] && is_required(p) && !optional_rule(signature, p.name)) {
      throw py::type_error(who + " missing required argument '" + std::string(signature.params[i]) +
                           "'");
    }
  }
  Call call;
  for (std::size_t i = 0; i < n; ++i) {
    const Parameter& p = find(signature.params[i]);
    if (!bound[i] && optional_rule(signature, p.name)) continue;
    p.assign(call, bound[i] ? bound[i] : default_of(p), p.name.c_str());
  }
  return call;
}

BatchJob to_job(py::handle job, std::size_t index) {
  const Signature& fields = batch_job_fields();
  const std::size_t n = fields.params.size();
  if (!PyTuple_Check(job.ptr()) || static_cast<std::size_t>(PyTuple_GET_SIZE(job.ptr())) != n) {
    throw py::type_error(
        "argument 'jobs': job " + std::to_string(index) + " must be a tuple of " +
        std::to_string(n) + " items, not " +
        (PyTuple_Check(job.ptr())
             ? "a tuple of " + std::to_string(PyTuple_GET_SIZE(job.ptr())) + " items"
             : std::string(Py_TYPE(job.ptr())->tp_name)));
  }
  Call out;
  for (std::size_t i = 0; i < n; ++i) {
    find(fields.params[i])
        .assign(out, PyTuple_GET_ITEM(job.ptr(), static_cast<Py_ssize_t>(i)), "jobs");
  }
  return std::move(out.job);
}

namespace {
std::string examples_section(std::string_view examples) {
  return "\n\nExamples\n--------\n" + std::string(examples);
}
}  // namespace

std::string docstring(const Signature& signature, std::string_view summary,
                      std::string_view returns, std::string_view examples) {
  std::string out = text_signature(signature) + "\n--\n\n" + std::string(summary) + "\n\n";
  out += "Parameters\n----------\n";
  for (std::string_view name : signature.params) {
    const Parameter& p = find(name);
    const bool optional = optional_rule(signature, p.name) != nullptr;
    out += p.name + " : " + text_of(p.kind).doc_type + (optional ? ", optional\n" : "\n");
    std::string text = p.help;
    if (const std::string* rule = optional_rule(signature, p.name)) {
      text += " Default: " + *rule + ".";
    } else if (!is_required(p) && p.kind != Kind::kBool) {
      text += " Default: " + p.rule + ".";
    }
    out += wrap(text, 4);
  }
  return out + "\nReturns\n-------\n" + std::string(returns) + examples_section(examples);
}

std::string batch_docstring(std::string_view summary, std::string_view returns,
                            std::string_view examples) {
  std::string fields;
  for (std::string_view name : batch_job_fields().params) {
    fields += (fields.empty() ? "(" : ", ") + std::string(name);
  }
  return "topologize_batch(jobs)\n--\n\n" + std::string(summary) +
         "\n\nParameters\n----------\njobs : sequence of tuples\n" +
         wrap("Each job is the tuple " + fields +
                  "), with None for an option's default; the options are those of topologize.",
              4) +
         "\nReturns\n-------\n" + std::string(returns) + examples_section(examples);
}

py::tuple export_parameters() {
  const auto& table = parameters();
  py::tuple out(table.size());
  for (std::size_t i = 0; i < table.size(); ++i) {
    const Parameter& p = table[i];
    py::dict row;
    row["name"] = p.name;
    row["kind"] = text_of(p.kind).name;
    row["required"] = is_required(p);
    row["rule"] = p.rule;
    row["help"] = p.help;
    row["cli"] = p.cli;
    row["metavar"] = p.metavar;
    out[i] = std::move(row);
  }
  return out;
}

namespace {

const std::vector<const Signature*>& all_signatures() {
  static const std::vector<const Signature*> all{
      &inflate_curves_signature(),     &triangulate_curves_signature(),
      &topologize_signature(),         &topologize_tiled_signature(),
      &topologize_polygons_signature(), &batch_job_fields()};
  return all;
}

}  // namespace

py::dict export_signatures() {
  py::dict out;
  for (const Signature* s : all_signatures()) {
    py::tuple names(s->params.size());
    for (std::size_t i = 0; i < s->params.size(); ++i) names[i] = std::string(s->params[i]);
    out[py::str(s->name)] = std::move(names);
  }
  return out;
}

py::dict export_signature_defaults() {
  py::dict out;
  for (const Signature* s : all_signatures()) {
    py::dict rules;
    for (const auto& [name, rule] : s->optional) rules[py::str(std::string(name))] = rule;
    out[py::str(s->name)] = std::move(rules);
  }
  return out;
}

}  // namespace linetopo::py_params
