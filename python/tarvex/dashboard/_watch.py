"""One stored study as the dashboard sees it: its trials fetched incrementally (only what changed
since the last look), a version that moves whenever any trial changes, and a snapshot per version
from which the pages are computed, each thing once."""

from __future__ import annotations

import datetime
import threading
import time
from collections.abc import Callable
from typing import Any, TypeVar

import _tarvex

from .._dataframe import named_column
from .._study import Study
from .._trial import FrozenTrial
from .._values import decode_text
from ..report._sample import TrialsView

T = TypeVar("T")
# The most a chart draws of a large study, below a report's: the page is opened and redrawn often,
# and these keep a page of 100,000 trials drawn within a couple of seconds.
CHART_LIMITS = {"history": 1000, "slice": 300, "contour": 300, "contour_params": 3, "timeline": 500}


class Made:
    """Values by name, each made by one thread while the others that ask for it wait; a value
    kept serves as long as usable(value) says so."""

    def __init__(self) -> None:
        self._lock = threading.Lock()
        self._values: dict[str, Any] = {}
        self._making: dict[str, threading.Lock] = {}

    def get(self, name: str, make: Callable[[], T], usable: Callable[[T], bool] = lambda _: True) -> T:
        with self._lock:
            if name in self._values and usable(self._values[name]):
                return self._values[name]  # type: ignore[no-any-return]
            lock = self._making.setdefault(name, threading.Lock())
        with lock:
            with self._lock:
                if name in self._values and usable(self._values[name]):
                    return self._values[name]  # type: ignore[no-any-return]
            value = make()
            with self._lock:
                self._values[name] = value
            return value


class Snapshot:
    """The study's trials at one version, and what was computed from them. Immutable once made;
    computed things are made on first use, once even when several requests ask at the same time."""

    def __init__(self, study: Study, version: int, trials: list[_tarvex.Trial]) -> None:
        self.study = study
        self.version = version
        self.core_trials = trials  # by number
        self._made = Made()

    def once(self, name: str, make: Callable[[], T]) -> T:
        return self._made.get(name, make)

    @property
    def trials(self) -> list[FrozenTrial]:
        return self.once("trials", lambda: [FrozenTrial(t) for t in self.core_trials])

    @property
    def table(self) -> dict[str, list[Any]]:
        """The trials' columns as Study.columns has them, learning curves included."""

        def make() -> dict[str, list[Any]]:
            columns: dict[str, list[Any]] = _tarvex.trials_table(
                self.core_trials, len(self.study.directions), decode_text, intermediate=True
            )
            names = self.study.objective_names
            if names is not None and len(names) > 1:
                columns = {named_column(k, names): v for k, v in columns.items()}
            return columns

        return self.once("table", make)

    @property
    def last_activity(self) -> float | None:
        """When a trial last started or finished, in seconds since the epoch; None without trials."""

        def make() -> float | None:
            table = self.table
            times = [max(table["datetime_start"], default=None)]
            times.append(max((t for t in table["datetime_complete"] if t is not None), default=None))
            latest = max((t for t in times if t is not None), default=None)
            if latest is None:
                return None
            # The table's times are local time counted as if it were UTC.
            local = datetime.datetime(1970, 1, 1) + datetime.timedelta(microseconds=latest // 1000)
            return local.timestamp()

        return self.once("last_activity", make)

    @property
    def view(self) -> TrialsView:
        return self.once(
            "view",
            lambda: TrialsView(
                self.study.directions,
                self.trials,
                self.study.study_name,
                self.table,
                objective_names=self.study.objective_names,
                limits=CHART_LIMITS,
            ),
        )


class Computed:
    """A value computed from a snapshot, kept for later ones while it is fresh enough: a costly
    chart of a large study that changes all the time is made again at most every few times its
    own cost, not at every change."""

    def __init__(self, version: int, value: Any, cost: float) -> None:
        self.version, self.value, self.cost = version, value, cost
        self.made_at = time.monotonic()

    def fresh_for(self, version: int) -> bool:
        return self.version == version or time.monotonic() - self.made_at < max(2.0, 4 * self.cost)


class StudyWatch:
    """Keeps a stored study's trials up to date. poll() asks the storage what changed, at most
    every min_interval seconds however many pages ask."""

    def __init__(self, study: Study, min_interval: float = 0.5) -> None:
        self.study = study
        self.min_interval = min_interval
        self._core = study._core
        self._lock = threading.Lock()  # guards what follows
        self._trials: dict[int, _tarvex.Trial] = {}
        self._cursor = 0
        self._checked = -float("inf")
        self._version = 0
        self._snapshot: Snapshot | None = None
        self._computed = Made()

    def poll(self) -> None:
        with self._lock:
            if time.monotonic() - self._checked < self.min_interval:
                return
            changed, self._cursor = self._core.trials_since(self._cursor)
            self._checked = time.monotonic()
            if changed:
                for trial in changed:
                    self._trials[trial.number] = trial
                self._version += 1
                self._snapshot = None

    def snapshot(self) -> Snapshot:
        """The newest version's snapshot, polling the storage first."""
        self.poll()
        with self._lock:
            if self._snapshot is None:
                trials = [self._trials[n] for n in sorted(self._trials)]
                self._snapshot = Snapshot(self.study, self._version, trials)
            return self._snapshot

    def computed(self, name: str, make: Callable[[Snapshot], Any]) -> Computed:
        """make(snapshot) for the newest snapshot, or an earlier result that is still fresh."""
        snapshot = self.snapshot()

        def timed() -> Computed:
            start = time.monotonic()
            value = make(snapshot)
            return Computed(snapshot.version, value, time.monotonic() - start)

        return self._computed.get(name, timed, lambda kept: kept.fresh_for(snapshot.version))
