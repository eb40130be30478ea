"""How soon Ctrl-C stops topologize: SIGINT at several moments of a run on dense random walks,
and the time from the signal to the KeyboardInterrupt, against the run's own length.

Run: .venv/bin/python bench/bench_interrupt.py [--points 1000000]
"""

import argparse
import os
import signal
import threading
import time

from linetopo import topologize
from linetopo._generators import dense


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--points", type=int, default=1_000_000)
    args = parser.parse_args()
    curves, buffer, fs = dense(args.points)
    start = time.perf_counter()
    topologize(curves, buffer, fs)
    whole = time.perf_counter() - start
    print(f"dense, {args.points} points: one whole run {whole:.2f} s")
    for share in (0.1, 0.3, 0.5, 0.7, 0.9):
        sent = []

        def interrupt(delay=share * whole, sent=sent):
            time.sleep(delay)
            sent.append(time.perf_counter())
            os.kill(os.getpid(), signal.SIGINT)

        threading.Thread(target=interrupt, daemon=True).start()
        try:
            topologize(curves, buffer, fs)
            print(f"  SIGINT at {share:.0%}: the run ended before it")
        except KeyboardInterrupt:
            print(f"  SIGINT at {share:.0%}: stopped {time.perf_counter() - sent[0]:.3f} s after "
                  "it")
        time.sleep(0.2)


if __name__ == "__main__":
    main()
