"""A study's trials as a pandas table."""

from __future__ import annotations

from typing import Any

from ._extras import require


def to_dataframe(table: dict[str, list[Any]]) -> Any:
    """The study's columns (Study.columns) as a pandas DataFrame with typed columns."""
    pandas = require("pandas", "dataframe", "to_dataframe")
    frame = pandas.DataFrame(table)
    for column in frame.columns:
        if column == "value" or column.startswith(("values_", "constraints_")):
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


def named_column(column: str, names: list[str]) -> str:
    """values_K as values_<name of objective K>; any other column as it is."""
    prefix, _, index = column.partition("_")
    if prefix == "values" and index.isdigit() and int(index) < len(names):
        return f"values_{names[int(index)]}"
    return column
