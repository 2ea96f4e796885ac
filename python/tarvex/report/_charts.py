"""The report's charts over the trials (history, intermediate values, Pareto front, timeline), the
limits every chart draws within, and the note of a subset: the data the matplotlib plots draw,
as interactive plotly figures. Each chart of a large study draws a representative subset of its
trials and says so."""

from __future__ import annotations

import datetime
from typing import Any

from .._plotdata.common import STATE_COLOURS
from .._plotdata.history import history_series
from .._plotdata.hypervolume import default_reference, hypervolume_series
from .._plotdata.pareto import pareto
from .._plotdata.timeline import lanes
from ._sample import TrialsView, representative, shown_note

LAYOUT = {"template": "plotly_white", "margin": {"l": 60, "r": 30, "t": 50, "b": 50}, "height": 420}
MAX_CONTOUR_PARAMS = 4
# The most of a study each chart draws: points, lines or curves.
# (Measured: a page of 100,000 trials is drawn within 5 s in headless Chromium with these.)
LIMITS = {
    "history": 2000,
    "intermediate": 100,
    "parallel": 300,
    "slice": 1000,
    "contour": 500,
    "timeline": 1000,
    "pareto": 2000,
    "hypervolume": 2000,
}


def limit(view: TrialsView, key: str) -> int:
    """The most the chart key draws of view: the view's own limit, or the charts' default."""
    return view.limits.get(key, LIMITS[key])


def sample(view: TrialsView, key: str) -> TrialsView:
    return TrialsView(
        view.directions, representative(view, limit(view, key)), view.study_name, objective_names=view.objective_names
    )


def noted(fig: Any, shown: int, total: int, what: str = "trials") -> Any:
    """The figure, saying above its plot that it shows a subset when it does."""
    text = shown_note(shown, total, what)
    if text:
        fig.add_annotation(
            text=text,
            xref="paper",
            yref="paper",
            x=0,
            y=1.08,
            showarrow=False,
            font={"size": 11, "color": "#777"},
            xanchor="left",
        )
    return fig


def history(view: TrialsView, plotly: Any) -> Any:
    go = plotly.graph_objects
    series = history_series(view, None, None, "history")
    # The best so far comes from every trial; the points drawn from a subset.
    drawn = {t.number for t in sample(view, "history").trials}
    fig = plotly.subplots.make_subplots(rows=1, cols=len(series))
    for i, s in enumerate(series, start=1):
        points = [(n, v) for n, v in zip(s.numbers, s.values) if n in drawn]
        steps = [(n, b) for k, (n, b) in enumerate(zip(s.numbers, s.best)) if k == 0 or b != s.best[k - 1]]
        if s.numbers:
            steps.append((s.numbers[-1], s.best[-1]))
        fig.add_trace(
            go.Scatter(
                x=[n for n, _ in points],
                y=[v for _, v in points],
                mode="markers",
                name=s.name,
                marker={"color": "#1f77b4", "size": 6},
            ),
            row=1,
            col=i,
        )
        fig.add_trace(
            go.Scatter(
                x=[n for n, _ in steps],
                y=[b for _, b in steps],
                mode="lines",
                line={"shape": "hv", "color": "#d62728"},
                name="Best so far",
                showlegend=i == 1,
            ),
            row=1,
            col=i,
        )
        fig.update_xaxes(title_text="Trial", row=1, col=i)
        fig.update_yaxes(title_text=s.name, row=1, col=i)
    fig.update_layout(title="Optimization history", **LAYOUT)
    return noted(fig, len(drawn), len(view.trials))


def intermediate(view: TrialsView, plotly: Any) -> Any:
    go = plotly.graph_objects
    # A large study's candidates come from a wide sample first: asking every trial for its
    # reports would cost more than drawing them.
    most = limit(view, "intermediate")
    candidates = representative(view, 20 * most)
    reported = [t for t in candidates if t.intermediate_values]
    if len(reported) < most and len(candidates) < len(view.trials):
        reported = [t for t in view.trials if t.intermediate_values]
    if not reported:
        raise ValueError("no trial reported an intermediate value")
    curves = representative(TrialsView(view.directions, reported), most)
    total, what = (
        (len(reported), "learning curves")
        if len(reported) > most or len(candidates) == len(view.trials)
        else (len(view.trials), "trials")
    )
    # One trace per state, its curves apart by gaps: a browser draws that many times faster than
    # a trace per curve.
    by_state: dict[str, tuple[list[Any], list[Any], list[Any]]] = {}
    for t in curves:
        x, y, text = by_state.setdefault(t.state.name, ([], [], []))
        steps = t.intermediate_values
        x += [s for s, _ in steps] + [None]
        y += [v for _, v in steps] + [None]
        text += [f"trial {t.number}"] * len(steps) + [None]
    fig = go.Figure()
    for state, (x, y, text) in by_state.items():
        fig.add_trace(
            go.Scatter(
                x=x,
                y=y,
                mode="lines+markers",
                marker={"size": 3},
                name=state,
                line={"color": STATE_COLOURS[state], "width": 1},
                hovertext=text,
                showlegend=True,
            )
        )
    fig.update_layout(title="Intermediate values", xaxis_title="Step", yaxis_title="Intermediate value", **LAYOUT)
    return noted(fig, len(curves), total, what)


def pareto_front(view: TrialsView, plotly: Any) -> Any:
    go = plotly.graph_objects
    shown = sample(view, "pareto")
    data = pareto(shown, None, None, "Pareto front")
    three = len(data.names) == 3
    trace = go.Scatter3d if three else go.Scatter
    fig = go.Figure()
    for points, name, colour, symbol in (
        (data.infeasible, "Infeasible", "#1f77b4", "x"),
        (data.dominated, "Dominated", "#b0b0b0", "circle"),
        (data.front, "Pareto front", "#d62728", "circle"),
    ):
        if points:
            coords = dict(zip("xyz", zip(*(p for _, p in points))))
            marker = {"color": colour, "size": 5 if three else 8, "symbol": symbol}
            fig.add_trace(
                trace(**coords, mode="markers", name=name, marker=marker, hovertext=[f"trial {n}" for n, _ in points])
            )
    titles = {"xaxis_title": data.names[0], "yaxis_title": data.names[1]}
    if three:
        fig.update_layout(scene={**titles, "zaxis_title": data.names[2]})
    else:
        fig.update_layout(**titles)
    fig.update_layout(title="Pareto front", **LAYOUT)
    return noted(fig, len(shown.trials), len(view.trials))


def hypervolume_history(view: TrialsView, plotly: Any) -> Any:
    go = plotly.graph_objects
    shown = sample(view, "hypervolume")
    reference = default_reference(view)
    series = hypervolume_series(shown, reference, "Hypervolume history")
    fig = go.Figure(go.Scatter(x=series.numbers, y=series.hypervolume, mode="lines", line={"shape": "hv"}))
    shown_reference = ", ".join(f"{r:.4g}" for r in reference)
    fig.update_layout(
        title=f"Hypervolume history (reference point {shown_reference})",
        xaxis_title="Trial",
        yaxis_title="Hypervolume",
        **LAYOUT,
    )
    return noted(fig, len(shown.trials), len(view.trials))


def timeline(view: TrialsView, plotly: Any) -> Any:
    go = plotly.graph_objects
    if not view.trials:
        raise ValueError("the study has no trials")
    # The lanes come from every trial's times, read from the table's columns (local time in
    # nanoseconds), which costs less than asking each trial.
    table = view.table
    assert table is not None, "a report's view holds the study's columns"
    epoch = datetime.datetime(1970, 1, 1)
    now = int((datetime.datetime.now() - epoch).total_seconds() * 1e9)
    every = lanes(
        zip(
            table["datetime_start"],
            [now if e is None else e for e in table["datetime_complete"]],
            table["number"],
            table["state"],
        )
    )
    drawn = {t.number for t in representative(view, limit(view, "timeline"))}
    runs = [s for s in every if s.number in drawn]
    fig = go.Figure()
    for state in STATE_COLOURS:
        mine = [s for s in runs if s.state == state]
        if mine:
            fig.add_trace(
                go.Bar(
                    base=[(epoch + datetime.timedelta(microseconds=s.start // 1000)).isoformat() for s in mine],
                    orientation="h",
                    name=state,
                    x=[(s.end - s.start) / 1e6 for s in mine],
                    y=[s.lane for s in mine],
                    marker={"color": STATE_COLOURS[state]},
                    hovertext=[f"trial {s.number}" for s in mine],
                )
            )
    fig.update_layout(
        title="Timeline",
        xaxis={"type": "date", "title": "Time"},
        yaxis={"title": "Worker", "dtick": 1},
        barmode="overlay",
        **LAYOUT,
    )
    return noted(fig, len(runs), len(every))
