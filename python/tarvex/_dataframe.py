"""A study's trials as a pandas table."""

from __future__ import annotations

from typing import TYPE_CHECKING

from ._extras import require

if TYPE_CHECKING:
    from ._study import Study


def to_dataframe(study: Study):
    pandas = require("pandas", "dataframe", "to_dataframe")
    n_directions = len(study.directions)
    rows = []
    for trial in study.trials:
        row = {"number": trial.number, "state": trial.state.name}
        if n_directions == 1:
            row["value"] = trial.values[0] if trial.values else float("nan")
        else:
            for i in range(n_directions):
                row[f"values_{i}"] = trial.values[i] if trial.values else float("nan")
        row.update({f"params_{k}": v for k, v in trial.params.items()})
        row["datetime_start"] = trial.datetime_start
        row["datetime_complete"] = trial.datetime_complete
        row["duration"] = trial.duration
        row.update({f"user_attrs_{k}": v for k, v in trial.user_attrs.items()})
        row["fail_reason"] = trial.fail_reason
        rows.append(row)
    fixed = ["number", "state", "value"] if n_directions == 1 else ["number", "state"] + [
        f"values_{i}" for i in range(n_directions)]
    frame = pandas.DataFrame(rows, columns=_columns(rows, fixed))
    for column in ("datetime_start", "datetime_complete"):
        frame[column] = pandas.to_datetime(frame[column])
    frame["duration"] = pandas.to_timedelta(frame["duration"])
    return frame


def _columns(rows: list[dict], fixed: list[str]) -> list[str]:
    """The fixed columns, then the parameters and user attributes in order of first appearance."""
    seen = dict.fromkeys(fixed)
    for row in rows:
        seen.update(dict.fromkeys(k for k in row if k.startswith("params_")))
    seen.update(dict.fromkeys(["datetime_start", "datetime_complete", "duration"]))
    for row in rows:
        seen.update(dict.fromkeys(k for k in row if k.startswith("user_attrs_")))
    seen["fail_reason"] = None
    return list(seen)
