"""Studies: one optimisation problem, its trials and its results."""

from __future__ import annotations

import math
import threading
from collections.abc import Callable, Iterable, Mapping, Sequence
from typing import Any

import _tarvex

from ._constraints import ConstraintsFunc, constraint_values, with_constraints
from ._custom_sampler import CustomSampler
from ._dataframe import named_column
from ._executors import open_executor
from ._optimize import Run, check_catch, check_run_args
from ._storage import DatabaseStorage
from ._study_moves import copy_study, in_memory, reconnected, without_password
from ._trial import FrozenTrial, Trial
from ._values import decode_attrs, decode_params, decode_text, encode_attr, encode_params, objective_values

StudyDirection = _tarvex.StudyDirection
TrialState = _tarvex.TrialState


class Study:
    """One optimisation problem: its directions, sampler and pruner, and the record of its trials.
    Make one with tv.create_study."""

    def __init__(
        self,
        core: _tarvex.Study,
        name: str,
        sampler: _tarvex.ISampler | CustomSampler,
        pruner: _tarvex.IPruner | None,
        storage: DatabaseStorage | None = None,
        *,
        constraints: ConstraintsFunc | None = None,
        objective_names: list[str] | None = None,
        record: _tarvex.StudyRecord | None = None,
    ) -> None:
        self._core = core
        self.study_name = name
        self.sampler = sampler
        self.pruner = pruner
        self.storage = storage  # None: this process's memory
        self.constraints = constraints
        self._objective_names = objective_names
        self._record = record  # the stored study's, with a database storage
        self._user_attrs: dict[str, str] = {}  # encoded, of a study in memory
        self._asked: dict[int, Trial] = {}
        self._asked_lock = threading.Lock()

    @property
    def directions(self) -> list[StudyDirection]:
        return self._core.directions

    @property
    def objective_names(self) -> list[str] | None:
        """The objectives' names given to create_study, one per direction; None when unnamed."""
        return None if self._objective_names is None else list(self._objective_names)

    @property
    def direction(self) -> StudyDirection:
        """The direction of a single-objective study."""
        directions = self._core.directions
        if len(directions) != 1:
            raise RuntimeError("direction is for single-objective studies; use directions")
        return directions[0]

    @property
    def user_attrs(self) -> dict[str, Any]:
        """The study's own attributes (set_user_attr); stored with the study in a database."""
        return decode_attrs(self._encoded_user_attrs())

    def _encoded_user_attrs(self) -> dict[str, str]:
        if self.storage is None or self._record is None:
            return dict(self._user_attrs)
        return self.storage.study_user_attrs(self._record)

    def set_user_attr(self, key: str, value: Any) -> None:
        """Sets one of the study's own attributes (a JSON-serialisable value), replacing any before."""
        text = encode_attr(key, value)
        if self.storage is None or self._record is None:
            self._user_attrs[key] = text
        else:
            self.storage.set_study_user_attr(self._record, key, text)

    def copy_to(self, storage: str | DatabaseStorage, name: str) -> None:
        """Copies the study into storage (a URL or a tv.DatabaseStorage) as a new study called name,
        with its directions, objective names and user attributes and every trial exactly: states,
        parameters and distributions, values, intermediate values, user and system attributes,
        constraints, fail reasons and times. Continue it with tv.load_study. Raises
        tv.exceptions.DuplicateStudyError when storage has a study of that name. Running trials
        are copied as running; no process beats for them there, so they are declared lost after
        the storage's heartbeat grace."""
        copy_study(self._core, self._objective_names, self._encoded_user_attrs(), storage, name)

    def __reduce__(self) -> tuple[Any, ...]:
        """A study pickles (and copies) as what makes it again: one in memory with its trials, a
        stored one as its storage's URL, without the password (libpq then reads PGPASSWORD or
        ~/.pgpass), so the copy reconnects to the same stored study."""
        parts = (type(self), self.study_name, self.sampler, self.pruner, self.constraints)
        if self.storage is None or self._record is None:
            return in_memory, (*parts, self.directions, self._objective_names, self._user_attrs, self._core.trials)
        return reconnected, (*parts, without_password(self.storage.url))

    # -- running ---------------------------------------------------------------------------------

    def optimize(
        self,
        objective: Callable[[Trial], Any],
        n_trials: int | None = None,
        timeout: float | None = None,
        *,
        n_jobs: int = 1,
        catch: type[BaseException] | Iterable[type[BaseException]] = (),
        callbacks: Sequence[Callable[[Study, FrozenTrial], None]] = (),
        progress: bool = False,
        executor: Any = "thread",
    ) -> None:
        """Runs objective(trial) for new trials until n_trials have run, the timeout has passed, or
        the run is stopped (study.stop(), Ctrl-C). With both None it runs until stopped.

        Args:
            objective: returns a number, or a sequence with one number per direction; raising
                tv.TrialPruned ends the trial as pruned.
            n_trials: trials to run; None for no limit.
            timeout: seconds after which no trial starts; running trials are not interrupted.
            n_jobs: worker threads, 1 to 1024; -1 for one per CPU. Objectives that release the
                interpreter lock (I/O, numerical libraries) overlap; pure-Python ones take turns.
            catch: exception types that fail their trial with a warning while the run goes on.
                Any other exception fails its trial, stops the run (running trials finish) and is
                raised from optimize. The failure reason stays on the trial either way.
            callbacks: each called as callback(study, trial) after every finished trial; an
                exception there stops the run and is raised.
            progress: show a progress bar (needs the "progress" extra, tqdm).
            executor: "thread" (n_jobs threads here), "process" (n_jobs worker processes; the
                "process" extra) or a dask.distributed.Client (n_jobs trials at a time on its
                cluster; the "dask" extra). The study stays here and answers the workers' trials;
                one whose worker dies fails (tv.exceptions.WorkerLostError), the run goes on.

        Ctrl-C: with one job in this process it interrupts the running objective at once (that
        trial fails, "interrupted"); otherwise no trial starts and the running ones finish, and
        with processes or Dask a second Ctrl-C cancels them (they fail). Either way
        KeyboardInterrupt leaves optimize and every finished trial is kept.
        """
        n_jobs = check_run_args(objective, n_trials, timeout, n_jobs, callbacks)
        remote = open_executor(executor, objective, n_jobs)
        run = Run(
            self._core,
            self.storage,
            with_constraints(objective, self.constraints),
            n_trials,
            timeout,
            check_catch(catch),
            callbacks,
            self,
            progress,
            remote,
        )
        try:
            run.execute(n_trials, None if timeout is None else float(timeout), n_jobs)
        finally:
            if remote is not None:
                remote.close()

    def stop(self) -> None:
        """Stops the run in progress from starting trials (from a callback, say); running trials finish."""
        self._core.stop()

    def ask(self) -> Trial:
        """A new running trial for a loop you drive yourself; finish it with tell."""
        trial: Trial = self._core.ask(Trial)
        trial._directions = tuple(self._core.directions)
        with self._asked_lock:
            self._asked[trial.number] = trial
        return trial

    def tell(
        self, trial: Trial | int, values: float | Sequence[float] | None = None, *, state: TrialState | None = None
    ) -> None:
        """Finishes an asked trial (given as itself or by number): Complete with its value (one per
        direction), or state=TrialState.Pruned or TrialState.Failed without values."""
        number = trial if type(trial) is int else getattr(trial, "number", None)
        if type(number) is not int:
            raise TypeError(f"tell: trial must be a tv.Trial or a trial number, got {trial!r}")
        if state is None:
            if values is None:
                raise ValueError("tell: give the values of a completed trial, or state=TrialState.Pruned or Failed")
            state = TrialState.Complete
        if not isinstance(state, TrialState) or state == TrialState.Running:
            raise ValueError(f"tell: state must be TrialState.Complete, Pruned or Failed, got {state!r}")
        if state == TrialState.Complete:
            if values is None:
                raise ValueError("tell: a completed trial needs its values")
            result = objective_values(values, len(self.directions), "tell")
            values = [result] if isinstance(result, (int, float)) else result
        elif values is not None:
            raise ValueError("tell: a pruned or failed trial has no values")
        with self._asked_lock:
            asked = self._asked.pop(number, None)
        if asked is None:
            raise ValueError(f"tell: trial {number} is not running in this study: it was told already, or never asked")
        try:
            if state == TrialState.Complete and self.constraints is not None:
                asked.constraints = constraint_values(self.constraints(asked))
            self._core.tell(asked, state, values or [])
        except BaseException:
            with self._asked_lock:
                self._asked[number] = asked
            raise

    def enqueue_trial(self, params: Mapping[str, Any]) -> None:
        """Fixes parameter values for the next trial to start: it gets them from its suggest calls
        (not held to the bounds or choices); the parameters it does not list are sampled. In a
        database study the values are kept in the database, and the next trial of whichever
        process starts one first takes them, once."""
        self._core.enqueue_trial(encode_params(params, "enqueue_trial"))

    def add_trial(self, params: Mapping[str, Any], values: float | Sequence[float]) -> None:
        """Records a trial evaluated elsewhere as completed."""
        result = objective_values(values, len(self.directions), "add_trial")
        self._core.add_trial(
            encode_params(params, "add_trial"), [result] if isinstance(result, (int, float)) else result
        )

    # -- results ---------------------------------------------------------------------------------

    @property
    def trials(self) -> list[FrozenTrial]:
        """Every finished trial, by number; with a database storage, the running ones of every
        process too (state Running, with the parameters suggested so far)."""
        return [FrozenTrial(t) for t in self._core.trials]

    def get_trials(self, states: TrialState | Iterable[TrialState] | None = None) -> list[FrozenTrial]:
        """The trials, only those in states when given."""
        if states is None:
            return self.trials
        wanted = {states} if isinstance(states, TrialState) else set(states)
        return [FrozenTrial(t) for t in self._core.trials if t.state in wanted]

    @property
    def best_trial(self) -> FrozenTrial:
        """The feasible completed trial with the best value (the earliest on ties)."""
        self._single_objective("best_trial")
        return FrozenTrial(self._core.best_trial)

    @property
    def best_value(self) -> float:
        """The best trial's value."""
        self._single_objective("best_value")
        return self._core.best_value

    @property
    def best_params(self) -> dict[str, Any]:
        """The best trial's parameters, in the order it got them."""
        self._single_objective("best_params")
        return decode_params(self._core.best_params)

    @property
    def best_trials(self) -> list[FrozenTrial]:
        """The Pareto front: the feasible completed trials that no other one dominates; empty
        while there is none."""
        return [FrozenTrial(t) for t in self._core.pareto_front]

    def _single_objective(self, what: str) -> None:
        if len(self._core.directions) > 1:
            raise RuntimeError(
                f"{what} is for single-objective studies; this one has {len(self._core.directions)} "
                "objectives: use best_trials for its Pareto front"
            )

    def columns(self, *, intermediate_values: bool = False) -> dict[str, list[Any]]:
        """The trials as columns, each a list: number, state, value (or values_0, ... or, with
        objective_names, values_NAME), constraints_0, ... (in a study with constraints),
        params_NAME, datetime_start and datetime_complete (local time, nanoseconds),
        user_attrs_KEY and fail_reason, and with intermediate_values the learning curves (a dict
        {step: value} per trial); read straight from the core, without a Python object per trial."""
        if type(intermediate_values) is not bool:
            raise TypeError(f"intermediate_values must be True or False, got {intermediate_values!r}")
        columns: dict[str, list[Any]] = self._core.table(decode_text, intermediate=intermediate_values)
        if self._objective_names is not None and len(self._objective_names) > 1:
            columns = {named_column(k, self._objective_names): v for k, v in columns.items()}
        return columns

    def to_dataframe(self, *, intermediate_values: bool = False) -> Any:
        """One row per finished trial (pandas, the "dataframe" extra): number, state, value (or
        values_0, values_1, ... or values_<objective name>), constraints_0, ... in a study with
        constraints, params_<name> for every parameter with its own type, datetimes, duration,
        user_attrs_<key> and fail_reason; with intermediate_values, an intermediate_values column
        holding each trial's reports as a dict {step: value}."""
        from ._dataframe import to_dataframe

        return to_dataframe(self.columns(intermediate_values=intermediate_values))

    def report(self, path: str, *, title: str | None = None) -> None:
        """Writes a self-contained HTML report of the study to path: summary, charts, parameter
        importances and a sortable table of trials (see tarvex.report.write_report)."""
        from .report import write_report

        write_report(self, path, title=title)

    def __repr__(self) -> str:
        shown = "/".join(d.name.lower() for d in self.directions)
        if self.storage is not None:
            shown += f" in {self.storage.url}"
        text = f"<tarvex.Study {self.study_name!r} {shown}: {self._core.n_trials} trials"
        if len(self.directions) == 1:
            try:
                best = self._core.best_value
            except RuntimeError:  # nothing completed yet
                return text + ">"
            text += f", best value {best:.6g}" if not math.isnan(best) else ", best value nan"
        return text + ">"
