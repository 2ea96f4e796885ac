"""When each trial ran, on which worker, and how it ended."""

from __future__ import annotations

import datetime
import heapq
from collections.abc import Iterable
from dataclasses import dataclass
from typing import TYPE_CHECKING, Any

if TYPE_CHECKING:
    from .._types import StudyView


@dataclass(frozen=True)
class Span:
    number: int
    state: str
    start: Any  # a datetime.datetime, or as lanes was given
    end: Any
    lane: int


def spans(study: StudyView, where: str, now: datetime.datetime | None = None) -> list[Span]:
    """Every trial's run, each on a lane. Trials do not record their worker, so lanes are
    reconstructed from the times: a trial takes the lowest lane free when it starts. Trials that
    overlap are never on one lane, and as many lanes are used as trials ran at once, which is how
    many workers were busy."""
    trials = study.trials
    if not trials:
        raise ValueError(f"{where}: the study has no trials")
    now = now or datetime.datetime.now()
    return lanes((t.datetime_start, t.datetime_complete or now, t.number, t.state.name) for t in trials)


def lanes(runs: Iterable[tuple[Any, Any, int, str]]) -> list[Span]:
    """Spans of runs given as (start, end, number, state), their times of any one comparable kind."""
    free: list[int] = []
    busy: list[tuple[Any, int]] = []  # (end, lane)
    out = []
    for start, end, number, state in sorted(runs):
        while busy and busy[0][0] <= start:
            heapq.heappush(free, heapq.heappop(busy)[1])
        lane = heapq.heappop(free) if free else len(busy)
        end = end if end > start else start
        heapq.heappush(busy, (end, lane))
        out.append(Span(number, state, start, end, lane))
    return out
