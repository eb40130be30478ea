"""topologize_batch: conversion before work, order of results, failures, the shared pool."""

import json
import os
import subprocess
import sys

import pytest
from drawings import circle, cross, in_threads, tee
from linetopo import topologize, topologize_batch
from linetopo._generators import scribble

# The job tuple's fields after (curves, buffer_distance, feature_size), in order.
FIELDS = ("simplification", "min_tip_fraction", "junction_merge_fraction", "max_nodes", "subdivision_ratio",
          "resample", "boundary_simplification", "merge_tolerance")


def job(curves, fs=1.0, **kw):
    return (curves, 1.0, fs) + tuple(kw.get(f) for f in FIELDS)


def single(j):
    return topologize(*j[:3], **dict(zip(FIELDS, j[3:])))[:3]


# The first job is the heaviest, so the later ones finish first.
JOBS = [job(scribble(1, strokes=30, points=80)), job(cross()), job([circle()], simplification=0.0),
        job(tee(), min_tip_fraction=0.0), job([]), job(scribble(2), resample=0.4)]


def test_results_match_single_calls_in_job_order():
    assert topologize_batch([]) == [] and topologize_batch(jobs=()) == []
    assert topologize_batch(JOBS) == [single(j) for j in JOBS]
    assert topologize_batch(JOBS[4:5]) == [([], [], [])]


@pytest.mark.parametrize(
    "jobs, exception",
    [([job(cross())[:10]], TypeError), ([job(cross()) + (None,)], TypeError), ([list(job(cross()))], TypeError),
     ("abc", TypeError), (5, TypeError), (None, TypeError), ([job(None)], TypeError),
     ([job(cross()), (cross(), None, 1.0) + (None,) * 8], TypeError), ([job([[[0.0, 0.0]]])], TypeError),
     ([job(cross(), max_nodes=-1)], OverflowError)],
)
def test_malformed_jobs_raise_before_any_runs(jobs, exception):
    with pytest.raises(exception, match="jobs" if exception is TypeError else None):
        topologize_batch(jobs)


def test_feature_size_is_checked_for_every_job_before_any_runs():
    # The first job would fail on its node limit, but the second job's scale is checked first.
    with pytest.raises(ValueError) as err:
        topologize_batch([job(scribble(1), max_nodes=0), job(cross(), fs=0.0)])
    assert str(err.value) == "feature_size must be a positive finite number, got 0"


def test_node_limit_failure_names_its_job():
    with pytest.raises(ValueError) as err:
        topologize_batch([job(cross()), job(tee()), job(scribble(4), max_nodes=3)])
    assert str(err.value).startswith("topologize_batch job 2 failed: skeleton has ")
    assert str(err.value).endswith(" nodes, exceeding max_nodes limit of 3")


def test_concurrent_batches_share_the_pool():
    expected = [single(j) for j in JOBS]
    assert in_threads(lambda: topologize_batch(JOBS), 2) == [expected, expected]


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
    clean = {k: v for k, v in os.environ.items() if not k.startswith("RAYON")}
    out = subprocess.run([sys.executable, "-c", SCRIPT.format(here=os.path.dirname(__file__))],
                         env={**clean, **env}, capture_output=True, text=True, check=True).stdout
    assert json.loads(out) == json.loads(json.dumps([single(j) for j in JOBS]))
