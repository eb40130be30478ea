// The prose and examples of the docstrings; signatures and parameter sections come from the
// table, and a {name} stands for the default the binding fills in.
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
inline constexpr const char* kInflateCurvesExamples =
    ">>> from linetopo import inflate_curves\n"
    ">>> [(outer, holes)] = inflate_curves([[(0, 0), (10, 0)]], 1.0, 1.0)\n"
    ">>> [min(x for x, y in outer), max(x for x, y in outer), max(y for x, y in outer)]\n"
    "[-1.0, 11.0, 1.0]\n"
    ">>> holes\n"
    "[]";

inline constexpr const char* kTriangulateCurvesSummary =
    "Return the CDT triangles for each inflated polygon, using the same\n"
    "boundary preprocessing (RDP simplification + subdivision) as `topologize`.\n"
    "Useful for visualising and debugging the triangulation step.";
inline constexpr const char* kTriangulateCurvesReturns =
    "Returns a flat list of triangles across all polygons, each as\n"
    "((x0,y0),(x1,y1),(x2,y2)).";
inline constexpr const char* kTriangulateCurvesExamples =
    ">>> from linetopo import triangulate_curves\n"
    ">>> triangles = triangulate_curves([[(0, 0), (10, 0)]], 1.0, 1.0)\n"
    ">>> area = sum(abs((b[0] - a[0]) * (c[1] - a[1]) - (c[0] - a[0]) * (b[1] - a[1])) / 2\n"
    "...            for a, b, c in triangles)\n"
    ">>> round(area, 1)  # a 10 x 2 band and two round caps, as polygons\n"
    "24.0";

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
inline constexpr const char* kTopologizeExamples =
    ">>> from linetopo import topologize\n"
    ">>> cross = [[(0, 0), (10, 0)], [(5, -5), (5, 5)]]\n"
    ">>> chains, nodes, ids, widths = topologize(cross, 0.5, 1.0, compute_widths=True)\n"
    ">>> len(chains), len(nodes)\n"
    "(4, 5)\n"
    ">>> ids  # four arms meet at node 1\n"
    "[(0, 1), (2, 1), (1, 3), (1, 4)]\n"
    ">>> [round(x, 2) for x, y in chains[0]]\n"
    "[-0.17, 5.0]\n"
    ">>> [round(w, 2) for w in widths[0]]\n"
    "[0.67, 1.41]";

inline constexpr const char* kTopologizePolygonsSummary =
    "Topologize polygons into their centerline: rivers, road areas, glyphs.\n"
    "\n"
    "The polygons take the place of the buffer polygons that `topologize`\n"
    "makes of curves: they are made valid (each outer ring filled and each\n"
    "hole cut out by the non-zero rule with Clipper2, and all polygons\n"
    "united), and the rest runs as in `topologize`, with its threading,\n"
    "interruption and errors. `inflate_curves` followed by this function, given\n"
    "the same buffer_distance, feature_size and options, gives exactly the\n"
    "result of `topologize`, once keep_components=False and tip_rule=\"length\"\n"
    "are given too: polygons keep their small parts, and measure tips by how far\n"
    "they reach past the stroke, unless told otherwise.";
inline constexpr const char* kTopologizePolygonsExamples =
    ">>> from linetopo import topologize_polygons\n"
    ">>> rectangle = [(0, 0), (100, 0), (100, 10), (0, 10)]\n"
    ">>> chains, nodes, ids, widths = topologize_polygons([(rectangle, [])], 5.0)\n"
    ">>> [(round(x, 2), round(y, 2)) for x, y in chains[0]]\n"
    "[(3.17, 5.0), (96.83, 5.0)]";

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
inline constexpr const char* kTopologizeTiledExamples =
    ">>> from linetopo import topologize_tiled\n"
    ">>> cross = [[(0, 0), (10, 0)], [(5, -5), (5, 5)]]\n"
    ">>> chains, nodes, ids, widths = topologize_tiled(cross, 0.5, 1.0, tile_size=4.0)\n"
    ">>> len(chains), len(nodes)\n"
    "(4, 5)";

inline constexpr const char* kTopologizeBatchSummary =
    "Process multiple independent curve-sets in parallel on a shared pool of\n"
    "worker threads.\n"
    "\n"
    "Each job is one independent topologize invocation with its own\n"
    "parameters. The interpreter lock is released for the parallel work, and\n"
    "every job's feature_size is checked before any job runs.";
inline constexpr const char* kTopologizeBatchReturns =
    "Returns a list of (chains, nodes, chain_node_ids) tuples, one per job.";
inline constexpr const char* kTopologizeBatchExamples =
    ">>> from linetopo import topologize_batch\n"
    ">>> cross = [[(0, 0), (10, 0)], [(5, -5), (5, 5)]]\n"
    ">>> line = [[(0, 0), (10, 0)]]\n"
    ">>> jobs = [(cross, 0.5, 1.0) + (None,) * 8, (line, 0.5, 1.0) + (None,) * 8]\n"
    ">>> [len(chains) for chains, nodes, chain_node_ids in topologize_batch(jobs)]\n"
    "[4, 1]";

inline constexpr const char* kStrokes =
    "strokes(chains, nodes, chain_node_ids, *, max_turn={max_turn}, tangent_reach=None)\n--\n\n"
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
    "max_turn : float, default {max_turn}\n"
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
    "    pairs; a reversed chain is walked from its last point to its first.\n"
    "\n"
    "Examples\n"
    "--------\n"
    ">>> from linetopo import strokes, topologize\n"
    ">>> cross = [[(0, 0), (10, 0)], [(5, -5), (5, 5)]]\n"
    ">>> chains, nodes, chain_node_ids, widths = topologize(cross, 0.5, 1.0)\n"
    ">>> lines, stroke_chains = strokes(chains, nodes, chain_node_ids)\n"
    ">>> stroke_chains  # the two drawn lines, each through the junction\n"
    "[[(0, False), (3, False)], [(1, False), (2, False)]]";


inline constexpr const char* kFitCurves =
    "fit_curves(chain, tolerance)\n--\n\n"
    "Fit one chain with a piecewise cubic Bezier curve, as vector editors draw\n"
    "curves: few control points, every chain point within `tolerance` of the\n"
    "curve and every point of the curve within `tolerance` of the chain's\n"
    "polyline, tangents continuous between pieces except at corners, where the\n"
    "chain turns sharply or turns at a vertex by more than the tolerance lets\n"
    "a curve round. The interpreter lock is released while it fits.\n"
    "\n"
    "Chains fitted before simplification (``simplification=0``) give curves\n"
    "closest to the centerline, and usually fewer pieces.\n"
    "\n"
    "Parameters\n"
    "----------\n"
    "chain : curve\n"
    "    A chain of a `topologize` result, or any polyline; closed when its\n"
    "    last point repeats its first.\n"
    "tolerance : float\n"
    "    The largest distance between the curve and the chain, either way;\n"
    "    positive and finite.\n"
    "\n"
    "Returns\n"
    "-------\n"
    "pieces : list of ((x, y), (x, y), (x, y), (x, y))\n"
    "    The cubic pieces in order, each its start point, two control points\n"
    "    and end point; the end point of one piece is the start of the next.\n"
    "    Empty for a chain of fewer than two distinct points.\n"
    "\n"
    "Examples\n"
    "--------\n"
    ">>> import math\n"
    ">>> from linetopo import fit_curves\n"
    ">>> arc = [(10 * math.cos(i * math.pi / 40), 10 * math.sin(i * math.pi / 40))\n"
    "...        for i in range(21)]\n"
    ">>> [piece] = fit_curves(arc, 0.01)  # a quarter circle: one cubic piece\n"
    ">>> [(round(x, 2), round(y, 2)) for x, y in piece]\n"
    "[(10.0, 0.0), (9.99, 5.51), (5.51, 9.99), (0.0, 10.0)]";

inline constexpr const char* kChainSources =
    "chain_sources(chains, curves, radius, *, max_angle={max_angle}, min_share={min_share})\n--\n\n"
    "Find the input curves that made each chain: the curves that run along\n"
    "it, so that their attributes, colours and counts can be handed on.\n"
    "\n"
    "A curve runs along a piece of a chain where it passes within `radius` of\n"
    "it in a direction, either way round, within `max_angle` degrees of the\n"
    "chain's there, so a street that crosses another is not one of its\n"
    "sources. Chains are measured at points at most a quarter of `radius`\n"
    "apart. A curve is a source of a chain when it runs along at least\n"
    "`min_share` of the chain's length. The work runs on the worker threads\n"
    "with the interpreter lock released.\n"
    "\n"
    "Parameters\n"
    "----------\n"
    "chains : list of curves\n"
    "    The chains of a `topologize` result, or any polylines.\n"
    "curves : list of curves\n"
    "    The input curves, in the order whose indices are returned.\n"
    "radius : float\n"
    "    How near a curve must pass. The buffer distance plus half the feature\n"
    "    size suits a `topologize` result.\n"
    "max_angle : float, default {max_angle}\n"
    "    The largest angle, in degrees from 0 to 90, between a curve and the\n"
    "    chain where it runs along it.\n"
    "min_share : float, default {min_share}\n"
    "    The least share of a chain's length, from 0 to 1, a source runs along.\n"
    "\n"
    "Returns\n"
    "-------\n"
    "sources : list of list of (int, float)\n"
    "    Per chain, its sources as (curve index, share) pairs, by ascending\n"
    "    curve index; the share is that of the chain's length the curve runs\n"
    "    along.\n"
    "\n"
    "Raises\n"
    "------\n"
    "ValueError\n"
    "    For a setting out of its range, a point that is not finite, or more\n"
    "    chain-curve pairs within `radius` in about the same direction than\n"
    "    the budget allows, which grows with the points of the chains and\n"
    "    curves (``LINETOPO_MAX_SOURCE_PAIRS`` sets another): a radius far\n"
    "    beyond the spacing of the lines pairs every chain with every curve.\n"
    "\n"
    "Examples\n"
    "--------\n"
    ">>> from linetopo import chain_sources, topologize\n"
    ">>> cross = [[(0, 0), (10, 0)], [(5, -5), (5, 5)]]\n"
    ">>> chains, nodes, chain_node_ids, widths = topologize(cross, 0.5, 1.0)\n"
    ">>> found = chain_sources(chains, cross, 1.0)\n"
    ">>> [[(curve, round(share, 2)) for curve, share in sources] for sources in found]\n"
    "[[(0, 1.0)], [(1, 1.0)], [(1, 1.0)], [(0, 1.0)]]";

}  // namespace linetopo::docs
