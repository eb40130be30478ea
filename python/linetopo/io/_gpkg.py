"""Our layers into an existing GeoPackage, in one SQLite transaction on the file itself.

GDAL writes the layers into a snapshot of the file; at commit their tables, spatial index and
GeoPackage bookkeeping rows are copied into the file inside one transaction. The file is never
replaced, so that another program that has it open (QGIS, in WAL mode) keeps writing to the same
file, its edits are kept, and its locks make one of us wait.
"""

from __future__ import annotations

import os
import sqlite3

from ._targets import TargetError
from .gis import MARK

# How long a commit waits for another program's write transaction on the file to end.
BUSY_SECONDS = 10.0
# The GeoPackage tables whose rows belong to one layer, by its table_name.
_PER_LAYER = ("gpkg_contents", "gpkg_geometry_columns", "gpkg_extensions", "gpkg_ogr_contents",
              "gpkg_data_columns")
# Our mark and a run's, as GDAL keeps layer metadata in gpkg_metadata: <MDI key="...">value</MDI>.
_MARK = f'%<MDI key="{MARK}">%'


def snapshot(path: str, to: str) -> None:
    """Copies the GeoPackage ``path`` to ``to`` through SQLite, with what its WAL holds."""
    try:
        source = sqlite3.connect(path, timeout=BUSY_SECONDS, isolation_level=None)
        try:
            source.execute("VACUUM INTO ?", (to,))
        finally:
            source.close()
        copy = sqlite3.connect(to, isolation_level=None)
        try:
            # GDAL's writes into the copy then leave no -wal file beside it.
            copy.execute("PRAGMA journal_mode=DELETE")
        finally:
            copy.close()
    except sqlite3.Error as err:
        raise _error(path, err) from None


def settle(path: str) -> None:
    """Opens ``path`` for writing, which rolls back a transaction that a killed writer left in
    its journal; a live writer's is left alone."""
    try:
        db = sqlite3.connect(path, timeout=1.0)
        try:
            db.execute("SELECT count(*) FROM sqlite_master").fetchone()
        finally:
            db.close()
    except sqlite3.Error:
        pass


class Update:
    """The layers ``layers`` of the snapshot ``staged`` (written by GDAL), to go into
    ``target``: :meth:`prepare` copies them inside a transaction that holds the file's write
    lock, :meth:`commit` ends it."""

    def __init__(self, staged: str, target: str, layers: list[str], replace: bool) -> None:
        self.staged, self.target, self.layers, self.replace = staged, target, layers, replace
        self._db: sqlite3.Connection | None = None
        self.prepared = self.committed = False

    def prepare(self, run_id: str | None = None) -> bool:
        """Copies the layers in an open transaction; False (and nothing to commit) when they
        carry ``run_id`` already, as after a run killed once it had committed."""
        if not os.path.isfile(self.staged):  # SQLite would attach an empty file
            raise ValueError(f"cannot write {self.target}: the layers staged for it are gone")
        try:
            db = sqlite3.connect(self.target, timeout=BUSY_SECONDS, isolation_level=None)
        except sqlite3.Error as err:
            raise _error(self.target, err) from None
        self._db = db
        try:
            db.execute("ATTACH DATABASE ? AS staged", (self.staged,))
            # Exclusive from before the checks, so that nothing changes between them and the
            # copy; readers of a WAL file go on reading.
            db.execute("BEGIN EXCLUSIVE")
            if run_id is not None and all(_ours(db, name, run_id) for name in self.layers):
                self.rollback()
                return False
            for name in self.layers:
                self._make_room(db, name)
            for name in self.layers:
                _copy(db, name)
            self.prepared = True
        except BaseException as err:
            self.rollback()
            if isinstance(err, sqlite3.Error):
                raise _error(self.target, err) from None
            raise
        return True

    def _make_room(self, db: sqlite3.Connection, name: str) -> None:
        """Drops our older layer ``name`` (--overwrite); refuses any other table of the name,
        which another program may have added since the run began."""
        found = db.execute("SELECT name FROM main.sqlite_master WHERE type IN ('table', 'view') "
                           "AND lower(name) = lower(?)", (name,)).fetchone()
        if found is None:
            return
        if not _ours(db, found[0]):
            raise TargetError(f"{self.target} has a layer {found[0]!r} that linetopo did not "
                              "write: --layer-name PREFIX writes ours under other names")
        if not self.replace:
            raise TargetError(f"{self.target} already has a layer {found[0]!r}: --overwrite "
                              "replaces our layers, --layer-name PREFIX writes others")
        table = found[0]
        for (column,) in db.execute("SELECT column_name FROM main.gpkg_geometry_columns "
                                    "WHERE lower(table_name) = lower(?)", (table,)).fetchall():
            db.execute(f"DROP TABLE IF EXISTS main.{_quote(f'rtree_{table}_{column}')}")
        db.execute(f"DROP TABLE main.{_quote(table)}")
        present = _tables(db, "main")
        for kind in _PER_LAYER:
            if kind in present:
                db.execute(f"DELETE FROM main.{kind} WHERE lower(table_name) = lower(?)",
                           (table,))
        if {"gpkg_metadata", "gpkg_metadata_reference"} <= present:
            ids = [i for (i,) in db.execute(
                "SELECT md_file_id FROM main.gpkg_metadata_reference WHERE "
                "lower(table_name) = lower(?)", (table,)).fetchall()]
            db.execute("DELETE FROM main.gpkg_metadata_reference WHERE "
                       "lower(table_name) = lower(?)", (table,))
            for i in ids:
                db.execute("DELETE FROM main.gpkg_metadata WHERE id = ? AND id NOT IN "
                           "(SELECT md_file_id FROM main.gpkg_metadata_reference)", (i,))

    def commit(self) -> None:
        if self._db is None:
            return
        try:
            self._db.execute("COMMIT")
        except sqlite3.Error as err:
            self.rollback()
            raise _error(self.target, err) from None
        self.committed = True
        self._close()

    def rollback(self) -> None:
        self.prepared = False
        if self._db is not None:
            try:
                if self._db.in_transaction:
                    self._db.execute("ROLLBACK")
            except sqlite3.Error:
                pass  # closing the connection rolls back all the same
            self._close()

    def _close(self) -> None:
        if self._db is not None:
            self._db.close()
            self._db = None


def _copy(db: sqlite3.Connection, name: str) -> None:
    """Copies layer ``name`` from the snapshot: table, rows, spatial index, then its indexes and
    triggers (last, so that GDAL's spatial functions, unknown here, never run), and its rows in
    the GeoPackage tables."""
    (table,) = db.execute("SELECT table_name FROM staged.gpkg_contents WHERE "
                          "lower(table_name) = lower(?)", (name,)).fetchone()
    schema = {row[1]: row for row in db.execute(
        "SELECT type, name, tbl_name, sql FROM staged.sqlite_master WHERE sql IS NOT NULL")}
    here = _tables(db, "main")
    # Tables GDAL made for our layers in the snapshot (feature counts, metadata) that the file
    # lacks.
    made = [n for n in schema if n.startswith("gpkg_") and schema[n][0] == "table"
            and n.lower() not in here]
    for n in made:
        db.execute(schema[n][3])
    db.execute(schema[table][3])
    db.execute(f"INSERT INTO main.{_quote(table)} SELECT * FROM staged.{_quote(table)}")
    columns = [c for (c,) in db.execute("SELECT column_name FROM staged.gpkg_geometry_columns "
                                        "WHERE table_name = ?", (table,)).fetchall()]
    for column in columns:
        index = f"rtree_{table}_{column}"
        if index in schema:
            db.execute(schema[index][3])
            db.execute(f"INSERT INTO main.{_quote(index)} SELECT * FROM staged.{_quote(index)}")
    for kind, _, owner, sql in schema.values():
        if kind in ("index", "trigger") and (owner == table or owner in made):
            db.execute(sql)
    _copy_crs(db, table)
    present = _tables(db, "main")
    for kind in _PER_LAYER:
        if kind in present and kind in _tables(db, "staged"):
            _copy_rows(db, kind, "lower(table_name) = lower(?)", (table,))
    for n in made:
        if "gpkg_extensions" in present:
            _copy_rows(db, "gpkg_extensions", "table_name = ?", (n,))
    if "gpkg_metadata_reference" in present:
        references = db.execute("SELECT rowid, md_file_id FROM staged.gpkg_metadata_reference "
                                "WHERE lower(table_name) = lower(?)", (table,)).fetchall()
        for rowid, md_id in references:
            new_id = _copy_rows(db, "gpkg_metadata", "id = ?", (md_id,), skip=("id",))
            _copy_rows(db, "gpkg_metadata_reference", "rowid = ?", (rowid,),
                       skip=("md_file_id", "md_parent_id"), extra={"md_file_id": new_id})


def _copy_crs(db: sqlite3.Connection, table: str) -> None:
    """Adds the snapshot's CRS rows the layer needs; a different CRS under the same id (added
    to the file since the snapshot) is refused, as the geometries name the id."""
    ids = {i for (i,) in db.execute(
        "SELECT srs_id FROM staged.gpkg_geometry_columns WHERE table_name = ? UNION "
        "SELECT srs_id FROM staged.gpkg_contents WHERE table_name = ?", (table, table))
        if i is not None}
    fields = "organization, organization_coordsys_id, definition"
    for i in sorted(ids):
        ours = db.execute(f"SELECT {fields} FROM staged.gpkg_spatial_ref_sys WHERE srs_id = ?",
                          (i,)).fetchone()
        theirs = db.execute(f"SELECT {fields} FROM main.gpkg_spatial_ref_sys WHERE srs_id = ?",
                            (i,)).fetchone()
        if theirs is None:
            _copy_rows(db, "gpkg_spatial_ref_sys", "srs_id = ?", (i,))
        elif ours is not None and tuple(theirs) != tuple(ours):
            raise TargetError(f"another program added a CRS to {_path(db)} while we wrote it: "
                              "run again")


def _copy_rows(db: sqlite3.Connection, table: str, where: str, args: tuple,
               skip: tuple[str, ...] = (), extra: dict[str, object] | None = None) -> int:
    """Copies the snapshot's rows of ``table`` that match ``where`` into the file, in the
    columns both have; returns the last row id."""
    def names(schema: str) -> list[str]:
        return [row[1] for row in db.execute(f"PRAGMA {schema}.table_info({_quote(table)})")]

    here = names("main")
    columns = [c for c in names("staged") if c in here and c not in skip]
    extra = extra or {}
    listed = ", ".join(_quote(c) for c in [*columns, *extra])
    values = ", ".join([_quote(c) for c in columns] + ["?"] * len(extra))
    cursor = db.execute(f"INSERT INTO main.{_quote(table)} ({listed}) SELECT {values} FROM "
                        f"staged.{_quote(table)} WHERE {where}", (*extra.values(), *args))
    return int(cursor.lastrowid or 0)


def _ours(db: sqlite3.Connection, table: str, run_id: str | None = None) -> bool:
    """Whether the file's ``table`` carries our mark (and the mark of run ``run_id``)."""
    if not {"gpkg_metadata", "gpkg_metadata_reference"} <= _tables(db, "main"):
        return False
    mark = _MARK if run_id is None else f'%<MDI key="{MARK}_run">{run_id}</MDI>%'
    return db.execute(
        "SELECT 1 FROM main.gpkg_metadata_reference r JOIN main.gpkg_metadata m ON "
        "m.id = r.md_file_id WHERE lower(r.table_name) = lower(?) AND m.metadata LIKE ?",
        (table, mark)).fetchone() is not None


def _tables(db: sqlite3.Connection, schema: str) -> set[str]:
    return {n.lower() for (n,) in db.execute(
        f"SELECT name FROM {schema}.sqlite_master WHERE type = 'table'")}


def _path(db: sqlite3.Connection) -> str:
    return str(db.execute("PRAGMA database_list").fetchone()[2])


def _quote(name: str) -> str:
    return '"' + name.replace('"', '""') + '"'


def _error(path: str, err: sqlite3.Error) -> ValueError:
    if "locked" in str(err) or "busy" in str(err):
        return TargetError(f"{path} is in use: another program is writing to it; try again "
                           "when it is done")
    return ValueError(f"cannot write {path}: {err}")
