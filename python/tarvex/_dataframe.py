"""A study's trials as a pandas table."""

from __future__ import annotations

from typing import TYPE_CHECKING

from ._extras import require
from ._values import decode_text

if TYPE_CHECKING:
    from ._study import Study


def to_dataframe(study: Study):
    pandas = require("pandas", "dataframe", "to_dataframe")
    # Columns straight from the core: no Python object per trial on the way.
    table = study._core.table(decode_text)
    frame = pandas.DataFrame(table)
    for column in frame.columns:
        if column == "value" or column.startswith("values_"):
            frame[column] = frame[column].astype(float)
    numpy = require("numpy", "dataframe", "to_dataframe")
    not_a_time = numpy.iinfo(numpy.int64).min  # numpy's NaT: a running trial has no end
    for column in ("datetime_start", "datetime_complete"):
        ns = numpy.array([not_a_time if v is None else v for v in table[column]], dtype=numpy.int64)
        frame[column] = ns.view("datetime64[ns]")
    frame.insert(
        frame.columns.get_loc("datetime_complete") + 1, "duration", frame["datetime_complete"] - frame["datetime_start"]
    )
    return frame
