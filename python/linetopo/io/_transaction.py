"""All or nothing: every output of a run is made in scratch folders, then moved into place under
a journal, so that even a run killed while moving leaves each output old or new."""

from __future__ import annotations

import json
import os
import shutil
import sys
import tempfile
import time
import uuid
from typing import Any, Callable, Sequence

from . import _gpkg, _targets

try:
    import fcntl
except ImportError:  # no flock: a killed run's scratch folder is then left to the user
    fcntl = None  # type: ignore[assignment]

_PREFIX = ".linetopo-"
# Inside each scratch folder: the lock its run holds while alive, the first scratch folder of
# the run (in the others), the journal (in the first) and its rollback twin, and the old files.
_LOCK, _OWNER, _JOURNAL, _UNDO, _OLD = (".linetopo-lock", ".linetopo-owner", ".linetopo-journal",
                                        ".linetopo-undo", ".linetopo-old")
_CONTROL = {_LOCK, _LOCK + ".tmp", _OWNER, _JOURNAL, _JOURNAL + ".tmp", _UNDO, _UNDO + ".tmp",
            _OLD}
# A scratch folder without a lock file is being made, unless it has been so for this long.
_STALE_SECONDS = 60.0


class Transaction:
    """The files one run writes, staged beside their targets until :meth:`commit`.

    Each target folder gets one hidden scratch folder, so that the final moves stay on one file
    system and each is atomic. Before the first move the journal lists them all: a failed move
    puts back every file the commit had replaced or removed, and a run killed while moving is
    finished by the next one that looks at the folder (see :func:`recover`), so that a run leaves
    its targets either all new or all as they were.

    Examples
    --------
    >>> with Transaction() as run:  # doctest: +SKIP
    ...     open(run.stage("out.geojson"), "w").write("{}")
    ...     run.commit()
    """

    def __init__(self, new_folders: Sequence[str] = (),
                 guard: Callable[[str], None] | None = None) -> None:
        # Folders that may be made for the targets (several inputs into a new folder); any other
        # missing folder is an error, as a mistyped path should be.
        self._may_make = {os.path.abspath(f) for f in new_folders}
        # Asked for every file about to be moved into place, the driver's own sidecars among
        # them; raises to refuse one.
        self._guard = guard
        self.id = uuid.uuid4().hex
        self._scratch: dict[str, str] = {}  # target folder -> its scratch folder, first first
        self._locks: list[int] = []
        self._removals: list[str] = []
        self._updates: list[_gpkg.Update] = []
        self._stdout: list[str] = []
        self._names: dict[str, str] = {}  # scratch path -> the target it stands for
        self._made: list[str] = []  # folders made for targets, removed again if nothing lands
        self._committed = False
        self._keep = False  # the journal stays, for the next run to finish the commit

    def __enter__(self) -> Transaction:
        return self

    def __exit__(self, *exc: object) -> None:
        self.close()

    def _scratch_for(self, folder: str, target: str) -> str:
        scratch = self._scratch.get(folder)
        if scratch is not None:
            return scratch
        try:
            if folder in self._may_make and not os.path.isdir(folder):
                missing = [folder]
                while not os.path.isdir(os.path.dirname(missing[-1])):
                    missing.append(os.path.dirname(missing[-1]))
                os.makedirs(folder)
                self._made.extend(missing)  # innermost first
            recover([folder])
            scratch = tempfile.mkdtemp(prefix=_PREFIX, dir=folder)
            self._locks.append(_hold(scratch))
            if self._scratch:
                with open(os.path.join(scratch, _OWNER), "w", encoding="utf-8") as f:
                    f.write(self._primary())
            os.mkdir(os.path.join(scratch, _OLD))
        except OSError as err:
            raise ValueError(f"cannot write {target}: {err.strerror or err}") from None
        self._scratch[folder] = scratch
        return scratch

    def _primary(self) -> str:
        return next(iter(self._scratch.values()))

    def stage(self, target: str) -> str:
        """The scratch path to write ``target`` at; files made beside it in the same scratch
        folder (a Shapefile's .dbf, say) are moved into the target's folder with it."""
        folder = os.path.dirname(os.path.abspath(target))
        path = os.path.join(self._scratch_for(folder, target), os.path.basename(target))
        self._names[path] = target
        return path

    def stage_update(self, target: str, layers: list[str], replace: bool) -> str:
        """Like :meth:`stage`, with a snapshot of the existing GeoPackage ``target`` there to add
        ``layers`` to; at commit they go into ``target`` itself, which is never replaced.
        ``replace`` lets them replace our own layers of those names."""
        path = self.stage(target)
        _gpkg.snapshot(target, path)
        self._updates.append(_gpkg.Update(path, os.path.abspath(target), layers, replace))
        return path

    def remove(self, path: str) -> None:
        """Removes ``path`` on commit (a stale sidecar of a replaced file)."""
        self._removals.append(os.path.abspath(path))

    def print(self, text: str) -> None:
        """Writes ``text`` to standard output on commit."""
        self._stdout.append(text)

    def hide_scratch(self, text: str) -> str:
        """``text`` with every scratch path replaced by the target it stands for, so that no
        message shows a temporary name."""
        for path, target in self._names.items():
            text = text.replace(path, target)
        for folder, scratch in self._scratch.items():
            text = text.replace(scratch, folder)
        return text

    def _plan(self) -> dict[str, Any]:
        """The journal of the commit: what moves where, what goes, which GeoPackages change."""
        updated = {u.staged + end for u in self._updates for end in ("", "-journal", "-wal",
                                                                     "-shm")}
        # Each with whether the target exists now: rolling back removes only new files.
        moves = [(os.path.join(scratch, name), os.path.join(folder, name),
                  os.path.lexists(os.path.join(folder, name)))
                 for folder, scratch in self._scratch.items()
                 for name in sorted(os.listdir(scratch))
                 if name not in _CONTROL and os.path.join(scratch, name) not in updated]
        if self._guard is not None:
            for _, target, _ in moves:
                self._guard(target)
        targets = {target for _, target, _ in moves} | {u.target for u in self._updates}
        removals = [p for p in dict.fromkeys(self._removals)
                    if p not in targets and os.path.lexists(p)]
        for path in removals:
            self._scratch_for(os.path.dirname(path), path)
        self._updates.sort(key=lambda u: u.target)
        return {"run": self.id, "state": "forward", "primary": self._primary(),
                "scratch": self._scratch, "moves": moves, "removals": removals,
                "updates": [[u.staged, u.target, u.layers] for u in self._updates]}

    def commit(self) -> None:
        """Moves every staged file into place, or none of them."""
        if self._scratch:
            plan = self._plan()
            held = _lock_folders(plan["scratch"])
            try:
                # A run that died while this one waited for the folders goes first, so that its
                # files never land over ours later.
                recover(list(plan["scratch"]), locked=True)
                self._commit(plan)
            finally:
                _unlock(held)
        self._committed = True
        for text in self._stdout:
            sys.stdout.write(text)
        sys.stdout.flush()
        self._stdout.clear()

    def _commit(self, plan: dict[str, Any]) -> None:
        primary = plan["primary"]
        at = [""]
        try:
            for source, target, _ in plan["moves"]:
                at[0] = target
                _fsync(source)  # what the journal promises is on disk before it is written
            for update in self._updates:
                at[0] = update.target
                update.prepare()
            at[0] = ""
            _write_json(os.path.join(primary, _UNDO), {**plan, "state": "backward"})
            _write_json(os.path.join(primary, _JOURNAL), plan)  # the run is now committed
        except BaseException as err:
            for update in self._updates:
                update.rollback()
            _quietly(os.remove, os.path.join(primary, _JOURNAL))
            raise _failure(err, at[0]) from None
        try:
            _forward(plan, self._updates, at)
        except BaseException as err:
            # The journal stays until every old file is back, for the next run to finish if
            # this one cannot: once a GeoPackage has our layers for good, by moving forward.
            self._keep = True
            if not any(update.committed for update in self._updates):
                try:
                    for update in self._updates:
                        update.rollback()
                    os.replace(os.path.join(primary, _UNDO), os.path.join(primary, _JOURNAL))
                    _backward(plan)
                    self._keep = False
                except BaseException:
                    pass
            if self._keep:
                raise ValueError(f"cannot write {at[0]}: {_reason(err)}; the next linetopo run "
                                 "in its folder finishes what this one began") from None
            raise _failure(err, at[0]) from None
        _finish(plan)

    def close(self) -> None:
        """Drops whatever was staged and not committed."""
        for update in self._updates:
            update.rollback()
        if not self._keep:
            for scratch in reversed(list(self._scratch.values())):  # the first, the journal's, last
                shutil.rmtree(scratch, ignore_errors=True)
            if not self._committed:
                for folder in self._made:
                    _quietly(os.rmdir, folder)
        self._scratch.clear()
        self._made.clear()
        _unlock(self._locks)


def recover(folders: Sequence[str], locked: bool = False) -> list[str]:
    """Finishes the commit of every run in ``folders`` that was killed while moving its files
    into place (or puts back what it had moved, if it was undoing a failed move), and removes the
    scratch folders of dead runs; returns what it did, for the user. Folders of live runs, which
    hold their lock, are left alone. ``locked``: the caller holds the folders' locks."""
    notes = []
    for folder in dict.fromkeys(os.path.abspath(f) for f in folders):
        for name in _targets.listing(folder):
            path = os.path.join(folder, name)
            if name.startswith(_PREFIX) and os.path.isdir(path) and not os.path.islink(path):
                note = _recover(path, locked)
                if note:
                    notes.append(note)
    return notes


def _recover(scratch: str, locked: bool) -> str | None:
    own = _take(os.path.join(scratch, _LOCK))
    if own is None:
        if not os.path.lexists(os.path.join(scratch, _LOCK)):
            _drop_if_stale(scratch)
        return None
    held = [own]
    try:
        primary = _read(os.path.join(scratch, _OWNER)) or scratch
        if primary != scratch:
            other = _take(os.path.join(primary, _LOCK))
            if other is None and os.path.isdir(primary):
                return None  # the run lives, or another run is recovering it
            if other is not None:
                held.append(other)
        text = _read(os.path.join(primary, _JOURNAL))
        if text is None:  # never committed
            for folder in [scratch] if len(held) == 1 else [scratch, primary]:
                _settle(folder)
                shutil.rmtree(folder, ignore_errors=True)
            return None
        plan = json.loads(text)
        folders = [] if locked else _lock_folders(plan["scratch"])
        try:
            names = ", ".join([t for _, t, _ in plan["moves"]] + [u[1] for u in plan["updates"]])
            at = [names]
            try:
                if plan["state"] == "forward":
                    updates = [_gpkg.Update(staged, target, layers, True)
                               for staged, target, layers in plan["updates"]]
                    _forward(plan, updates, at, plan["run"])
                    note = f"finished writing {names}, which an interrupted run had begun"
                else:
                    _backward(plan)
                    note = f"put back {names} as they were before an interrupted run"
            except Exception as err:
                raise ValueError(f"cannot finish writing {at[0]}, which an interrupted run "
                                 f"began: {_reason(err)}") from None
            _finish(plan)
        finally:
            _unlock(folders)
        return note
    finally:
        _unlock(held)


def _forward(plan: dict[str, Any], updates: list[_gpkg.Update], at: list[str],
             run_id: str | None = None) -> None:
    """Does what the journal says, skipping what a killed run did already; ``at`` holds the
    target at hand, for the message if a step fails."""
    for path in plan["removals"]:
        at[0] = path
        if os.path.lexists(path):
            os.replace(path, _backup(plan, path))
    for source, target, _ in plan["moves"]:
        at[0] = target
        if not os.path.lexists(source):
            continue
        backup = _backup(plan, target)
        if os.path.lexists(target) and not os.path.lexists(backup):
            try:
                os.link(target, backup, follow_symlinks=False)  # in place until replaced
            except (OSError, NotImplementedError):
                os.replace(target, backup)
        os.replace(source, target)
    for update in updates:
        at[0] = update.target
        if update.prepared or update.prepare(run_id):
            update.commit()


def _backward(plan: dict[str, Any]) -> None:
    """Puts back every file the journal's moves and removals had replaced or removed."""
    for source, target, existed in reversed(plan["moves"]):
        backup = _backup(plan, target)
        if os.path.lexists(backup):
            os.replace(backup, target)
        elif not existed and not os.path.lexists(source) and os.path.lexists(target):
            os.remove(target)
    for path in plan["removals"]:
        backup = _backup(plan, path)
        if os.path.lexists(backup):
            os.replace(backup, path)


def _finish(plan: dict[str, Any]) -> None:
    """Removes a run's scratch folders: the journal's last, so that it outlives the others."""
    primary = plan["primary"]
    for folder, scratch in plan["scratch"].items():
        _quietly(_fsync, folder)  # the moves outlive a power cut as long as the journal does
        if scratch != primary:
            shutil.rmtree(scratch, ignore_errors=True)
    _quietly(os.remove, os.path.join(primary, _JOURNAL))
    shutil.rmtree(primary, ignore_errors=True)


def _settle(scratch: str) -> None:
    """Rolls back what a killed run had begun writing into a GeoPackage it was adding layers
    to (a snapshot of it in ``scratch``), as any SQLite writer would, so that programs that
    open it read-only (GDAL's readers, ours) can read it again."""
    folder = os.path.dirname(scratch)
    for name in _targets.listing(scratch):
        if name not in _CONTROL and os.path.lexists(os.path.join(folder, name + "-journal")):
            _gpkg.settle(os.path.join(folder, name))


def _backup(plan: dict[str, Any], path: str) -> str:
    return os.path.join(plan["scratch"][os.path.dirname(path)], _OLD, os.path.basename(path))


def _hold(scratch: str) -> int:
    """Locks a new scratch folder for as long as its run lives. The lock file gets its name
    once locked, so that no other run ever finds it free before."""
    fd = os.open(os.path.join(scratch, _LOCK + ".tmp"), os.O_RDWR | os.O_CREAT | os.O_EXCL,
                 0o600)
    if fcntl is not None:
        try:
            fcntl.flock(fd, fcntl.LOCK_EX | fcntl.LOCK_NB)
        except OSError:
            pass  # a file system without locks: the run goes on, and no other run recovers it
    os.rename(os.path.join(scratch, _LOCK + ".tmp"), os.path.join(scratch, _LOCK))
    return fd


def _take(path: str) -> int | None:
    """An open file holding the lock ``path`` of a dead run's scratch folder, or None where a
    live run (or another run recovering it) holds it, or there is no such file."""
    if fcntl is None:
        return None
    try:
        fd = os.open(path, os.O_RDWR)
    except OSError:
        return None
    try:
        fcntl.flock(fd, fcntl.LOCK_EX | fcntl.LOCK_NB)
    except OSError:
        os.close(fd)
        return None
    return fd


def _lock_folders(scratch: dict[str, str]) -> list[int]:
    """Waits for the folders of a commit, so that two runs' moves into one folder never
    interleave; in one order, so that two runs never wait on each other."""
    held = []
    for folder in sorted(scratch):
        try:
            fd = os.open(folder, os.O_RDONLY)
        except OSError:
            continue
        held.append(fd)
        if fcntl is not None:
            try:
                fcntl.flock(fd, fcntl.LOCK_EX)
            except OSError:
                pass
    return held


def _unlock(held: list[int]) -> None:
    for fd in held:
        if fd >= 0:
            _quietly(os.close, fd)
    held.clear()


def _drop_if_stale(scratch: str) -> None:
    """Removes a scratch folder whose run died before it locked it."""
    try:
        if (set(os.listdir(scratch)) <= {_LOCK + ".tmp"}
                and time.time() - os.stat(scratch).st_mtime > _STALE_SECONDS):
            shutil.rmtree(scratch)
    except OSError:
        pass


def _write_json(path: str, data: dict[str, Any]) -> None:
    with open(path + ".tmp", "w", encoding="utf-8") as f:
        json.dump(data, f)
        f.flush()
        os.fsync(f.fileno())
    os.replace(path + ".tmp", path)
    _quietly(_fsync, os.path.dirname(path))  # some file systems refuse it for folders


def _fsync(path: str) -> None:
    fd = os.open(path, os.O_RDONLY)
    try:
        os.fsync(fd)
    finally:
        os.close(fd)


def _read(path: str) -> str | None:
    try:
        with open(path, encoding="utf-8") as f:
            return f.read()
    except OSError:
        return None


def _reason(err: BaseException) -> str:
    if isinstance(err, OSError):
        return str(err.strerror or err)
    return str(err) or type(err).__name__


def _failure(err: BaseException, path: str) -> BaseException:
    """What a failed commit raises: Ctrl-C and the like go on, errors name the file."""
    if isinstance(err, OSError):
        return ValueError(f"cannot write {path or err.filename}: {err.strerror or err}")
    return err


def _quietly(action: object, *args: Any) -> None:
    try:
        action(*args)  # type: ignore[operator]
    except OSError:
        pass
