"""The dashboard's trial table, paged and sorted on the server so that a page of a study of any
size costs the same to send and to show, and one trial's full record."""

from __future__ import annotations

import math
from typing import Any

from .._values import decode_attrs, decode_params, decode_text
from ..report._table import trial_table
from ._watch import Snapshot

PER_PAGE = 50
MAX_PER_PAGE = 500
_RANK_VALUE, _RANK_NAN, _RANK_NONE = 0, 1, 2  # missing cells last, whichever the direction


def table(snapshot: Snapshot) -> dict[str, Any]:
    """The columns and cells of every trial, as the report's table has them, with the number of
    reports and the last reported value in place of the learning curves."""

    def make() -> dict[str, Any]:
        columns = dict(snapshot.table)
        curves = columns.pop("intermediate_values")
        reason = columns.pop("fail_reason")
        columns["reports"] = [len(c) for c in curves]
        columns["last_report"] = [c[max(c)] if c else None for c in curves]
        columns["fail_reason"] = reason
        return trial_table(columns)

    return snapshot.once("table_cells", make)


def _key(kind: str, value: Any) -> tuple[int, Any]:
    if value is None:
        return (_RANK_NONE, 0)
    if kind == "text":
        return (_RANK_VALUE, value)
    if isinstance(value, str):  # a number that is not finite, as the table writes it
        return (_RANK_NAN, 0) if value == "NaN" else (_RANK_VALUE, math.inf if value == "Infinity" else -math.inf)
    return (_RANK_VALUE, value)


def order(snapshot: Snapshot, column: int, descending: bool) -> list[int]:
    """The rows sorted by a column, ties by trial number; missing cells and NaN after the rest."""

    def make() -> list[int]:
        data = table(snapshot)
        kind, cells = data["columns"][column][1], data["cells"][column]
        keyed = [(_key(kind, v), i) for i, v in enumerate(cells)]
        present = [k for k in keyed if k[0][0] == _RANK_VALUE]
        present.sort(key=lambda k: k[0][1], reverse=descending)  # stable: ties keep trial order
        rest = sorted((k for k in keyed if k[0][0] != _RANK_VALUE), key=lambda k: (k[0][0], k[1]))
        return [i for _, i in present] + [i for _, i in rest]

    return snapshot.once(f"order:{column}:{descending}", make)


def page(snapshot: Snapshot, sort: str | None, descending: bool, number: int, per_page: int) -> dict[str, Any]:
    """One page of the table, sorted by the column named sort (trial number when None)."""
    data = table(snapshot)
    names = [c[0] for c in data["columns"]]
    if sort is not None and sort not in names:
        raise ValueError(f"sort must name a column of the table ({', '.join(names)}), got {sort!r}")
    if not 1 <= per_page <= MAX_PER_PAGE:
        raise ValueError(f"per_page must be from 1 to {MAX_PER_PAGE}, got {per_page}")
    n = len(data["cells"][0]) if data["cells"] else 0
    pages = max(1, math.ceil(n / per_page))
    number = min(max(number, 0), pages - 1)
    if sort is None or (sort == "number" and not descending):
        rows = range(number * per_page, min(n, (number + 1) * per_page))
    else:
        rows = order(snapshot, names.index(sort), descending)[number * per_page : (number + 1) * per_page]  # type: ignore[assignment]
    cells = data["cells"]
    return {
        "version": snapshot.version,
        "columns": data["columns"],
        "rows": [[column[i] for column in cells] for i in rows],
        "total": n,
        "page": number,
        "pages": pages,
        "per_page": per_page,
        "sort": sort or "number",
        "descending": descending,
    }


def trial_record(snapshot: Snapshot, number: int) -> dict[str, Any] | None:
    """Everything stored of one trial, or None when the study has no trial of that number."""
    found = [t for t in snapshot.core_trials[number : number + 1] if t.number == number]
    if not found:
        found = [t for t in snapshot.core_trials if t.number == number]
    if not found:
        return None
    t = found[0]
    end = t.datetime_complete if t.state.name != "Running" else None
    return {
        "number": t.number,
        "state": t.state.name,
        "values": list(t.values),
        "constraints": list(t.constraints),
        "params": decode_params(t.params),
        "distributions": {name: _shown_distribution(d) for name, d in t.distributions.items()},
        "intermediate_values": [[step, value] for step, value in t.intermediate_values],
        "user_attrs": decode_attrs(t.user_attrs),
        "system_attrs": dict(t.system_attrs),
        "fail_reason": t.fail_reason,
        "datetime_start": t.datetime_start.isoformat(sep=" ", timespec="seconds"),
        "datetime_complete": None if end is None else end.isoformat(sep=" ", timespec="seconds"),
        "duration": None if end is None else (end - t.datetime_start).total_seconds(),
    }


def _shown_distribution(distribution: dict[str, Any]) -> dict[str, Any]:
    """A distribution with its choices as the objective gave them, not as stored texts."""
    if "choices" in distribution:
        return {**distribution, "choices": [decode_text(c) for c in distribution["choices"]]}
    return distribution
