"""A timeline of trials: when each ran, on which worker, and how it ended."""

from __future__ import annotations

import datetime
import heapq
from collections.abc import Iterable
from dataclasses import dataclass
from typing import TYPE_CHECKING, Any

from ._common import STATE_COLOURS, pyplot

if TYPE_CHECKING:
    from .._study import Study


@dataclass(frozen=True)
class Span:
    number: int
    state: str
    start: Any  # a datetime.datetime, or as lanes was given
    end: Any
    lane: int


def spans(study: Study, where: str, now: datetime.datetime | None = None) -> list[Span]:
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


def plot_timeline(study: Study) -> Any:
    """Each trial as a bar from its start to its end (now for a running one), one row per worker,
    coloured by state: how well n_jobs or several processes kept busy. Returns an Axes."""
    where = "plot_timeline"
    plt = pyplot(where)
    import matplotlib.dates as mdates

    runs = spans(study, where)
    fig, ax = plt.subplots(figsize=(7.2, 1.2 + 0.4 * (1 + max(s.lane for s in runs))))
    labelled = set()
    for s in runs:
        start = mdates.date2num(s.start)
        width = mdates.date2num(s.end) - start
        ax.barh(
            s.lane,
            width,
            left=start,
            height=0.8,
            color=STATE_COLOURS[s.state],
            label=None if s.state in labelled else s.state,
        )
        labelled.add(s.state)
    ax.xaxis_date()
    ax.set_yticks(sorted({s.lane for s in runs}))
    ax.set_ylabel("Worker")
    ax.set_xlabel("Time")
    ax.set_title("Timeline")
    ax.legend(loc="best", fontsize=8)
    fig.autofmt_xdate()
    return ax
