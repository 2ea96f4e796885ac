"""A study's trials as a pandas table."""

from __future__ import annotations

from typing import TYPE_CHECKING

from ._extras import require
from ._records import trial_records

if TYPE_CHECKING:
    from ._study import Study


def to_dataframe(study: Study):
    pandas = require("pandas", "dataframe", "to_dataframe")
    columns, rows = trial_records(study)
    frame = pandas.DataFrame(rows, columns=columns)
    for column in columns:
        if column == "value" or column.startswith("values_"):
            frame[column] = frame[column].astype(float)  # None (no value) as NaN
    for column in ("datetime_start", "datetime_complete"):
        frame[column] = pandas.to_datetime(frame[column])
    frame["duration"] = pandas.to_timedelta(frame["duration"])
    return frame
