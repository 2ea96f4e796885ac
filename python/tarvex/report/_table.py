"""The report's table of trials as data for the page's script, which shows it a page at a time
and sorts it by any column: every trial is in the report, however many there are."""

from __future__ import annotations

import math
from typing import Any

ROWS_PER_PAGE = 100
_TIME_COLUMNS = ("datetime_start", "datetime_complete")


def trial_table(table: dict[str, list[Any]]) -> dict[str, Any]:
    """The study's columns (Study.table) as {"columns": [[name, kind], ...], "cells": [column,
    ...], "rows_per_page": n}: each column a list of cells, by kind: "number" (a number, null, or
    "NaN"/"Infinity"/"-Infinity"), "text", "time" (milliseconds of local time) or "seconds" (a
    duration)."""
    columns: list[list[str]] = []
    cells: list[list[Any]] = []
    for name, column in table.items():
        if name in _TIME_COLUMNS:
            columns.append([name, "time"])
            cells.append([None if ns is None else ns / 1e6 for ns in column])
            if name == "datetime_complete":
                starts, ends = table["datetime_start"], column
                columns.append(["duration", "seconds"])
                cells.append([None if e is None else (e - s) / 1e9 for s, e in zip(starts, ends)])
            continue
        if name == "value" or name.startswith("values_"):  # None where a trial has no value, NaN where it is NaN
            columns.append([name, "number"])
            cells.append([_number(v) for v in column])
            continue
        numeric = all(_is_missing(v) or (isinstance(v, (int, float)) and not isinstance(v, bool)) for v in column)
        columns.append([name, "number" if numeric and name != "state" else "text"])
        cells.append([None if _is_missing(v) else _number(v) if numeric else str(v) for v in column])
    return {"columns": columns, "cells": cells, "rows_per_page": ROWS_PER_PAGE}


def _is_missing(value: Any) -> bool:
    # The table marks a parameter or attribute a trial does not have with NaN, as pandas does.
    return value is None or (type(value) is float and math.isnan(value))


def _number(value: Any) -> Any:
    if value is None:
        return None
    if isinstance(value, float) and not math.isfinite(value):
        return "NaN" if math.isnan(value) else ("Infinity" if value > 0 else "-Infinity")
    return value
