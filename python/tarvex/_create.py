"""Making and finding studies: create_study and load_study."""

from __future__ import annotations

import uuid
from collections.abc import Sequence
from typing import Any

import _tarvex

from ._constraints import ConstraintsFunc, check_constraints
from ._custom_sampler import CustomSampler, core_sampler
from ._directions import StudyDirection, parse_direction
from ._samplers import RandomSampler
from ._storage import DatabaseStorage, check_name, find_study, open_storage
from ._study import Study
from ._values import check_text
from .exceptions import DuplicateStudyError


def create_study(
    direction: str | StudyDirection = "minimize",
    *,
    directions: Sequence[str | StudyDirection] | None = None,
    sampler: _tarvex.ISampler | CustomSampler | None = None,
    pruner: _tarvex.IPruner | None = None,
    storage: str | DatabaseStorage | None = None,
    study_name: str | None = None,
    load_if_exists: bool = False,
    constraints: ConstraintsFunc | None = None,
    objective_names: Sequence[str] | None = None,
) -> Study:
    """A new study.

    Args:
        direction: "minimize" or "maximize" (any case), or a tv.StudyDirection.
        directions: one direction per objective value, for a multi-objective study (instead of direction).
        sampler: where values come from; tv.RandomSampler() when None. tv.GPSampler() for expensive objectives.
        pruner: tv.MedianPruner(), tv.HyperbandPruner(), or None for no pruning.
        storage: None keeps the study in this process's memory. A database keeps it by name for
            later runs and for other processes and hosts running it at once: a URL,
            "sqlite:///path.db" (one host) or "postgresql://user@host:port/database" (many), or a
            tv.DatabaseStorage.
        study_name: the study's name; one is made up when None.
        load_if_exists: continue a stored study of that name (its directions must be the same)
            instead of raising ValueError.
        constraints: constraints(trial) -> a sequence of floats, called once the objective of a
            trial has returned; the trial is feasible when every value is <= 0. The values are
            stored with the trial; best_trial, best_value, best_params and best_trials consider
            feasible trials only, and the samplers that can (TPE, CMA-ES, GP, the multi-objective
            ones) steer towards feasible configurations.
        objective_names: one distinct name per direction ("error", "latency_ms"), stored with the
            study and used by tables, plots, the report and the command line.
    """
    if directions is None:
        parsed = [parse_direction(direction)]
    else:
        if direction != "minimize":
            raise ValueError("give direction or directions, not both")
        if isinstance(directions, (str, StudyDirection)) or not isinstance(directions, Sequence) or not directions:
            raise ValueError(f"directions must be a non-empty list of directions, got {directions!r}")
        parsed = [parse_direction(d) for d in directions]
    if study_name is not None:
        check_name(study_name, "create_study")
    if type(load_if_exists) is not bool:
        raise TypeError(f"load_if_exists must be True or False, got {load_if_exists!r}")
    sampler, pruner = _checked(sampler, pruner)
    constraints = _constraints_of(constraints, sampler)
    names = _objective_names(objective_names, len(parsed))
    if storage is None:
        core = _tarvex.Study(parsed, core_sampler(sampler), pruner)
        name = study_name if study_name is not None else f"study-{core.study_id}"
        return Study(core, name, sampler, pruner, constraints=constraints, objective_names=names)

    db = open_storage(storage, "create_study", create=True)
    name = study_name if study_name is not None else f"study-{uuid.uuid4().hex[:12]}"
    try:
        record = db.create_study(name, parsed, objective_names=names or [])
    except _tarvex.DuplicateStudyError:
        if not load_if_exists:
            raise DuplicateStudyError(
                f"a study named {_shown(name)} already exists in {db.url}; "
                "pass load_if_exists=True to continue it, or use tv.load_study"
            ) from None
        record = find_study(db, name)
        if list(record.directions) != parsed:

            def shown(ds: Sequence[StudyDirection]) -> str:
                return "/".join(d.name.lower() for d in ds)

            raise ValueError(
                f"study {_shown(name)} in {db.url} is {shown(record.directions)}; "
                f"create_study asked for {shown(parsed)}"
            ) from None
    return study_in_storage(db, record, sampler, pruner, constraints)


def load_study(
    *,
    study_name: str,
    storage: str | DatabaseStorage,
    sampler: _tarvex.ISampler | CustomSampler | None = None,
    pruner: _tarvex.IPruner | None = None,
    constraints: ConstraintsFunc | None = None,
) -> Study:
    """The stored study of that name, continued where it stopped: its trials are read from the
    storage, new ones are written there. Raises tv.exceptions.StudyNotFoundError (a KeyError)
    when there is none.

    Args:
        study_name: the study's name.
        storage: a URL (sqlite:///path.db, postgresql://user@host:port/database) or a tv.DatabaseStorage.
        sampler, pruner: as for tv.create_study; they learn from the stored trials.
        constraints: as for tv.create_study, for the trials run from here; stored trials keep
            the constraint values they were stored with.
    """
    db = open_storage(storage, "load_study")
    return study_in_storage(db, find_study(db, check_name(study_name, "load_study")), sampler, pruner, constraints)


def study_in_storage(
    db: DatabaseStorage,
    record: _tarvex.StudyRecord,
    sampler: _tarvex.ISampler | CustomSampler | None,
    pruner: _tarvex.IPruner | None,
    constraints: ConstraintsFunc | None = None,
) -> Study:
    sampler, pruner = _checked(sampler, pruner)
    constraints = _constraints_of(constraints, sampler)
    core = _tarvex.Study.in_storage(db, record, core_sampler(sampler), pruner)
    names = list(record.objective_names) or None
    return Study(core, record.name, sampler, pruner, db, constraints=constraints, objective_names=names, record=record)


def _constraints_of(constraints: Any, sampler: Any) -> ConstraintsFunc | None:
    """The study's constraints: those given, or the sampler's; both, unless the same, is an error."""
    check_constraints(constraints)
    of_sampler = getattr(sampler, "constraints", None)
    if constraints is not None and of_sampler is not None and constraints is not of_sampler:
        raise ValueError("constraints were given both to the study and to its sampler; give them to one")
    return constraints if constraints is not None else of_sampler


def _objective_names(names: Any, n_directions: int) -> list[str] | None:
    if names is None:
        return None
    if isinstance(names, str) or not isinstance(names, Sequence) or not all(isinstance(n, str) for n in names):
        raise TypeError(f"objective_names must be a list of str, one per direction, got {names!r}")
    if len(names) != n_directions:
        raise ValueError(
            f"objective_names has {len(names)} names but the study has {n_directions} directions; "
            "give one name per direction"
        )
    if len(set(names)) != len(names):
        raise ValueError(f"objective_names must be distinct, got {list(names)!r}")
    for n in names:
        check_text(n, "create_study: an objective name")
    return list(names)


def _shown(name: str) -> str:
    text = repr(name)
    return text if len(text) <= 80 else text[:77] + "..."


def _checked(sampler: Any, pruner: Any) -> tuple[_tarvex.ISampler | CustomSampler, _tarvex.IPruner | None]:
    if sampler is None:
        sampler = RandomSampler()
    core_sampler(sampler)  # checks its type
    if pruner is not None and not isinstance(pruner, _tarvex.IPruner):
        raise TypeError(f"pruner must be a tarvex pruner such as tv.MedianPruner(), or None, got {pruner!r}")
    return sampler, pruner
