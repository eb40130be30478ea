// Argument and result conversion: copies Python values into native lists up front, so that no
// stage touches a Python object, and builds the result lists at the end.
#include "python/convert.hpp"

#include <cstring>
#include <string>
#include <utility>

#include "python/parameters.hpp"

namespace linetopo::py_convert {

namespace {

[[noreturn]] void type_error(const char* arg, const std::string& reason) {
  throw py::type_error(std::string("argument '") + arg + "': " + reason);
}

std::string type_name(py::handle obj) { return Py_TYPE(obj.ptr())->tp_name; }

bool is_sequence(py::handle obj) {
  return PySequence_Check(obj.ptr()) && !PyUnicode_Check(obj.ptr()) && !PyBytes_Check(obj.ptr()) &&
         !PyByteArray_Check(obj.ptr());
}

// A fast, owned view of a sequence (lists and tuples are not copied).
py::sequence as_sequence(py::handle obj, const char* arg, const std::string& what) {
  if (!is_sequence(obj)) type_error(arg, what + " must be a sequence, not " + type_name(obj));
  return py::reinterpret_borrow<py::sequence>(obj);
}

// Reads a number the way float() would; a failure becomes a TypeError naming the argument and
// what(), which is built only then.
template <class What>
double number(py::handle obj, const char* arg, const What& what) {
  if (PyFloat_CheckExact(obj.ptr())) return PyFloat_AS_DOUBLE(obj.ptr());
  const double v = PyFloat_AsDouble(obj.ptr());
  if (v == -1.0 && PyErr_Occurred()) {
    PyErr_Clear();
    type_error(arg, std::string(what()) + " must be a number, not " + type_name(obj));
  }
  return v;
}

// RAII for a buffer view, so that every exit releases it.
struct BufferView {
  Py_buffer view{};
  bool held = false;
  ~BufferView() {
    if (held) PyBuffer_Release(&view);
  }
};

bool is_float_format(const char* format, std::size_t itemsize, std::size_t want) {
  if (format == nullptr || itemsize != want) return false;
  if (*format == '<' || *format == '=' || *format == '@') ++format;
  return std::strcmp(format, want == 8 ? "d" : "f") == 0;
}

// An (n, 2) float array read through the buffer protocol, without building tuples. Returns
// false when obj exposes no buffer (plain sequences take the tuple route).
bool curve_from_buffer(py::handle obj, const char* arg, const std::string& what, Polyline& out) {
  if (PyTuple_Check(obj.ptr()) || PyList_Check(obj.ptr()) || !PyObject_CheckBuffer(obj.ptr())) {
    return false;
  }
  BufferView b;
  if (PyObject_GetBuffer(obj.ptr(), &b.view, PyBUF_STRIDES | PyBUF_FORMAT) != 0) {
    PyErr_Clear();
    return false;
  }
  b.held = true;
  const Py_buffer& v = b.view;
  const bool f64 = is_float_format(v.format, static_cast<std::size_t>(v.itemsize), 8);
  const bool f32 = is_float_format(v.format, static_cast<std::size_t>(v.itemsize), 4);
  if (v.ndim != 2 || v.shape[1] != 2 || !(f64 || f32)) {
    std::string shape = "(";
    for (int d = 0; d < v.ndim; ++d) shape += (d ? ", " : "") + std::to_string(v.shape[d]);
    type_error(arg, what + " must be an (n, 2) float array, got shape " + shape +
                        (v.ndim == 1 ? ",)" : ")") + " of format '" + (v.format ? v.format : "B") +
                        "'");
  }
  const auto n = static_cast<std::size_t>(v.shape[0]);
  const char* base = static_cast<const char*>(v.buf);
  out.resize(n);
  for (std::size_t i = 0; i < n; ++i) {
    const char* row = base + static_cast<Py_ssize_t>(i) * v.strides[0];
    if (f64) {
      double x;
      double y;
      std::memcpy(&x, row, sizeof x);
      std::memcpy(&y, row + v.strides[1], sizeof y);
      out[i] = {x, y};
    } else {
      float x;
      float y;
      std::memcpy(&x, row, sizeof x);
      std::memcpy(&y, row + v.strides[1], sizeof y);
      out[i] = {x, y};
    }
  }
  return true;
}

Polyline to_curve(py::handle obj, const char* arg, const std::string& what) {
  Polyline curve;
  if (curve_from_buffer(obj, arg, what, curve)) return curve;
  const py::sequence points = as_sequence(obj, arg, what);
  const auto n = static_cast<std::size_t>(py::len(points));
  // Plain lists and tuples are read in place; any other sequence through its own indexing,
  // whose errors must reach the caller. Each point is held while it is read, since reading a
  // number can run code that changes the list.
  const bool list = PyList_CheckExact(points.ptr());
  const bool tuple = PyTuple_CheckExact(points.ptr());
  curve.reserve(n);
  for (std::size_t j = 0; j < n; ++j) {
    py::object item;
    if (list || tuple) {
      PyObject* raw = list ? PyList_GetItem(points.ptr(), static_cast<Py_ssize_t>(j))
                           : PyTuple_GET_ITEM(points.ptr(), static_cast<Py_ssize_t>(j));
      if (raw == nullptr) throw py::error_already_set();  // the list shrank meanwhile
      item = py::reinterpret_borrow<py::object>(raw);
    } else {
      item = points[j];
    }
    PyObject* p = item.ptr();
    if (!PyTuple_Check(p) || PyTuple_GET_SIZE(p) != 2) {
      type_error(arg, what + ", point " + std::to_string(j) + " must be a tuple (x, y), not " +
                          (PyTuple_Check(p)
                               ? "a tuple of " + std::to_string(PyTuple_GET_SIZE(p)) + " items"
                               : type_name(p)));
    }
    const auto coordinate = [&](const char* axis) {
      return what + ", point " + std::to_string(j) + " " + axis;
    };
    curve.push_back({number(PyTuple_GET_ITEM(p, 0), arg, [&] { return coordinate("x"); }),
                     number(PyTuple_GET_ITEM(p, 1), arg, [&] { return coordinate("y"); })});
  }
  return curve;
}

py::tuple point_tuple(const Point& p) { return py::make_tuple(p.x, p.y); }

py::list ring_list(const Ring& ring) {
  py::list out(ring.size());
  for (std::size_t i = 0; i < ring.size(); ++i) out[i] = point_tuple(ring[i]);
  return out;
}

}  // namespace

std::vector<Polyline> to_curves(py::handle obj, const char* arg) {
  py::sequence seq = as_sequence(obj, arg, "curves");
  const auto n = static_cast<std::size_t>(py::len(seq));
  std::vector<Polyline> curves;
  curves.reserve(n);
  for (std::size_t i = 0; i < n; ++i) {
    curves.push_back(to_curve(seq[i], arg, "curve " + std::to_string(i)));
  }
  return curves;
}

std::vector<BufferPolygon> to_polygons(py::handle obj, const char* arg) {
  py::sequence seq = as_sequence(obj, arg, "polygons");
  const auto n = static_cast<std::size_t>(py::len(seq));
  std::vector<BufferPolygon> polygons(n);
  for (std::size_t i = 0; i < n; ++i) {
    const std::string what = "polygon " + std::to_string(i);
    const py::object item = seq[i];
    if (!PyTuple_Check(item.ptr()) || PyTuple_GET_SIZE(item.ptr()) != 2) {
      type_error(arg, what + " must be an (outer, holes) tuple, not " +
                          (PyTuple_Check(item.ptr())
                               ? "a tuple of " + std::to_string(PyTuple_GET_SIZE(item.ptr())) +
                                     " items"
                               : type_name(item.ptr())));
    }
    polygons[i].outer = to_curve(PyTuple_GET_ITEM(item.ptr(), 0), arg, what + ", outer ring");
    const py::sequence holes = as_sequence(PyTuple_GET_ITEM(item.ptr(), 1), arg, what + " holes");
    const auto m = static_cast<std::size_t>(py::len(holes));
    for (std::size_t h = 0; h < m; ++h) {
      polygons[i].holes.push_back(to_curve(holes[h], arg, what + ", hole " + std::to_string(h)));
    }
  }
  return polygons;
}

namespace {

// An option's number; a bool converts to 0 or 1 without complaint, which is never what a size,
// distance or fraction given as True meant.
double option_number(py::handle obj, const char* arg) {
  if (PyBool_Check(obj.ptr())) type_error(arg, "value must be a number, not bool");
  return number(obj, arg, [] { return "value"; });
}

}  // namespace

double to_double(py::handle obj, const char* arg) { return option_number(obj, arg); }

std::optional<double> to_optional_double(py::handle obj, const char* arg) {
  if (obj.is_none()) return std::nullopt;
  return option_number(obj, arg);
}

std::optional<std::size_t> to_optional_size(py::handle obj, const char* arg) {
  if (obj.is_none()) return std::nullopt;
  if (!PyLong_Check(obj.ptr())) type_error(arg, "must be an int or None, not " + type_name(obj));
  const std::size_t v = PyLong_AsSize_t(obj.ptr());
  // A negative or huge value keeps the interpreter's own OverflowError.
  if (v == static_cast<std::size_t>(-1) && PyErr_Occurred()) throw py::error_already_set();
  return v;
}

std::optional<Widths> to_optional_widths(py::handle obj, const char* arg) {
  if (obj.is_none()) return std::nullopt;
  py::sequence seq = as_sequence(obj, arg, "per_curve_widths");
  const auto n = static_cast<std::size_t>(py::len(seq));
  Widths widths(n);
  for (std::size_t i = 0; i < n; ++i) {
    const std::string what = "entry " + std::to_string(i);
    py::sequence entry = as_sequence(seq[i], arg, what);
    const auto k = static_cast<std::size_t>(py::len(entry));
    widths[i].reserve(k);
    for (std::size_t j = 0; j < k; ++j) {
      widths[i].push_back(
          number(entry[j], arg, [&] { return what + ", value " + std::to_string(j); }));
    }
  }
  return widths;
}

bool to_bool(py::handle obj, const char* arg) {
  if (PyBool_Check(obj.ptr())) return obj.ptr() == Py_True;
  // NumPy's boolean scalar is not a bool subclass but means the same.
  const std::string name = type_name(obj);
  if (name == "numpy.bool" || name == "numpy.bool_") return PyObject_IsTrue(obj.ptr()) == 1;
  type_error(arg, "must be a bool, not " + name);
}

std::vector<BatchJob> to_jobs(py::handle obj) {
  py::sequence seq = as_sequence(obj, "jobs", "jobs");
  const auto n = static_cast<std::size_t>(py::len(seq));
  std::vector<BatchJob> jobs;
  jobs.reserve(n);
  for (std::size_t i = 0; i < n; ++i) jobs.push_back(py_params::to_job(seq[i], i));
  return jobs;
}

std::vector<Point> to_points(py::handle obj, const char* arg) { return to_curve(obj, arg, arg); }

std::vector<std::pair<std::size_t, std::size_t>> to_index_pairs(py::handle obj, const char* arg) {
  py::sequence seq = as_sequence(obj, arg, arg);
  const auto n = static_cast<std::size_t>(py::len(seq));
  std::vector<std::pair<std::size_t, std::size_t>> out;
  out.reserve(n);
  for (std::size_t i = 0; i < n; ++i) {
    py::object pair = seq[i];
    const std::string what = "entry " + std::to_string(i);
    if (!PyTuple_Check(pair.ptr()) || PyTuple_GET_SIZE(pair.ptr()) != 2) {
      type_error(arg, what + " must be a tuple of two ints, not " + type_name(pair));
    }
    const auto index = [&](int k) {
      const std::optional<std::size_t> v = to_optional_size(PyTuple_GET_ITEM(pair.ptr(), k), arg);
      if (!v) type_error(arg, what + " must be a tuple of two ints, not None");
      return *v;
    };
    const std::size_t first = index(0);
    out.emplace_back(first, index(1));
  }
  return out;
}

py::list from_polygons(const std::vector<BufferPolygon>& polygons) {
  py::list out(polygons.size());
  for (std::size_t i = 0; i < polygons.size(); ++i) {
    py::list holes(polygons[i].holes.size());
    for (std::size_t h = 0; h < polygons[i].holes.size(); ++h) {
      holes[h] = ring_list(polygons[i].holes[h]);
    }
    out[i] = py::make_tuple(ring_list(polygons[i].outer), std::move(holes));
  }
  return out;
}

py::list from_triangles(const std::vector<Triangle>& triangles) {
  py::list out(triangles.size());
  for (std::size_t i = 0; i < triangles.size(); ++i) {
    const Triangle& t = triangles[i];
    out[i] = py::make_tuple(point_tuple(t[0]), point_tuple(t[1]), point_tuple(t[2]));
  }
  return out;
}

py::list from_chains(const std::vector<Polyline>& chains) {
  py::list out(chains.size());
  for (std::size_t i = 0; i < chains.size(); ++i) out[i] = ring_list(chains[i]);
  return out;
}

py::list from_points(const std::vector<Point>& points) { return ring_list(points); }

py::list from_pairs(const std::vector<std::pair<std::size_t, std::size_t>>& pairs) {
  py::list out(pairs.size());
  for (std::size_t i = 0; i < pairs.size(); ++i) {
    out[i] = py::make_tuple(pairs[i].first, pairs[i].second);
  }
  return out;
}

py::list from_widths(const Widths& widths) {
  py::list out(widths.size());
  for (std::size_t i = 0; i < widths.size(); ++i) {
    py::list w(widths[i].size());
    for (std::size_t j = 0; j < widths[i].size(); ++j) w[j] = py::float_(widths[i][j]);
    out[i] = std::move(w);
  }
  return out;
}

py::list from_stroke_chains(const std::vector<std::vector<StrokeChain>>& stroke_chains) {
  py::list out(stroke_chains.size());
  for (std::size_t i = 0; i < stroke_chains.size(); ++i) {
    py::list walk(stroke_chains[i].size());
    for (std::size_t k = 0; k < stroke_chains[i].size(); ++k) {
      walk[k] = py::make_tuple(stroke_chains[i][k].chain, stroke_chains[i][k].reversed);
    }
    out[i] = std::move(walk);
  }
  return out;
}

py::list from_chain_sources(const std::vector<std::vector<ChainSource>>& sources) {
  py::list out(sources.size());
  for (std::size_t i = 0; i < sources.size(); ++i) {
    py::list chain(sources[i].size());
    for (std::size_t k = 0; k < sources[i].size(); ++k) {
      chain[k] = py::make_tuple(sources[i][k].curve, sources[i][k].share);
    }
    out[i] = std::move(chain);
  }
  return out;
}

}  // namespace linetopo::py_convert
