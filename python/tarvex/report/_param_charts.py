"""The report's charts over the parameters: parallel coordinates, slices, contours and
importances, drawn as plotly figures from the data the matplotlib plots draw."""

from __future__ import annotations

from typing import Any

import _tarvex

from .._plotdata.contour import grid_values, merge_points, pair_points
from .._plotdata.parallel import coordinates
from .._plotdata.slices import coordinate, slices
from .._space import Axis
from ._charts import LAYOUT, MAX_CONTOUR_PARAMS, noted, sample
from ._sample import TrialsView


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
    space = space[: view.limits.get("contour_params", MAX_CONTOUR_PARAMS)]
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
