"""What a centerline run is asked to do, as plain values: the command line's parsed flags once
turned into them, or a caller's own."""

from __future__ import annotations

from dataclasses import dataclass, field, fields
from typing import Any, Mapping

from .. import _provenance


@dataclass(frozen=True)
class Request:
    """One run of ``linetopo centerline``: every input, where the result goes, and how.

    ``options`` holds the library's options by their names in the core's option table
    (``buffer_distance``, ``feature_size``, ``tile_size``, ``simplification``, ...), None where
    left to their defaults. The other fields are the command line's own flags.
    """

    inputs: tuple[str, ...]
    output: str
    options: Mapping[str, Any] = field(default_factory=dict)
    overwrite: bool = False
    layer_name: str | None = None
    format: str | None = None
    layer: str | None = None
    skip_invalid: bool = False
    rfc7946: bool = False
    planar: bool = False
    geographic: bool = False
    flatten_tolerance: float | None = None
    strokes: bool = False
    threshold: float | str | None = None
    invert: bool = False
    curves: float | None = None
    attributes: str = _provenance.DEFAULT_AGGREGATION
    density: bool = False
    relative: float | None = None
    svg: str | None = None
    dask_scheduler: str | None = None

    @property
    def buffer_distance(self) -> float | None:
        return self.options.get("buffer_distance")

    @property
    def feature_size(self) -> float | None:
        return self.options.get("feature_size")

    @property
    def tile_size(self) -> float | None:
        return self.options.get("tile_size")

    @classmethod
    def from_flags(cls, flags: Mapping[str, Any], option_names: list[str]) -> Request:
        """The request of parsed flags, by their destination names."""
        own = {f.name for f in fields(cls)} - {"inputs", "options"}
        return cls(inputs=tuple(flags["input"]),
                   options={name: flags.get(name) for name in option_names},
                   **{name: flags[name] for name in own if name in flags})
