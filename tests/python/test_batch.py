"""topologize_batch: conversion before work, order of results, failures, the shared pool."""

import os
import subprocess
import sys
import threading

import pytest

from linetopo import topologize, topologize_batch
from drawings import circle, cross, scribble, tee


def job(curves, fs=1.0, max_nodes=None, **kw):
    return (curves, 1.0, fs, kw.get("simplification"), kw.get("min_tip_fraction"),
            kw.get("junction_merge_fraction"), max_nodes, kw.get("subdivision_ratio"),
            kw.get("resample"), kw.get("boundary_simplification"), kw.get("merge_tolerance"))


def single(j):
    curves, b, fs, s, t, m, n, r, res, bs, mt = j
    return topologize(curves, b, fs, simplification=s, min_tip_fraction=t, junction_merge_fraction=m,
                      subdivision_ratio=r, max_nodes=n, resample=res, boundary_simplification=bs,
                      merge_tolerance=mt)[:3]


JOBS = [job(scribble(1, strokes=30, points=80)), job(cross()), job([circle()], simplification=0.0),
        job(tee(), min_tip_fraction=0.0), job([]), job(scribble(2), resample=0.4)]


def test_empty_batch():
    assert topologize_batch([]) == []
    assert topologize_batch(jobs=()) == []


def test_results_match_single_calls_in_job_order():
    # The first job is the heaviest, so the later ones finish first.
    assert topologize_batch(JOBS) == [single(j) for j in JOBS]
    assert topologize_batch(JOBS[4:5]) == [([], [], [])]


@pytest.mark.parametrize(
    "jobs",
    [[job(cross())[:10]], [job(cross()) + (None,)], [list(job(cross()))], "abc", 5, None,
     [job(None)], [job(cross()), (cross(), None, 1.0) + (None,) * 8], [job([[[0.0, 0.0]]])]],
)
def test_malformed_jobs_raise_type_error_naming_jobs(jobs):
    with pytest.raises(TypeError, match="jobs"):
        topologize_batch(jobs)


def test_feature_size_is_checked_for_every_job_before_any_runs():
    # The first job would fail on its node limit, but the second job's scale is checked first.
    with pytest.raises(ValueError) as err:
        topologize_batch([job(scribble(1), max_nodes=0), job(cross(), fs=0.0)])
    assert str(err.value) == "feature_size must be a positive finite number, got 0"


def test_negative_max_nodes_is_an_overflow_error():
    with pytest.raises(OverflowError):
        topologize_batch([job(cross(), max_nodes=-1)])


def test_node_limit_failure_names_its_job():
    with pytest.raises(ValueError) as err:
        topologize_batch([job(cross()), job(tee()), job(scribble(4), max_nodes=3)])
    message = str(err.value)
    assert message.startswith("topologize_batch job 2 failed: skeleton has ")
    assert message.endswith(" nodes, exceeding max_nodes limit of 3")


def test_concurrent_batches_share_the_pool():
    expected = [single(j) for j in JOBS]
    results = [None, None]

    def work(i):
        results[i] = topologize_batch(JOBS)

    threads = [threading.Thread(target=work, args=(i,)) for i in range(2)]
    for t in threads:
        t.start()
    for t in threads:
        t.join()
    assert results == [expected, expected]


SCRIPT = """
import json, sys
sys.path.insert(0, {here!r})
from linetopo import topologize_batch
from test_batch import JOBS
print(json.dumps(topologize_batch(JOBS)))
"""


@pytest.mark.parametrize("env", [{"RAYON_NUM_THREADS": "1"}, {"RAYON_RS_NUM_CPUS": "1"},
                                 {"RAYON_NUM_THREADS": "3"}, {"RAYON_NUM_THREADS": "bogus"}, {}])
def test_pool_size_does_not_change_results(env):
    import json

    here = os.path.dirname(__file__)
    clean = {k: v for k, v in os.environ.items() if not k.startswith("RAYON")}
    out = subprocess.run([sys.executable, "-c", SCRIPT.format(here=here)], env={**clean, **env},
                         capture_output=True, text=True, check=True).stdout
    expected = json.loads(json.dumps([single(j) for j in JOBS]))
    assert json.loads(out) == expected
