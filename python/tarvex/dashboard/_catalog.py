"""The studies of one storage as the dashboard lists them, each watched from the first time it is
looked at. A storage that cannot be reached is tried again at every request, and what went wrong
is told in one line, which names the storage without its password."""

from __future__ import annotations

import functools
import threading
from typing import Any

import _tarvex

from .._create import study_in_storage
from .._records import state_counts
from .._storage import DatabaseStorage
from ._watch import Snapshot, StudyWatch

TrialState = _tarvex.TrialState
TIMEOUT = 5.0  # seconds a request waits for the database before the page says it cannot read it


class StorageUnavailable(Exception):
    """The storage could not be opened or read; the message says why, in one line."""


class Catalog:
    def __init__(self, storage: str | DatabaseStorage) -> None:
        self._given = storage
        self._lock = threading.Lock()
        self._storage: DatabaseStorage | None = storage if isinstance(storage, DatabaseStorage) else None
        self._watches: dict[int, StudyWatch] = {}
        if self._storage is None:
            try:
                self._open()
            except StorageUnavailable:
                pass  # a server that is down now: the pages say so, and it is tried again

    @property
    def url(self) -> str:
        """The storage as shown, every password replaced by ***."""
        if self._storage is not None:
            return self._storage.url
        return "the storage"

    def _open(self) -> DatabaseStorage:
        with self._lock:
            if self._storage is None:
                try:
                    self._storage = DatabaseStorage(str(self._given), timeout=TIMEOUT, read_only=True)
                except RuntimeError as error:
                    raise StorageUnavailable(f"cannot open the storage: {_one_line(error)}") from None
            return self._storage

    def records(self) -> list[_tarvex.StudyRecord]:
        storage = self._open()
        try:
            return storage.studies()
        except RuntimeError as error:
            raise StorageUnavailable(f"cannot read {storage.url}: {_one_line(error)}") from None

    def watch(self, study_id: int, *, recheck: bool = False) -> StudyWatch | None:
        """The study of that id, or None when the storage holds none (any more); recheck: ask
        the storage whether a study already watched is still there."""
        with self._lock:
            watch = self._watches.get(study_id)
        if watch is not None and not recheck:
            return watch
        record = next((r for r in self.records() if r.id == study_id), None)
        if record is None:
            with self._lock:
                self._watches.pop(study_id, None)
            return None
        return self._watch_of(record)

    def _watch_of(self, record: _tarvex.StudyRecord) -> StudyWatch:
        with self._lock:
            watch = self._watches.get(record.id)
        if watch is not None:
            return watch
        made = StudyWatch(study_in_storage(self._open(), record, None, None))
        with self._lock:
            return self._watches.setdefault(record.id, made)

    def watches(self) -> list[StudyWatch]:
        """The studies watched so far."""
        with self._lock:
            return list(self._watches.values())

    def snapshot(self, watch: StudyWatch) -> Snapshot:
        try:
            return watch.snapshot()
        except RuntimeError as error:
            raise StorageUnavailable(f"cannot read {self.url}: {_one_line(error)}") from None

    def overview(self) -> list[dict[str, Any]]:
        """One row per study, oldest first: its name, directions, trials by state, best value
        (or the size of its Pareto front) and when a trial last changed."""
        rows = []
        records = self.records()
        with self._lock:
            for gone in set(self._watches) - {r.id for r in records}:
                del self._watches[gone]
        for record in records:
            snapshot = self.snapshot(self._watch_of(record))
            overview = snapshot.once("overview", functools.partial(_overview, snapshot))
            rows.append({"id": record.id, "name": record.name, **overview})
        return rows


def _overview(snapshot: Snapshot) -> dict[str, Any]:
    view = snapshot.view
    counts = state_counts(view.trials)
    best: str | None = None
    if len(view.directions) > 1:
        front = view.best()
        best = f"{len(front)} on the Pareto front" if front else None
    elif view.best():
        best = f"{view.best()[0].values[0]:.6g}"
    elif any(t.state == TrialState.Complete for t in view.trials):
        best = "no feasible trial" if not any(t.feasible for t in view.trials) else None
    names = view.objective_names or []
    return {
        "directions": [
            f"{names[i]} ({d.name.lower()})" if names else d.name.lower() for i, d in enumerate(view.directions)
        ],
        "trials": len(view.trials),
        "states": {state: counts.get(state, 0) for state in ("Complete", "Pruned", "Failed", "Running")},
        "best": best,
        "last_activity": snapshot.last_activity,
        "version": snapshot.version,
    }


def _one_line(error: BaseException) -> str:
    return " ".join(str(error).split())
