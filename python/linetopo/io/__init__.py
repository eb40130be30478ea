"""Files in and out: the readers and writers the command line stands on, above the core.

- :mod:`~linetopo.io.formats`: which format a file name calls for, reading its curves and
  writing a result whole (every file of a run or none);
- :mod:`~linetopo.io.geojson`: GeoJSON curves in, FeatureCollections out (standard library only);
- :mod:`~linetopo.io.svg`: SVG drawings in, centerlines over them out, and the picture of a run
  (``linetopo[svg]``);
- :mod:`~linetopo.io.gis`: GeoPackage, Shapefile, FlatGeobuf, GPX and the rest of GDAL's formats
  (``linetopo[gis]``);
- :mod:`~linetopo.io.lonlat`: CRS handling, so that sizes on map data are ground metres
  (``linetopo[gis]``).

Importing the package loads none of them: each is imported by name, where it is used.
"""

__all__ = ["formats", "geojson", "gis", "lonlat", "svg"]
