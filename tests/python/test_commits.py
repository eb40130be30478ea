"""Outputs stay whole while other programs write the same GeoPackage and when a run is killed
while it moves its files into place."""

import os
import sqlite3
import subprocess
import sys
import time
from contextlib import closing

import pytest
from linetopo.io._transaction import Transaction
from test_formats import FS, H, V, write_lines
from test_outputs import PRAGUE, layers_of, run, wkb, write_layer

STREETS = ["--layer", "streets", "--buffer", 10, "--feature-size", 20]
# Another program editing the GeoPackage: it commits (or, "locked", holds its write lock) and
# keeps the file open until told to stop, as QGIS does.
WRITER = """
import sqlite3, sys
db = sqlite3.connect(sys.argv[1], isolation_level=None)
db.execute("PRAGMA journal_mode=" + ("DELETE" if sys.argv[2] == "journal" else "WAL"))
db.execute("BEGIN IMMEDIATE")
db.execute("CREATE TABLE notes (text TEXT)")
db.execute("INSERT INTO notes VALUES ('edited meanwhile')")
if sys.argv[2] != "locked":
    db.execute("COMMIT")
print("ready", flush=True)
sys.stdin.read()
if sys.argv[2] == "locked":
    db.execute("COMMIT")
"""
# A run that stops for good at a chosen moment of its commit, having said so in a file.
KILLED = """
import os, sqlite3, sys, time
from linetopo.cli import main

ready, moment, name, *args = sys.argv[1:]
replace, connect = os.replace, sqlite3.connect

def small(*given, **options):  # a GeoPackage's changes then reach the file before they commit
    db = connect(*given, **options)
    db.execute("PRAGMA cache_size=1")
    return db

def stop():
    open(ready, "w").close()
    time.sleep(600)

def hooked(source, target):
    source, target = str(source), str(target)
    into_place = "/.linetopo-" in source and "/.linetopo-" not in target
    undoing = into_place and ".linetopo-old" in source
    if moment == "before the journal" and target.endswith(".linetopo-journal"):
        stop()
    if moment == "while undoing" and undoing:
        stop()
    if "undoing" in moment and into_place and not undoing and target.endswith("/out.shp"):
        raise OSError(28, "No space left on device")
    replace(source, target)
    if target.endswith(name) and (moment == "after a move" and into_place
                                  or moment == "after undoing" and undoing):
        stop()

os.replace, sqlite3.connect = hooked, small
sys.exit(main(["centerline", *args]))
"""


def city(path):
    write_layer(path, "streets", [wkb(line) for line in PRAGUE], "LineString")
    return path


def table(path, sql):
    with closing(sqlite3.connect(path)) as db:
        return db.execute(sql).fetchall()


def scratch_left(folder):
    return [n for n in os.listdir(folder) if n.startswith(".linetopo")]


@pytest.mark.parametrize("writer", ["wal", "journal", "locked", "our other run"])
def test_a_geopackage_written_meanwhile_keeps_every_write(tmp_path, monkeypatch, capsys, writer):
    pytest.importorskip("pyogrio")
    from linetopo.io import _gpkg

    gpkg = city(tmp_path / "city.gpkg")
    if writer == "wal":  # as a program that opened it in WAL mode before left it
        table(gpkg, "PRAGMA journal_mode=WAL")
    monkeypatch.setattr(_gpkg, "BUSY_SECONDS", 0.5)
    commit, other = Transaction.commit, []

    def meanwhile(self):  # between our reading the file and our commit
        if not other:
            other.append(None)
            if writer == "our other run":
                other[0] = run(gpkg, "-o", gpkg, *STREETS, "--layer-name", "b")
            else:
                other[0] = subprocess.Popen([sys.executable, "-c", WRITER, str(gpkg), writer],
                                            stdin=subprocess.PIPE, stdout=subprocess.PIPE)
                assert other[0].stdout.readline() == b"ready\n"
        commit(self)

    monkeypatch.setattr(Transaction, "commit", meanwhile)
    status = run(gpkg, "-o", gpkg, *STREETS, "--layer-name", "a")
    ours = {"a_chains", "a_nodes"} <= set(layers_of(gpkg))
    if writer == "our other run":
        assert status == 0 and other == [0] and ours
        assert {"b_chains", "b_nodes"} <= set(layers_of(gpkg))
    else:
        assert table(gpkg, "PRAGMA integrity_check") == [("ok",)]  # read while the writer is open
        other[0].communicate(timeout=60)
        assert table(gpkg, "SELECT text FROM notes") == [("edited meanwhile",)]
        if writer == "locked":
            assert status == 2 and not ours
            (line,) = capsys.readouterr().err.splitlines()
            assert "is in use" in line
        else:
            assert status == 0 and ours
    assert table(gpkg, "PRAGMA integrity_check") == [("ok",)]
    assert not scratch_left(tmp_path)


def files(folder):
    return {name: (folder / name).read_bytes() for name in sorted(os.listdir(folder))
            if not name.startswith(".linetopo")}


@pytest.mark.parametrize("output, moment, name", [
    ("out.shp", "before the journal", ""), ("out.shp", "after a move", "out.dbf"),
    ("out.shp", "while undoing", ""), ("out.shp", "after undoing", "out.dbf"),
    ("city.gpkg", "before the journal", ""),
    ("city.gpkg", "after a move", "out.svg")])
def test_a_run_killed_in_its_commit_leaves_each_output_old_or_new(tmp_path, output, moment, name):
    pytest.importorskip("pyogrio")
    old, new, reference, folder = (tmp_path / n for n in ("old.geojson", "new.geojson", "ref",
                                                          "out"))
    write_lines(old, [H])
    write_lines(new, [H, V])
    folder.mkdir()
    reference.mkdir()
    gpkg = output == "city.gpkg"
    if gpkg:
        source = city(folder / "city.gpkg")
        args = [source, *STREETS, "-o", source]
        assert run(source, *STREETS, "-o", reference / "out.geojson", "--svg",
                   reference / "out.svg") == 0
        (folder / "out.svg").write_text("old picture")
    else:
        args = [new, *FS, "-o", folder / output]
        assert run(new, *FS, "-o", reference / output, "--svg", reference / "out.svg") == 0
        assert run(old, *FS, "-o", folder / output, "--svg", folder / "out.svg") == 0
    before = files(folder)
    ready = tmp_path / "ready"
    killed = subprocess.Popen(
        [sys.executable, "-c", KILLED, str(ready), moment, name, *map(str, args), "--svg",
         str(folder / "out.svg"), "--overwrite"], stderr=subprocess.PIPE)
    deadline = time.monotonic() + 120
    while not ready.exists():
        if killed.poll() is not None or time.monotonic() > deadline:
            killed.kill()
            pytest.fail(f"the run never reached its stop: {killed.communicate()[1].decode()}")
        time.sleep(0.05)
    killed.kill()
    killed.communicate()
    # The next run in the folder finishes or undoes the killed one's commit first.
    assert run(old, *FS, "-o", folder / "other.geojson") == 0
    (folder / "other.geojson").unlink()
    after = files(folder)
    assert not scratch_left(folder)
    landed = moment == "after a move"
    if gpkg:  # read first as GDAL's readers do, without write access
        assert ({"chains", "nodes"} <= set(layers_of(folder / "city.gpkg"))) == landed
        assert table(folder / "city.gpkg", "PRAGMA integrity_check") == [("ok",)]
        assert after["out.svg"] == (files(reference) if landed else before)["out.svg"]
    else:
        assert after == (files(reference) if landed else before)
