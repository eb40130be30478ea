"""The Python examples of the README and the documentation's pages run as a reader would paste
them, in order, each page in a fresh namespace and an empty working folder."""

import re
from pathlib import Path

import pytest

DOCS = Path(__file__).resolve().parents[2] / "docs"
PAGES = [DOCS.parent / "README.md", DOCS / "index.md", *sorted(DOCS.glob("guides/*.md"))]
# What a page's examples import beyond the core.
NEEDS = {"scans.md": ("PIL",), "gis.md": ("geopandas", "pyogrio"), "large.md": ("dask",)}


def python_blocks(page):
    return re.findall(r"^```python\n(.*?)^```", page.read_text(), re.S | re.M)


@pytest.mark.parametrize("page", PAGES, ids=lambda p: p.name)
def test_examples_run(page, tmp_path, monkeypatch, capsys):
    for need in NEEDS.get(page.name, ()):
        pytest.importorskip(need)
    blocks = python_blocks(page)
    assert blocks, page.name
    monkeypatch.chdir(tmp_path)
    namespace: dict = {}
    for block in blocks:
        exec(compile(block, str(page), "exec"), namespace)
    # A figure a page states beside its print is the one printed.
    printed = capsys.readouterr().out
    for block in blocks:
        for stated in re.findall(r"^print\(.*\)\s+# (.*)$", block, re.M):
            assert stated in printed, page.name
