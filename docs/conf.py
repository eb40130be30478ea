"""Sphinx configuration: the guides and references in MyST Markdown, the API from the docstrings
(numpydoc), the command line from its parser. The pictures and the parameter table are made
anew from the installed package on every build (generate.py)."""

import sys
from pathlib import Path

HERE = Path(__file__).parent
sys.path.insert(0, str(HERE))

import generate  # noqa: E402
import linetopo  # noqa: E402

project = "linetopo"
author = "the linetopo developers"
copyright = f"2026, {author}"
release = version = linetopo.__version__
extensions = [
    "myst_parser",
    "numpydoc",
    "sphinx.ext.autodoc",
    "sphinxarg.ext",
]
source_suffix = {".rst": "restructuredtext", ".md": "markdown"}
exclude_patterns = ["_build"]
myst_heading_anchors = 3
numpydoc_show_class_members = False
numpydoc_class_members_toctree = False
autodoc_default_options = {"members": True, "undoc-members": False}
html_theme = "furo"
html_title = f"linetopo {release}"
html_static_path: list[str] = []


def setup(app):  # noqa: ANN001, ANN201
    app.connect("builder-inited", lambda app: generate.main(HERE / "_generated"))
