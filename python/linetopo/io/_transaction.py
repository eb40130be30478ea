"""All or nothing: every output of a run is made in scratch folders, then moved into place."""

from __future__ import annotations

import os
import shutil
import sys
import tempfile
from typing import Callable, Sequence


class Transaction:
    """The files one run writes, staged beside their targets until :meth:`commit`.

    Each target folder gets one hidden scratch folder, so that the final moves stay on one file
    system and each is atomic. A failed move puts back every file the commit had replaced or
    removed, so that a run leaves its targets either all new or all as they were.

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
        self._scratch: dict[str, str] = {}  # target folder -> its scratch folder
        self._removals: list[str] = []
        self._stdout: list[str] = []
        self._names: dict[str, str] = {}  # scratch path -> the target it stands for
        self._made: list[str] = []  # folders made for targets, removed again if nothing lands
        self._committed = False

    def __enter__(self) -> Transaction:
        return self

    def __exit__(self, *exc: object) -> None:
        self.close()

    def stage(self, target: str) -> str:
        """The scratch path to write ``target`` at; files made beside it in the same scratch
        folder (a Shapefile's .dbf, say) are moved into the target's folder with it."""
        folder = os.path.dirname(os.path.abspath(target))
        scratch = self._scratch.get(folder)
        if scratch is None:
            try:
                if folder in self._may_make and not os.path.isdir(folder):
                    missing = [folder]
                    while not os.path.isdir(os.path.dirname(missing[-1])):
                        missing.append(os.path.dirname(missing[-1]))
                    os.makedirs(folder)
                    self._made.extend(missing)  # innermost first
                scratch = tempfile.mkdtemp(prefix=".linetopo-", dir=folder)
            except OSError as err:
                raise ValueError(f"cannot write {target}: {err.strerror or err}") from None
            self._scratch[folder] = scratch
        path = os.path.join(scratch, os.path.basename(target))
        self._names[path] = target
        return path

    def stage_copy(self, target: str) -> str:
        """Like :meth:`stage`, with a copy of the existing ``target`` there to update."""
        path = self.stage(target)
        try:
            shutil.copy2(target, path)
        except OSError as err:
            raise ValueError(f"cannot write {target}: {err.strerror or err}") from None
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

    def commit(self) -> None:
        """Moves every staged file into place, or none of them."""
        moves = [(os.path.join(scratch, name), os.path.join(folder, name))
                 for folder, scratch in self._scratch.items()
                 for name in sorted(os.listdir(scratch))]
        if self._guard is not None:
            for _, target in moves:
                self._guard(target)
        targets = {target for _, target in moves}
        removals = [p for p in dict.fromkeys(self._removals)
                    if p not in targets and os.path.lexists(p)]
        kept: list[tuple[str, str]] = []  # (backup, original place) to restore on failure
        placed: list[str] = []
        backups: dict[str, str] = {}
        current = ""
        try:
            for folder in {os.path.dirname(t) for t in [*targets, *removals]}:
                backups[folder] = tempfile.mkdtemp(prefix=".linetopo-old-", dir=folder)
            for path in removals:
                current = path
                backup = os.path.join(backups[os.path.dirname(path)], os.path.basename(path))
                os.replace(path, backup)
                kept.append((backup, path))
            for source, target in moves:
                current = target
                if os.path.lexists(target):
                    backup = os.path.join(backups[os.path.dirname(target)],
                                          os.path.basename(target))
                    try:
                        os.link(target, backup)  # the target stays in place until replaced
                    except OSError:
                        os.replace(target, backup)
                    kept.append((backup, target))
                os.replace(source, target)
                placed.append(target)
        except BaseException as err:
            # Ctrl-C and the like too: every file goes back before the interrupt goes on.
            undone = {original for _, original in kept}
            for target in placed:
                if target not in undone:
                    _quietly(os.remove, target)
            for backup, original in reversed(kept):
                _quietly(os.replace, backup, original)
            if not isinstance(err, OSError):
                raise
            raise ValueError(f"cannot write {current or err.filename}: {err.strerror or err}"
                             ) from None
        finally:
            for folder in backups.values():
                shutil.rmtree(folder, ignore_errors=True)
        self._committed = True
        for text in self._stdout:
            sys.stdout.write(text)
        sys.stdout.flush()
        self._stdout.clear()

    def close(self) -> None:
        """Drops whatever was staged and not committed."""
        for scratch in self._scratch.values():
            shutil.rmtree(scratch, ignore_errors=True)
        self._scratch.clear()
        if not self._committed:
            for folder in self._made:
                _quietly(os.rmdir, folder)
        self._made.clear()


def _quietly(action: object, *args: str) -> None:
    try:
        action(*args)  # type: ignore[operator]
    except OSError:
        pass
