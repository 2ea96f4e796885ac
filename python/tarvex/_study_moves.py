"""Studies that move: copied into a storage, pickled and copied, with every trial as it is."""

from __future__ import annotations

import re
from collections.abc import Mapping, Sequence
from typing import Any

import _tarvex

from ._custom_sampler import core_sampler
from ._storage import DatabaseStorage, check_name, open_storage


def copy_study(
    core: _tarvex.Study,
    objective_names: Sequence[str] | None,
    user_attrs: Mapping[str, str],
    storage: str | DatabaseStorage,
    name: str,
) -> None:
    """Stores a new study called name in storage with core's directions, the objective names, the
    (encoded) user attributes and a copy of each of core's trials, in order, so that the copies
    keep their numbers. A study of that name there already is an error (DuplicateStudyError);
    so is a study copied onto itself."""
    db = open_storage(storage, "copy_to", create=True)
    record = db.create_study(check_name(name, "copy_to"), core.directions, objective_names=list(objective_names or []))
    try:
        for key, value in user_attrs.items():
            db.set_study_user_attr(record, key, value)
        target = _tarvex.Study.in_storage(db, record, _tarvex.RandomSampler(), None)
        for trial in core.trials:
            target.copy_trial(trial)
    except BaseException:
        db.delete_study(record.name)  # no half copy is left behind
        raise


def in_memory(
    cls: Any,
    name: str,
    sampler: Any,
    pruner: Any,
    constraints: Any,
    directions: list[_tarvex.StudyDirection],
    objective_names: list[str] | None,
    user_attrs: dict[str, str],
    trials: list[_tarvex.Trial],
) -> Any:
    """A study in memory made again from its parts: its trials copied exactly."""
    core = _tarvex.Study(directions, core_sampler(sampler), pruner)
    for trial in trials:
        core.copy_trial(trial)
    study = cls(core, name, sampler, pruner, constraints=constraints, objective_names=objective_names)
    study._user_attrs = dict(user_attrs)
    return study


def reconnected(cls: Any, name: str, sampler: Any, pruner: Any, constraints: Any, url: str) -> Any:
    """The stored study of that name, opened again by URL."""
    db = DatabaseStorage(url)
    record = db.load_study(name)
    core = _tarvex.Study.in_storage(db, record, core_sampler(sampler), pruner)
    names = list(record.objective_names) or None
    return cls(core, name, sampler, pruner, db, constraints=constraints, objective_names=names, record=record)


def without_password(url: str) -> str:
    """The URL as a storage shows it, its hidden password (***) left out altogether."""
    url = url.replace(":***@", "@", 1)
    return re.sub(r"([?&])password=\*\*\*(&|$)", lambda m: m.group(1) if m.group(2) else "", url).rstrip("?&")
