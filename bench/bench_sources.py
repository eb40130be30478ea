"""chain_sources against topologize: the cost of finding each chain's source curves.

Run: .venv-extras/bin/python bench/bench_sources.py [--sizes 100000,1000000]
     [--inputs "gps,dense,random walks,drawing"] [--repeat 3]
Every input and size runs in a child process of its own. topologize runs on the generated curves,
then chain_sources on its chains with the wrappers' radius, buffer + feature_size / 2; each time
is the median of --repeat runs (of one run from 1M points up). The ratio chain_sources/topologize
should stay at most 0.20. Sources per chain is the mean number of curves each chain returns.
"""

import argparse
import json
import subprocess
import sys

CHILD = r"""
import json, time
from linetopo import chain_sources, topologize
from linetopo._generators import SCALED
name, size, repeat = {name!r}, {size!r}, {repeat!r}
curves, r, fs = SCALED[name](size)
points = sum(len(c) for c in curves)
def median_time(fn):
    times, result = [], None
    for _ in range(repeat):
        t = time.perf_counter(); result = fn(); times.append(time.perf_counter() - t)
    return sorted(times)[len(times) // 2], result
topo, (chains, _nodes, _ids, _widths) = median_time(lambda: topologize(curves, r, fs))
sources_time, sources = median_time(lambda: chain_sources(chains, curves, r + fs / 2))
print(json.dumps(dict(points=points, chains=len(chains), topologize=topo, sources=sources_time,
                      per_chain=sum(len(s) for s in sources) / max(1, len(chains)))))
"""


def run(name, size, repeat):
    code = CHILD.format(name=name, size=size, repeat=1 if size >= 1_000_000 else repeat)
    out = subprocess.run([sys.executable, "-c", code], capture_output=True, text=True, check=True)
    return json.loads(out.stdout)


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--sizes", default="100000,1000000")
    parser.add_argument("--inputs", default="gps")
    parser.add_argument("--repeat", type=int, default=3)
    args = parser.parse_args()
    print(f"{'input':<13} {'points':>9} {'chains':>7} {'topo s':>8} {'sources s':>9} "
          f"{'src/topo':>8} {'src/chain':>9}")
    for name in args.inputs.split(","):
        for size in (int(s) for s in args.sizes.split(",")):
            r = run(name, size, args.repeat)
            ratio = r["sources"] / r["topologize"]
            print(f"{name:<13} {r['points']:>9} {r['chains']:>7} {r['topologize']:8.3f} "
                  f"{r['sources']:9.3f} {ratio:8.3f} {r['per_chain']:9.2f}", flush=True)


if __name__ == "__main__":
    main()
