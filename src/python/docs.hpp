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

inline constexpr const char* kTopologizeTiledSummary =
    "Topologize one large curve set tile by tile, in bounded memory.\n"
    "\n"
    "The plane is cut into squares of side `tile_size`. Each tile runs\n"
    "`topologize` on the curves within its square widened by a halo of\n"
    "2 x the largest radius + 2 x fs x (min_tip_fraction +\n"
    "junction_merge_fraction) + fs, so that the skeleton inside the square does\n"
    "not depend on what lies beyond. Tiles run on the shared pool of worker\n"
    "threads a few at a time; their chains are clipped to their squares and\n"
    "stitched: chain ends that meet on a shared border within fs / 2 become one\n"
    "point, and the chains are cut anew at junctions and tips. The result has\n"
    "the form and invariants of a `topologize` result and follows it within\n"
    "fs / 2, not to the bit: junctions near tile borders may sit slightly\n"
    "apart, and a tip whose length sits at the pruning length near a border may\n"
    "be kept by one and dropped by the other (min_tip_fraction x fs).";

inline constexpr const char* kTopologizeBatchSummary =
    "Process multiple independent curve-sets in parallel on a shared pool of\n"
    "worker threads.\n"
    "\n"
    "Each job is one independent topologize invocation with its own\n"
    "parameters. The interpreter lock is released for the parallel work, and\n"
    "every job's feature_size is checked before any job runs.";
inline constexpr const char* kTopologizeBatchReturns =
    "Returns a list of (chains, nodes, chain_node_ids) tuples, one per job.";

inline constexpr const char* kStrokes =
    "strokes(chains, nodes, chain_node_ids, *, max_turn=45.0, tangent_reach=None)\n--\n\n"
    "Join the chains of a topologize result into strokes: one polyline per\n"
    "drawn line, continuing through each junction along the straightest path.\n"
    "\n"
    "At every node where three or more chain ends meet, the two ends whose\n"
    "directions are closest to opposite are joined if the line turns there by\n"
    "at most `max_turn` degrees, then the closest pair of the remaining ends,\n"
    "and so on; an end left over ends its stroke. At a node of two ends (the\n"
    "seam of a closed loop) the ends always join. Ties go to the lower chain\n"
    "index. A stroke whose joins close a cycle is closed: its last point\n"
    "repeats its first. The strokes do not depend on the order of the chains\n"
    "or nodes, apart from their own order and where a closed one starts.\n"
    "\n"
    "Parameters\n"
    "----------\n"
    "chains : list of curves\n"
    "    The chains of a `topologize` result.\n"
    "nodes : list of (x, y) tuples\n"
    "    Its nodes.\n"
    "chain_node_ids : list of (int, int)\n"
    "    The start and end node of each chain, as indices into `nodes`.\n"
    "max_turn : float, default 45.0\n"
    "    The largest turn, in degrees from 0 to 180, at which two chain ends\n"
    "    at a junction continue each other.\n"
    "tangent_reach : float, optional\n"
    "    The arc length from a chain end over which its direction is taken.\n"
    "    Default: three times the mean segment length of the chains, repeated\n"
    "    points left out.\n"
    "\n"
    "Returns\n"
    "-------\n"
    "strokes : list of list of (x, y) tuples\n"
    "    The strokes, ordered by their lowest chain index. A joint keeps one\n"
    "    copy of its node's point.\n"
    "stroke_chains : list of list of (int, bool)\n"
    "    Per stroke, its chains in walking order as (chain index, reversed)\n"
    "    pairs; a reversed chain is walked from its last point to its first.";

}  // namespace linetopo::docs
