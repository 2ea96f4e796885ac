"""A study's trials as flat records, one per trial: the rows of every table the package writes."""

from __future__ import annotations

import collections
from collections.abc import Sequence
from typing import TYPE_CHECKING, Any

if TYPE_CHECKING:
    from ._trial import FrozenTrial
    from ._types import StudyView


def trial_records(study: StudyView) -> tuple[list[str], list[dict[str, Any]]]:
    """The columns and one record per trial: number, state, value (values_0, values_1, ... for
    several objectives), params_<name>, datetime_start, datetime_complete, duration,
    user_attrs_<key> and fail_reason. A value a trial does not have is None."""
    n_directions = len(study.directions)
    value_columns = ["value"] if n_directions == 1 else [f"values_{i}" for i in range(n_directions)]
    rows = []
    for trial in study.trials:
        row: dict[str, Any] = {"number": trial.number, "state": trial.state.name}
        values = trial.values
        row.update({c: values[i] if values else None for i, c in enumerate(value_columns)})
        row.update({f"params_{k}": v for k, v in trial.params.items()})
        row["datetime_start"] = trial.datetime_start
        row["datetime_complete"] = trial.datetime_complete
        row["duration"] = trial.duration
        row.update({f"user_attrs_{k}": v for k, v in trial.user_attrs.items()})
        row["fail_reason"] = trial.fail_reason
        rows.append(row)
    return _columns(rows, ["number", "state"] + value_columns), rows


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
    return list(seen)
