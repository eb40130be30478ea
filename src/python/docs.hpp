// The prose of the four docstrings; signatures and parameter sections come from the table.
#pragma once

namespace linetopo::docs {

inline constexpr const char* kInflateCurvesSummary =
    "Inflate a list of polylines by `buffer_distance`, union all results,\n"
    "and return the buffer polygons as (outer_ring, holes) pairs.\n"
    "\n"
    "The same input decimation applied inside `topologize` is used here so\n"
    "the polygons match exactly what the skeleton sees.";
inline constexpr const char* kInflateCurvesReturns =
    "list of (outer, holes) where outer and each hole is a list of (x, y) tuples";

inline constexpr const char* kTriangulateCurvesSummary =
    "Return the CDT triangles for each inflated polygon, using the same\n"
    "boundary preprocessing (RDP simplification + subdivision) as `topologize`.\n"
    "Useful for visualising and debugging the triangulation step.";
inline constexpr const char* kTriangulateCurvesReturns =
    "Returns a flat list of triangles across all polygons, each as\n"
    "((x0,y0),(x1,y1),(x2,y2)).";

inline constexpr const char* kTopologizeSummary =
    "Topologize a list of polylines into clean centerline chains.\n"
    "\n"
    "The curves are inflated into buffers and united, the buffer polygons are\n"
    "triangulated, and the triangles give a skeleton graph whose short tips are\n"
    "pruned and whose close junctions are merged; the graph is cut at its\n"
    "junctions and tips into smoothed, simplified chains. Every threshold\n"
    "follows from `feature_size` (fs) unless given. The interpreter lock is\n"
    "released while the work runs on the shared pool of worker threads.";
inline constexpr const char* kTopologizeReturns =
    "chains : list of list of (x, y) tuples\n"
    "    The centerline chains, each from one node to another.\n"
    "nodes : list of (x, y) tuples\n"
    "    The end nodes: tips and junctions.\n"
    "chain_node_ids : list of (int, int)\n"
    "    The start and end node of each chain, as indices into `nodes`.\n"
    "widths : list of list of float\n"
    "    One width per point of each chain with `compute_widths`, else empty.";

inline constexpr const char* kTopologizeBatchSummary =
    "Process multiple independent curve-sets in parallel on a shared pool of\n"
    "worker threads.\n"
    "\n"
    "Each job is one independent topologize invocation with its own\n"
    "parameters. The interpreter lock is released for the parallel work, and\n"
    "every job's feature_size is checked before any job runs.";
inline constexpr const char* kTopologizeBatchReturns =
    "Returns a list of (chains, nodes, chain_node_ids) tuples, one per job.";

}  // namespace linetopo::docs
