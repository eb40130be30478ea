"""The package's layout: its public modules are the ones the developers' guide names, and no
others."""

import os
import pkgutil
import re

import linetopo
import linetopo.io

GUIDE = os.path.join(os.path.dirname(__file__), "..", "..", "DEVELOPMENT.md")


def public_modules(package):
    """Every module below ``package`` whose dotted name has no part starting with ``_``."""
    found = set()
    for info in pkgutil.walk_packages(package.__path__, package.__name__ + "."):
        if not any(part.startswith("_") for part in info.name.split(".")):
            found.add(info.name)
    return found


def test_the_guide_names_every_public_module_and_only_those():
    # A module left at its old flat name (linetopo.io_gis, linetopo.svg) or added without a word
    # in the guide shows up here, and so does a guide naming one that is gone.
    with open(GUIDE, encoding="utf-8") as f:
        named = set(re.findall(r"`(linetopo(?:\.[a-z]\w*)+)`", f.read()))
    assert public_modules(linetopo) == named


def test_io_all_lists_its_public_modules():
    assert sorted(linetopo.io.__all__) == sorted(
        name.rsplit(".", 1)[1] for name in public_modules(linetopo.io))
