"""Where a run writes, and the refusals that keep its inputs and existing files safe."""

from __future__ import annotations

import os
from dataclasses import dataclass, field
from typing import Callable, Sequence

# The files that make up one Shapefile, all named after its stem; a new Shapefile replaces them
# all, so that no sidecar of an older one (a .prj with another CRS) stays beside it.
SHAPEFILE_PARTS = (".shp", ".shx", ".dbf", ".prj", ".cpg", ".qix", ".sbn", ".sbx", ".fbn",
                   ".fbx", ".ain", ".aih", ".atx", ".ixs", ".mxs", ".shp.xml", ".qmd")
# Other formats whose files come in sets of one stem (GDAL writes a GML file's schema beside it).
_FAMILIES = (SHAPEFILE_PARTS, (".tab", ".dat", ".map", ".id", ".ind"),
             (".gml", ".xml", ".xsd", ".gfs"))
# Drivers that can hold our layers beside other layers of an existing file.
UPDATABLE = {"GPKG"}
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
    ``output`` is an existing multi-layer file that keeps its other layers, ``replace_layers``
    that our layers there may replace our older ones of the same names.
    """

    input: str
    output: str
    fmt: str
    svg: str | None = None
    nodes_file: str | None = None
    update: bool = False
    replace_layers: bool = False
    layers: list[str] = field(default_factory=list)  # the layers written into ``output``

    def files(self) -> list[str]:
        return [p for p in (self.output, self.nodes_file, self.svg) if p not in (None, "-")]


def _family(path: str) -> tuple[str, tuple[str, ...]]:
    """The stem and the extensions of the set of files ``path`` belongs to."""
    lowered = path.lower()
    for family in _FAMILIES:
        for ext in sorted(family, key=len, reverse=True):  # .shp.xml before .xml
            if lowered.endswith(ext):
                return path[: -len(ext)], family
    return path, ()


def parts(path: str) -> list[str]:
    """``path``, and every file of the same set that exists beside it (a Shapefile's .dbf)."""
    stem, family = _family(path)
    if not family:
        return [path]
    base, folder = os.path.basename(stem), os.path.dirname(path) or "."
    found = [os.path.join(os.path.dirname(path), name) for name in listing(folder)
             if name[: len(base)] == base and name[len(base):].lower() in family]
    return sorted({path, *found})


def part_names(path: str) -> list[str]:
    """Every name a file of ``path``'s set could have, whether it exists or not."""
    stem, family = _family(path)
    return [path] + [stem + ext for ext in family if stem + ext != path]


def listing(folder: str) -> list[str]:
    """The names in ``folder``; none where it cannot be read."""
    try:
        return os.listdir(folder)
    except OSError:
        return []


def nodes_file(path: str) -> str:
    """The file beside ``path`` for the nodes: ``roads.shp`` -> ``roads_nodes.shp``."""
    lowered = path.lower()
    for ext in (".shp.zip", *sorted(SHAPEFILE_PARTS, key=len, reverse=True)):
        if lowered.endswith(ext):
            return f"{path[: -len(ext)]}_nodes{path[-len(ext):]}"
    stem, ext = os.path.splitext(path)
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
            if any(same_file(name, other) for name in part_names(path) for other in seen):
                raise TargetError(f"{path} would be written twice, or over another output: give "
                                  "the outputs different names")
            seen.extend(part_names(path))
            updatable = path == target.output and target.fmt in UPDATABLE
            if updatable and os.path.exists(path):
                in_use(path)  # before GDAL opens it, which may settle its journal
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
                target.replace_layers = overwrite
            elif not overwrite:
                raise TargetError(f"{path} exists: --overwrite replaces it")


def in_use(path: str) -> None:
    """Refuses a GeoPackage (an SQLite file) that another program has open for writing, or that
    one left half-written, whose edits may go on for long; one opened after this check only
    makes our commit wait for its write lock."""
    for journal in ("-wal", "-journal"):
        if os.path.exists(path + journal):
            raise TargetError(f"{path} is in use: {path + journal} exists; close the program "
                              "that has it open and try again")


def _refuse_input_layers(target: Target, path: str, read: list[str]) -> None:
    read_names = {name.lower() for name in read}  # GeoPackage layer names ignore case
    clash = [name for name in target.layers if name.lower() in read_names]
    if clash:
        raise TargetError(f"writing layer {clash[0]!r} into {path} would replace the input layer "
                          "of that name: name other layers with --layer-name PREFIX")


def _existing_layers(target: Target, path: str, overwrite: bool) -> bool:
    """Whether our layers go into the existing ``path`` beside its own; TargetError when a layer
    of ours is there already and ``overwrite`` is not given."""
    from . import gis

    try:
        existing = {name.lower(): name for name, _ in gis.list_layers(path)}
    except ValueError as err:
        if overwrite:
            return False  # not a file GDAL opens: replaced whole
        raise TargetError(f"{path} exists and GDAL cannot add layers to it ({err}): "
                          "--overwrite replaces it") from None
    clash = [existing[name.lower()] for name in target.layers if name.lower() in existing]
    if clash and not overwrite:
        raise TargetError(f"{path} already has a layer {clash[0]!r}: --overwrite replaces our "
                          "layers, --layer-name PREFIX writes others")
    # A layer of the same name that we did not write is the user's: never replaced.
    theirs = [name for name in clash if not gis.written_by_us(path, name)]
    if theirs:
        raise TargetError(f"{path} has a layer {theirs[0]!r} that linetopo did not write: "
                          "--overwrite replaces only our own layers; --layer-name PREFIX "
                          "writes ours under other names")
    return True


class Guard:
    """The last word on each file a run moves into place, the driver's own sidecars included:
    never an input (but for the GeoPackage that gets our layers beside its own), and an existing
    file only where ``check`` vetted it or with ``overwrite``."""

    def __init__(self, targets: Sequence[Target], overwrite: bool) -> None:
        self.inputs = [p for t in targets if t.input != "-" for p in parts(t.input)]
        self.updated = [t.output for t in targets if t.update]
        self.vetted = {os.path.abspath(name) for t in targets for path in t.files()
                       for name in part_names(path)}
        self.overwrite = overwrite

    def __call__(self, path: str) -> None:
        if any(same_file(path, kept) for kept in self.updated):
            return
        if any(same_file(path, source) for source in self.inputs):
            raise TargetError(f"{path} would replace an input: write to another file")
        if (os.path.lexists(path) and not self.overwrite
                and os.path.abspath(path) not in self.vetted):
            raise TargetError(f"{path} exists: --overwrite replaces it")
