"""A study's trials as flat records, one per trial: the rows of every table the package writes."""

from __future__ import annotations

import collections
from collections.abc import Sequence
from typing import TYPE_CHECKING, Any

if TYPE_CHECKING:
    from ._trial import FrozenTrial
    from ._types import StudyView


def trial_records(study: StudyView, intermediate_values: bool = False) -> tuple[list[str], list[dict[str, Any]]]:
    """The columns and one record per trial: number, state, value (values_0, values_1, ... or
    values_<objective name> for several objectives), constraints_0, ... (when trials have
    constraints), params_<name>, datetime_start, datetime_complete, duration, user_attrs_<key>
    and fail_reason, and with intermediate_values the trial's reports ({step: value}). A value a
    trial does not have is None."""
    value_columns = ["value"] if len(study.directions) == 1 else [f"values_{n}" for n in objective_labels(study)]
    rows = []
    n_constraints = 0
    for trial in study.trials:
        row: dict[str, Any] = {"number": trial.number, "state": trial.state.name}
        values = trial.values
        row.update({c: values[i] if values else None for i, c in enumerate(value_columns)})
        constraints = trial.constraints
        row.update({f"constraints_{i}": c for i, c in enumerate(constraints)})
        n_constraints = max(n_constraints, len(constraints))
        row.update({f"params_{k}": v for k, v in trial.params.items()})
        row["datetime_start"] = trial.datetime_start
        row["datetime_complete"] = trial.datetime_complete
        row["duration"] = trial.duration
        row.update({f"user_attrs_{k}": v for k, v in trial.user_attrs.items()})
        row["fail_reason"] = trial.fail_reason
        if intermediate_values:
            row["intermediate_values"] = dict(trial.intermediate_values)
        rows.append(row)
    constraint_columns = [f"constraints_{i}" for i in range(n_constraints)]
    return _columns(rows, ["number", "state"] + value_columns + constraint_columns), rows


def objective_labels(study: StudyView) -> list[str]:
    """What tables and plots call the objectives: their names where the study has them (a
    tv.Study made with objective_names), else 0, 1, ..."""
    names = getattr(study, "objective_names", None)
    return list(names) if names else [str(i) for i in range(len(study.directions))]


def state_counts(trials: Sequence[FrozenTrial]) -> dict[str, int]:
    """How many trials are in each state, by state name, in order of first appearance."""
    return dict(collections.Counter(t.state.name for t in trials))


def counts_text(trials: Sequence[FrozenTrial]) -> str:
    """For instance "8 complete, 2 pruned"."""
    return ", ".join(f"{n} {state.lower()}" for state, n in state_counts(trials).items())


def _columns(rows: list[dict[str, Any]], fixed: list[str]) -> list[str]:
    """The fixed columns, then the parameters and user attributes in order of first appearance."""
    seen = dict.fromkeys(fixed)
    for row in rows:
        seen.update(dict.fromkeys(k for k in row if k.startswith("params_")))
    seen.update(dict.fromkeys(["datetime_start", "datetime_complete", "duration"]))
    for row in rows:
        seen.update(dict.fromkeys(k for k in row if k.startswith("user_attrs_")))
    seen["fail_reason"] = None
    if rows and "intermediate_values" in rows[0]:
        seen["intermediate_values"] = None
    return list(seen)
