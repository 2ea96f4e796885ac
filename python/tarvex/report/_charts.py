"""The report's charts: the data of the visualization module drawn as interactive plotly figures.
Each chart of a large study draws a representative subset of its trials and says so."""

from __future__ import annotations

import datetime
from typing import Any

import _tarvex

from .._plotdata.common import STATE_COLOURS
from .._plotdata.contour import grid_values, merge_points, pair_points
from .._plotdata.history import history_series
from .._plotdata.parallel import coordinates
from .._plotdata.pareto import pareto
from .._plotdata.slices import coordinate, slices
from .._plotdata.timeline import lanes
from .._space import Axis
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
}


def sample(view: TrialsView, key: str) -> TrialsView:
    return TrialsView(view.directions, representative(view, LIMITS[key]), view.study_name)


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
    limit = LIMITS["intermediate"]
    candidates = representative(view, 20 * limit)
    reported = [t for t in candidates if t.intermediate_values]
    if len(reported) < limit and len(candidates) < len(view.trials):
        reported = [t for t in view.trials if t.intermediate_values]
    if not reported:
        raise ValueError("no trial reported an intermediate value")
    curves = representative(TrialsView(view.directions, reported), limit)
    total, what = (
        (len(reported), "learning curves")
        if len(reported) > limit or len(candidates) == len(view.trials)
        else (len(view.trials), "trials")
    )
    fig = go.Figure()
    shown = set()
    for t in curves:
        state = t.state.name
        fig.add_trace(
            go.Scatter(
                x=[s for s, _ in t.intermediate_values],
                y=[v for _, v in t.intermediate_values],
                mode="lines+markers",
                marker={"size": 3},
                name=state,
                legendgroup=state,
                showlegend=state not in shown,
                line={"color": STATE_COLOURS[state], "width": 1},
                hovertext=f"trial {t.number}",
            )
        )
        shown.add(state)
    fig.update_layout(title="Intermediate values", xaxis_title="Step", yaxis_title="Intermediate value", **LAYOUT)
    return noted(fig, len(curves), total, what)


def parallel(view: TrialsView, plotly: Any) -> Any:
    """Drawn as lines on an ordinary plot rather than plotly's WebGL parallel coordinates, which
    takes a second to start where there is no graphics processor: lines in eight bands of value,
    one trace per band, worst first so that the best lie on top."""
    go = plotly.graph_objects
    shown = sample(view, "parallel")
    data = coordinates(shown, None, None, None, "parallel coordinates")
    xs = list(range(len(data.columns)))
    lo, hi = min(data.values), max(data.values)
    bands = 8
    colours = plotly.colors.sample_colorscale("Viridis", [k / (bands - 1) for k in range(bands)])
    grouped: list[list[list[float]]] = [[] for _ in range(bands)]
    for line, value in zip(data.lines, data.values):
        grouped[0 if hi == lo else min(bands - 1, int((value - lo) / (hi - lo) * bands))].append(line)
    minimize = view.directions[0] != _tarvex.StudyDirection.Maximize
    fig = go.Figure()
    for k in range(bands - 1, -1, -1) if minimize else range(bands):
        if grouped[k]:
            x = [c for line in grouped[k] for c in (*xs, None)]
            y = [p for line in grouped[k] for p in (*line, None)]
            fig.add_trace(
                go.Scatter(
                    x=x,
                    y=y,
                    mode="lines",
                    line={"color": colours[k], "width": 1},
                    opacity=0.7,
                    hoverinfo="skip",
                    showlegend=False,
                )
            )
    fig.add_trace(
        go.Scatter(
            x=[None],
            y=[None],
            mode="markers",
            hoverinfo="skip",
            showlegend=False,
            marker={
                "colorscale": "Viridis",
                "cmin": lo,
                "cmax": hi,
                "color": [lo],
                "showscale": True,
                "colorbar": {"title": {"text": data.value_name}},
            },
        )
    )
    for at, column in zip(xs, data.columns):
        fig.add_shape(type="line", x0=at, x1=at, y0=0, y1=1, line={"color": "#555", "width": 1})
        for tick, label in zip(column.ticks, column.labels):
            fig.add_annotation(
                x=at, y=tick, text=label, showarrow=False, xanchor="left", xshift=4, font={"size": 9, "color": "#444"}
            )
    fig.update_xaxes(
        tickvals=xs,
        ticktext=[c.name for c in data.columns],
        range=[-0.3, len(xs) - 0.5],
        showgrid=False,
        zeroline=False,
    )
    fig.update_yaxes(visible=False, range=[-0.05, 1.05])
    fig.update_layout(title="Parallel coordinates", **LAYOUT)
    return noted(fig, len(shown.trials), len(view.trials))


def slice_(view: TrialsView, plotly: Any) -> Any:
    go = plotly.graph_objects
    shown = sample(view, "slice")
    chosen, space, points = slices(shown, None, None, None, "slice")
    fig = plotly.subplots.make_subplots(
        rows=1, cols=len(space), shared_yaxes=True, horizontal_spacing=min(0.08, 0.5 / len(space))
    )
    for i, axis in enumerate(space, start=1):
        drawn = points[axis.name]
        fig.add_trace(
            go.Scatter(
                x=[coordinate(axis, p) for p, _, _ in drawn],
                y=[v for _, v, _ in drawn],
                mode="markers",
                showlegend=False,
                hovertext=[f"trial {n}" for _, _, n in drawn],
                marker={
                    "color": [n for _, _, n in drawn],
                    "colorscale": "Blues",
                    "size": 6,
                    "line": {"width": 0.5, "color": "#444"},
                },
            ),
            row=1,
            col=i,
        )
        fig.update_xaxes(title_text=axis.name, row=1, col=i, **_axis_style(axis))
    fig.update_yaxes(title_text=chosen.name, row=1, col=1)
    fig.update_layout(title="Slice plot", **LAYOUT)
    return noted(fig, len(shown.trials), len(view.trials))


def contour(view: TrialsView, plotly: Any) -> Any:
    go = plotly.graph_objects
    shown = sample(view, "contour")
    chosen, space, _ = slices(shown, None, None, None, "contour")
    if len(space) < 2:
        raise ValueError("a contour needs two parameters")
    space = space[:MAX_CONTOUR_PARAMS]
    pairs = [(x, y) for i, y in enumerate(space) for x in space[:i]]
    fig = plotly.subplots.make_subplots(rows=1, cols=len(pairs), horizontal_spacing=min(0.08, 0.5 / len(pairs)))
    lo, hi = min(chosen.values), max(chosen.values)
    for i, (x, y) in enumerate(pairs, start=1):
        points = pair_points(chosen, x, y)
        xs = [coordinate(x, p) for p, _, _ in points]
        ys = [coordinate(y, q) for _, q, _ in points]
        zs = [v for _, _, v in points]
        # Between two choices there is nothing to interpolate: such pairs show the trials alone.
        merged = None if x.categorical or y.categorical else merge_points(xs, ys, zs, x.log, y.log)
        grid = None if merged is None else grid_values(merged, x.log, y.log)
        if grid is not None and hi > lo:
            fig.add_trace(
                go.Contour(
                    x=grid[0],
                    y=grid[1],
                    z=grid[2],
                    colorscale="Viridis",
                    zmin=lo,
                    zmax=hi,
                    showscale=i == 1,
                    connectgaps=False,
                    contours={"coloring": "heatmap"},
                    colorbar={"title": {"text": chosen.name}},
                ),
                row=1,
                col=i,
            )
            marker = {"color": "black", "size": 4}
        else:
            marker = {
                "color": zs,
                "colorscale": "Viridis",
                "cmin": lo,
                "cmax": hi,
                "size": 7,
                "line": {"width": 0.5, "color": "#444"},
            }
        fig.add_trace(
            go.Scatter(x=xs, y=ys, mode="markers", marker=marker, showlegend=False, hovertext=[f"{v:.6g}" for v in zs]),
            row=1,
            col=i,
        )
        fig.update_xaxes(title_text=x.name, row=1, col=i, **_axis_style(x))
        fig.update_yaxes(title_text=y.name, row=1, col=i, **_axis_style(y))
    fig.update_layout(title="Contour plot", **LAYOUT)
    return noted(fig, len(shown.trials), len(view.trials))


def _axis_style(axis: Axis) -> dict[str, Any]:
    if axis.categorical:
        return {"tickvals": list(range(len(axis.choices))), "ticktext": [axis.label(c) for c in axis.choices]}
    return {"type": "log"} if axis.log else {}


def importances(view: TrialsView, plotly: Any, shares: dict[str, float]) -> Any:
    go = plotly.graph_objects
    names = list(shares)[::-1]
    fig = go.Figure(
        go.Bar(
            x=[shares[n] for n in names],
            y=names,
            orientation="h",
            marker={"color": "#1f77b4"},
            text=[f"{shares[n]:.2f}" for n in names],
            textposition="outside",
        )
    )
    return fig.update_layout(title="Parameter importances", xaxis_title="Share of the variance", **LAYOUT)


def pareto_front(view: TrialsView, plotly: Any) -> Any:
    go = plotly.graph_objects
    shown = sample(view, "pareto")
    data = pareto(shown, None, None, "Pareto front")
    three = len(data.names) == 3
    trace = go.Scatter3d if three else go.Scatter
    fig = go.Figure()
    for points, name, colour in ((data.dominated, "Dominated", "#b0b0b0"), (data.front, "Pareto front", "#d62728")):
        if points:
            coords = dict(zip("xyz", zip(*(p for _, p in points))))
            marker = {"color": colour, "size": 5 if three else 8}
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
    drawn = {t.number for t in representative(view, LIMITS["timeline"])}
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
