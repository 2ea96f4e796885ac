"""One optimize call: the objective as the core calls it, errors and interruptions, and what
happens after each trial (logging, callbacks, the progress bar)."""

from __future__ import annotations

import logging
import math
import os
import threading
import time
from collections.abc import Callable, Iterable, Sequence
from typing import Any

import _tarvex

from ._extras import require
from ._remote import Executor
from ._trial import FrozenTrial, Trial
from ._values import objective_values
from .exceptions import WorkerLostError

logger = logging.getLogger("tarvex")
_ALL_TRIALS = 2**31 - 1  # n_trials=None: until the timeout or an interruption
MAX_JOBS = 1024  # threads beyond that are more than any objective uses and more than a system may start


def check_run_args(objective: Any, n_trials: Any, timeout: Any, n_jobs: Any, callbacks: Sequence[Any]) -> int:
    """Checks optimize's arguments; the number of jobs (-1 made one per CPU)."""
    if not callable(objective):
        raise TypeError(f"objective must be callable, got {objective!r}")
    if n_trials is not None and (type(n_trials) is not int or not 0 <= n_trials < 2**31):
        raise ValueError(f"n_trials must be None or an int from 0 to 2**31 - 1, got {n_trials!r}")
    if timeout is not None and not (isinstance(timeout, (int, float)) and timeout >= 0):
        raise ValueError(f"timeout must be None or a number of seconds of at least 0, got {timeout!r}")
    if type(n_jobs) is not int or not (n_jobs == -1 or 1 <= n_jobs <= MAX_JOBS):
        raise ValueError(f"n_jobs must be -1 (one per CPU) or an int from 1 to {MAX_JOBS}, got {n_jobs!r}")
    if callable(callbacks) or isinstance(callbacks, (str, bytes)) or not isinstance(callbacks, Iterable):
        raise TypeError(f"callbacks must be a list of callables, got {callbacks!r}")
    for callback in callbacks:
        if not callable(callback):
            raise TypeError(f"callbacks must be callables, got {callback!r}")
    return n_jobs if n_jobs != -1 else max(1, min(MAX_JOBS, os.cpu_count() or 1))


def check_catch(catch: Any) -> tuple[type[BaseException], ...]:
    types = catch if isinstance(catch, tuple) else (catch,) if isinstance(catch, type) else tuple(catch)
    for t in types:
        if not (isinstance(t, type) and issubclass(t, BaseException)):
            raise TypeError(f"catch must be an exception type or a tuple of them, got {t!r}")
    return types


class Run:
    """The state of one optimize call, shared by its workers."""

    def __init__(
        self,
        core: _tarvex.Study,
        storage: _tarvex.DatabaseStorage | None,
        objective: Callable[[Trial], Any],
        n_trials: int | None,
        timeout: float | None,
        catch: tuple[type[BaseException], ...],
        callbacks: Sequence[Callable[[Any, FrozenTrial], None]],
        callback_study: Any,
        progress: bool,
        executor: Executor | None = None,
    ) -> None:
        self.core = core
        self.executor = executor  # None: the objective runs in the run's threads
        self.storage = storage  # None: the study lives in this process's memory
        # Elsewhere, the objective runs in the executor's workers, and a worker lost fails its trial only.
        self.user_objective = objective if executor is None else executor
        self.catch: tuple[type[BaseException], ...] = catch if executor is None else (*catch, WorkerLostError)
        self.callbacks = tuple(callbacks)
        self.callback_study = callback_study  # what callbacks receive as their first argument
        self.n_directions = len(core.directions)
        self.maximize = core.directions == [_tarvex.StudyDirection.Maximize]
        self.error: BaseException | None = None  # the first error that stops the run
        self.lock = threading.Lock()
        self.bar = _progress_bar(n_trials, timeout) if progress else None
        self.best: float | None = None

    def make_objective(self) -> Callable[[Trial], Any]:
        """The objective as the core calls it, a closure over what it reads, since it runs once
        per trial: the error rules and a check of the result."""
        user_objective, catch, stop, n_directions = self.user_objective, self.catch, self.stop, self.n_directions
        pruned = _tarvex.TrialPruned
        directions = tuple(self.core.directions)

        def objective(trial: Trial) -> Any:
            trial._directions = directions
            try:
                result = user_objective(trial)
            except pruned:
                raise
            except catch as error:
                logger.warning(
                    "Trial %d failed with parameters %s: %s: %s",
                    trial.number,
                    trial.params,
                    type(error).__name__,
                    error,
                )
                raise
            except BaseException as error:
                stop(error)
                raise
            if type(result) is float and n_directions == 1:
                return result
            try:
                return objective_values(result, n_directions)
            except (TypeError, ValueError) as error:  # no usable value: the trial fails, the run goes on
                logger.warning("Trial %d failed: %s", trial.number, error)
                raise

        return objective

    def on_trial_end(self, core_trial: _tarvex.Trial) -> None:
        try:
            trial = FrozenTrial(core_trial)
            if "presumed_lost" in core_trial.system_attrs:
                logger.warning(
                    "Trial %d was presumed lost by another process (%s) while it ran here; it finished "
                    "after all and keeps its result. A heartbeat_grace longer than this process's pauses "
                    "avoids that.",
                    trial.number,
                    core_trial.system_attrs["presumed_lost"],
                )
            if logger.isEnabledFor(logging.INFO):
                chosen = core_trial.system_attrs.get("auto_sampler")
                logger.info(
                    "Trial %d %s: value %s, parameters %s%s",
                    trial.number,
                    trial.state.name,
                    trial.values[0] if len(trial.values) == 1 else trial.values,
                    trial.params,
                    f" (sampled by {chosen})" if chosen else "",
                )
            if self.bar is not None:
                self._advance(trial)
            for callback in self.callbacks:
                callback(self.callback_study, trial)
        except BaseException as error:  # noqa: BLE001 - raised again from optimize
            self.stop(error)

    @property
    def needs_trial_end(self) -> bool:
        # A stored trial may come back noted presumed lost, which is worth a warning.
        return (
            bool(self.callbacks)
            or self.bar is not None
            or self.storage is not None
            or logger.isEnabledFor(logging.INFO)
        )

    def stop(self, error: BaseException) -> None:
        with self.lock:
            if self.error is None:
                self.error = error
        self.core.stop()

    def _advance(self, trial: FrozenTrial) -> None:
        assert self.bar is not None
        if trial.state == _tarvex.TrialState.Complete and self.n_directions == 1 and not math.isnan(trial.values[0]):
            v = trial.values[0]
            better = self.best is None or (v > self.best if self.maximize else v < self.best)
            if better:
                self.best = v
                self.bar.set_postfix(best=f"{v:.6g}", refresh=False)
        if self.bar.unit == "s":  # a timeout run: the bar shows the time used
            self.bar.update(min(self.bar.total, time.monotonic() - self.started) - self.bar.n)
        else:
            self.bar.update(1)

    def execute(self, n_trials: int | None, timeout: float | None, n_jobs: int) -> None:
        """Runs the core loop: serially on this thread, or, with workers, from a helper thread so
        that this one stays free to take a Ctrl-C."""
        self.started = time.monotonic()
        core = self.core
        count = _ALL_TRIALS if n_trials is None else n_trials
        objective = self.make_objective()
        on_trial_end = self.on_trial_end if self.needs_trial_end else None
        multi_objective = self.n_directions > 1

        def run() -> None:
            core.run(objective, count, n_jobs, timeout, multi_objective, on_trial_end, Trial)

        try:
            if n_jobs == 1 and self.executor is None:
                run()
            else:
                _run_beside(run, core, self.storage, self.executor)
        finally:
            if self.bar is not None:
                self.bar.close()
        if self.error is not None:
            raise self.error


def _run_beside(
    run: Callable[[], None],
    core: _tarvex.Study,
    storage: _tarvex.DatabaseStorage | None,
    executor: Executor | None,
) -> None:
    """Runs run on a helper thread and waits; a KeyboardInterrupt stops the run, waits for the
    trials already running and is raised again. Workers waiting for a database that does not
    answer give up within a second. With an executor, a second KeyboardInterrupt cancels the
    trials running in its workers (they fail)."""
    failure: list[BaseException] = []
    done = threading.Event()

    def target() -> None:
        try:
            run()
        except BaseException as error:  # noqa: BLE001 - raised again below
            failure.append(error)
        finally:
            done.set()

    # Waited on through an event, not Thread.join: up to Python 3.12, a KeyboardInterrupt that
    # lands inside join can mark the thread stopped while it still runs, and the run would be
    # torn down under its running trials.
    threading.Thread(target=target, name="tarvex-optimize").start()
    interrupted = None
    while not done.is_set():
        try:
            done.wait(0.05)
        except KeyboardInterrupt as error:
            if interrupted is not None and executor is not None:
                executor.cancel()
            interrupted = interrupted or error
            core.stop()
            if storage is not None:
                storage.interrupt()
    if interrupted is not None:
        raise interrupted
    if failure:
        raise failure[0]


def _progress_bar(n_trials: int | None, timeout: float | None) -> Any:
    tqdm = require("tqdm", "progress", "progress=True").tqdm
    if n_trials is not None:
        return tqdm(total=n_trials, unit="trial")
    if timeout is not None:
        return tqdm(total=timeout, unit="s", bar_format="{l_bar}{bar}| {n:.1f}/{total:.1f} s{postfix}")
    return tqdm(unit="trial")
