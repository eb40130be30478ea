"""Where a run writes, and the refusals that keep its inputs and existing files safe."""

from __future__ import annotations

import os
from dataclasses import dataclass, field
from typing import Callable, Sequence

# The files that make up one Shapefile, all named after its stem; a new Shapefile replaces them
# all, so that no sidecar of an older one (a .prj with another CRS) stays beside it.
SHAPEFILE_PARTS = (".shp", ".shx", ".dbf", ".prj", ".cpg", ".qix", ".sbn", ".sbx", ".fbn",
                   ".fbx", ".ain", ".aih", ".atx", ".ixs", ".mxs", ".shp.xml", ".qmd")
# Drivers that can hold our layers beside other layers of an existing file.
UPDATABLE = {"GPKG", "SQLite"}
# The extension each output format gets when a file is named after its input.
EXTENSIONS = {"geojson": ".geojson", "svg": ".svg", "GPKG": ".gpkg", "ESRI Shapefile": ".shp",
              "FlatGeobuf": ".fgb", "GPX": ".gpx", "SQLite": ".sqlite", "GeoJSON": ".geojson",
              "GeoJSONSeq": ".geojsonl", "KML": ".kml", "LIBKML": ".kml", "GML": ".gml",
              "CSV": ".csv", "MapInfo File": ".tab", "DXF": ".dxf", "Parquet": ".parquet",
              "Arrow": ".arrow", "PMTiles": ".pmtiles"}


class TargetError(ValueError):
    """An output that would destroy data or that the user did not allow to be replaced."""


@dataclass
class Target:
    """One input and what is written for it.

    ``fmt`` is ``"geojson"``, ``"svg"`` or a GDAL driver; ``nodes_file`` the file beside
    ``output`` that takes the nodes of a one-geometry-type format; ``update`` tells that
    ``output`` is an existing multi-layer file that keeps its other layers.
    """

    input: str
    output: str
    fmt: str
    svg: str | None = None
    nodes_file: str | None = None
    update: bool = False
    layers: list[str] = field(default_factory=list)  # the layers written into ``output``

    def files(self) -> list[str]:
        return [p for p in (self.output, self.nodes_file, self.svg) if p not in (None, "-")]


def parts(path: str) -> list[str]:
    """``path``, and for a Shapefile every part of the same stem that exists beside it."""
    lowered = path.lower()
    for ext in SHAPEFILE_PARTS:
        if lowered.endswith(ext):
            stem, folder = os.path.basename(path)[: -len(ext)], os.path.dirname(path) or "."
            found = [os.path.join(os.path.dirname(path), name) for name in _listing(folder)
                     if name[: len(stem)] == stem and name[len(stem):].lower() in SHAPEFILE_PARTS]
            return sorted({path, *found})
    return [path]


def _listing(folder: str) -> list[str]:
    try:
        return os.listdir(folder)
    except OSError:
        return []


def nodes_file(path: str) -> str:
    """The file beside ``path`` for the nodes: ``roads.shp`` -> ``roads_nodes.shp``."""
    lowered = path.lower()
    ext = next((e for e in SHAPEFILE_PARTS if lowered.endswith(e)), None)
    stem, ext = (path[: -len(ext)], path[-len(ext):]) if ext else os.path.splitext(path)
    return f"{stem}_nodes{ext}"


def same_file(a: str, b: str) -> bool:
    """Whether two names reach one file (links and case-insensitive file systems included)."""
    if os.path.exists(a) and os.path.exists(b):
        return os.path.samefile(a, b)
    return os.path.realpath(a) == os.path.realpath(b)


def named_after(source: str, folder: str, fmt: str) -> str:
    """The output in ``folder`` for input ``source``: its stem with the extension of ``fmt``."""
    stem, ext = os.path.splitext(os.path.basename(source))
    wanted = EXTENSIONS.get(fmt)
    if wanted is None:
        raise TargetError(f"no file extension known for format {fmt!r}: run each input on its "
                          "own with -o naming its output")
    # .json stays .json: it is GeoJSON's other extension.
    if not (fmt == "geojson" and ext.lower() == ".json"):
        ext = wanted
    return os.path.join(folder, stem + ext)


def check(targets: Sequence[Target], overwrite: bool,
          layers_read: Callable[[str], list[str]]) -> None:
    """Refuses outputs that would replace an input or each other, and existing ones unless
    ``overwrite``; marks the existing multi-layer files that get our layers beside theirs.

    ``layers_read(input)`` names the layers read from an input file: they are never replaced,
    ``--overwrite`` or not.
    """
    inputs = [p for t in targets for p in parts(t.input) if t.input != "-"]
    seen: list[str] = []
    for target in targets:
        for path in target.files():
            if os.path.isdir(path):
                raise TargetError(f"{path} is a folder: name a file to write")
            if any(same_file(path, other) for other in seen):
                raise TargetError(f"{path} would be written twice: give the inputs different "
                                  "names")
            seen.append(path)
            updatable = path == target.output and target.fmt in UPDATABLE
            for source in inputs:
                for part in parts(path):
                    if not same_file(part, source):
                        continue
                    if not updatable:
                        raise TargetError(f"{path} would replace the input {source}: write to "
                                          "another file")
                    _refuse_input_layers(target, path, layers_read(source))
            if not any(os.path.lexists(p) for p in parts(path)):
                continue
            if updatable:
                target.update = _existing_layers(target, path, overwrite)
            elif not overwrite:
                raise TargetError(f"{path} exists: --overwrite replaces it")


def _refuse_input_layers(target: Target, path: str, read: list[str]) -> None:
    clash = [name for name in target.layers if name in read]
    if clash:
        raise TargetError(f"writing layer {clash[0]!r} into {path} would replace the input layer "
                          "of that name: name other layers with --layer-name PREFIX")


def _existing_layers(target: Target, path: str, overwrite: bool) -> bool:
    """Whether our layers go into the existing ``path`` beside its own; TargetError when a layer
    of ours is there already and ``overwrite`` is not given."""
    from . import io_gis

    try:
        existing = {name for name, _ in io_gis.list_layers(path)}
    except ValueError as err:
        if overwrite:
            return False  # not a file GDAL opens: replaced whole
        raise TargetError(f"{path} exists and GDAL cannot add layers to it ({err}): "
                          "--overwrite replaces it") from None
    clash = [name for name in target.layers if name in existing]
    if clash and not overwrite:
        raise TargetError(f"{path} already has a layer {clash[0]!r}: --overwrite replaces our "
                          "layers, --layer-name PREFIX writes others")
    return True
