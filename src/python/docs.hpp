// Docstrings of the four functions; each opens with the text signature CPython reads.
#pragma once

namespace linetopo::docs {

inline constexpr const char* kInflateCurves =
    "inflate_curves(curves, buffer_distance, feature_size, per_curve_widths=None, "
    "merge_tolerance=None)\n--\n\n"
    "Inflate a list of polylines by `buffer_distance`, union all results,\n"
    "and return the buffer polygons as (outer_ring, holes) pairs.\n"
    "\n"
    "The same input decimation applied inside `topologize` is used here so\n"
    "the polygons match exactly what the skeleton sees.\n"
    "\n"
    "Parameters\n"
    "----------\n"
    "curves : list of lists of (x, y) tuples\n"
    "buffer_distance : float\n"
    "    Uniform inflation radius (used for curves without per-vertex widths).\n"
    "feature_size : float\n"
    "    Scale parameter for input decimation and derived thresholds.\n"
    "per_curve_widths : list of lists of float, default None\n"
    "    Per-vertex radii for each curve (one list per curve). If provided,\n"
    "    each sub-list must have the same length as the corresponding curve.\n"
    "    Curves with an empty sub-list (or missing entry) use `buffer_distance`.\n"
    "\n"
    "Returns\n"
    "-------\n"
    "list of (outer, holes) where outer and each hole is a list of (x, y) tuples";

inline constexpr const char* kTriangulateCurves =
    "triangulate_curves(curves, buffer_distance, feature_size, per_curve_widths=None, "
    "subdivision_ratio=None, resample=None, boundary_simplification=None, "
    "merge_tolerance=None)\n--\n\n"
    "Return the CDT triangles for each inflated polygon, using the same\n"
    "boundary preprocessing (RDP simplification + subdivision) as `topologize`.\n"
    "Useful for visualising and debugging the triangulation step.\n"
    "\n"
    "Returns a flat list of triangles across all polygons, each as\n"
    "((x0,y0),(x1,y1),(x2,y2)).";

inline constexpr const char* kTopologize =
    "topologize(curves, buffer_distance, feature_size, simplification=None, "
    "min_tip_fraction=None, junction_merge_fraction=None, per_curve_widths=None, "
    "compute_widths=False, subdivision_ratio=None, max_nodes=None, resample=None, "
    "boundary_simplification=None, merge_tolerance=None)\n--\n\n"
    "Topologize a list of polylines into clean centerline chains.";

inline constexpr const char* kTopologizeBatch =
    "topologize_batch(jobs)\n--\n\n"
    "Process multiple independent curve-sets in parallel using Rayon.\n"
    "\n"
    "Each element of `jobs` is a tuple of (curves, buffer_distance,\n"
    "feature_size, simplification, min_tip_fraction, junction_merge_fraction,\n"
    "max_nodes, subdivision_ratio, resample, boundary_simplification,\n"
    "merge_tolerance) \xe2\x80\x94 one independent topologize invocation with its own\n"
    "parameters, matching the boundary-preprocessing knobs of the single\n"
    "[`topologize`] entry point. The GIL is released for the parallel work.\n"
    "\n"
    "Returns a list of (chains, nodes, chain_node_ids) tuples, one per job.";

}  // namespace linetopo::docs
