"""The branches of a centerline graph, shared by the benchmarks that count spurious ones."""

import numpy as np


def branches(edges):
    """Maximal paths through nodes of degree 2 of a graph of (u, v, points) edges, each with
    its tips (the end points on nodes of degree 1), and the number of tip nodes."""
    degree, adjacent = {}, {}
    for k, (u, v, _) in enumerate(edges):
        for n in (u, v):
            degree[n] = degree.get(n, 0) + 1
            adjacent.setdefault(n, []).append(k)
    used = np.zeros(len(edges), bool)
    out = []
    for start in adjacent:
        if degree[start] == 2:
            continue
        for k in adjacent[start]:
            if used[k]:
                continue
            node, parts = start, []
            while True:
                used[k] = True
                u, v, pts = edges[k]
                pts = np.asarray(pts, dtype=float)
                if u != node:
                    pts = pts[::-1]
                parts.append(pts if not parts else pts[1:])
                node = v if u == node else u
                nxt = [e for e in adjacent[node] if not used[e]] if degree[node] == 2 else []
                if not nxt:
                    break
                k = nxt[0]
            path = np.vstack(parts)
            out.append((path, [path[i] for i, n in ((0, start), (-1, node)) if degree[n] == 1]))
    return out, sum(1 for n in degree if degree[n] == 1)
