"""The report page: summary, charts, importances and trials in one HTML file."""

from __future__ import annotations

import base64
import contextlib
import datetime
import functools
import gzip
import html
import io
import json
import os
import tempfile
from collections.abc import Callable
from typing import TYPE_CHECKING, Any

import _tarvex

from .._plotdata.hypervolume import default_reference
from . import _charts
from ._assets import STYLE, script
from ._figures import chart_list, importance_shares, optional, plotly_module
from ._sample import TrialsView, shown_note
from ._summary import summary_items
from ._table import trial_table

if TYPE_CHECKING:
    from .._types import ReportedStudy

TrialState = _tarvex.TrialState


def write_report(study: ReportedStudy, path: str | os.PathLike[str], *, title: str | None = None) -> None:
    """Writes the study's report to path: one HTML file that needs no network.

    It holds the summary (directions, trials by state, the best trial and its parameters, or the
    Pareto front), the charts of tarvex.visualization (interactive with plotly, the "report" extra;
    otherwise images drawn by matplotlib), the parameter importances (with scikit-learn) and a
    table of every trial, sorted by clicking a column's title.

    The file appears whole or not at all (it is written beside path, then renamed into place).
    Raises ValueError when path is the study's own database file."""
    if study.storage is not None and _is_storage_file(os.fspath(path), study.storage.url):
        raise ValueError(f"{os.fspath(path)} is the study's database; write the report elsewhere")
    title = title or f"tarvex study {study.study_name}"
    page = _page(study, title)
    _write_atomically(os.fspath(path), page)


def _write_atomically(path: str, text: str) -> None:
    folder = os.path.dirname(os.path.abspath(path))
    handle, temporary = tempfile.mkstemp(prefix=".tarvex-report-", suffix=".html", dir=folder)
    try:
        with os.fdopen(handle, "w", encoding="utf-8") as out:
            out.write(text)
        os.chmod(temporary, 0o666 & ~_umask())
        os.replace(temporary, path)
    except BaseException:
        with contextlib.suppress(OSError):
            os.unlink(temporary)
        raise


def _umask() -> int:
    """The process's umask, read without changing it (os.umask would, for every thread)."""
    try:
        with open("/proc/self/status", encoding="ascii") as status:
            for line in status:
                if line.startswith("Umask:"):
                    return int(line.split()[1], 8)
    except (OSError, ValueError):
        pass
    return 0o022


def _is_storage_file(path: str, url: str) -> bool:
    """Whether path is the SQLite database of url or one of its companion files."""
    if not url.startswith("sqlite:///"):
        return False
    database = url[len("sqlite:///") :]
    for candidate in (database, *(database + suffix for suffix in ("-wal", "-shm", "-journal", "-live"))):
        try:
            if os.path.samefile(path, candidate):
                return True
        except OSError:
            if os.path.abspath(path) == os.path.abspath(candidate):
                return True
    return False


def _page(study: ReportedStudy, title: str) -> str:
    plotly = plotly_module()
    view = TrialsView(
        list(study.directions),
        study.trials,
        study.study_name,
        study.columns(),
        objective_names=getattr(study, "objective_names", None),
    )
    shares, importance_note = importance_shares(view)
    charts = chart_list(view, shares)
    figures: dict[str, str] = {}
    body = [f"<h1>{html.escape(title)}</h1>", _summary(study, view), "<h2>Charts</h2>"]
    body += [_chart(view, plotly, figures, *chart) for chart in charts]
    body += [
        "<h2>Parameter importances</h2>",
        _importance_table(shares, view, importance_note)
        if shares
        else f'<p class="missing">{html.escape(importance_note)}</p>',
        "<h2>Trials</h2>",
    ]
    table = trial_table(view.table) if view.trials and view.table is not None else None
    body.append('<div class="trials" id="trials-holder"></div>' if table else '<p class="missing">No trials yet.</p>')
    stamp = datetime.datetime.now().isoformat(timespec="seconds")
    body.append(f'<p class="missing">Written {stamp} by tarvex.</p>')
    # One payload for the charts and the table: figures are plotly's own JSON, spliced in as they are.
    payload = (
        '{"figures":{'
        + ",".join(f"{json.dumps(k)}:{v}" for k, v in figures.items())
        + '},"table":'
        + json.dumps(table, allow_nan=False, separators=(",", ":"))
        + "}"
    )
    body.append(_packed("tarvex-data", payload))
    if plotly:
        body.append(_packed("tarvex-plotly", _plotly_script(plotly.__version__)))
    body.append(f"<script>{script(bool(plotly))}</script>")
    head = f"<title>{html.escape(title)}</title><style>{STYLE}</style>"
    return (
        '<!DOCTYPE html>\n<html lang="en"><head><meta charset="utf-8">'
        + head
        + "</head><body>"
        + "\n".join(body)
        + "</body></html>\n"
    )


def _packed(element_id: str, text: str) -> str:
    """text gzip-compressed into the page, as base64: the page's script unpacks it."""
    packed = base64.b64encode(gzip.compress(text.encode("utf-8"), compresslevel=6, mtime=0)).decode("ascii")
    return f'<script type="application/octet-stream" id="{element_id}">{packed}</script>'


@functools.lru_cache(maxsize=1)
def _plotly_script(version: str) -> str:
    """plotly's JavaScript (of that version), read once per process."""
    from plotly.offline import get_plotlyjs

    script: str = get_plotlyjs()
    return script


def _chart(
    view: TrialsView,
    plotly: Any,
    figures: dict[str, str],
    key: str,
    heading: str,
    build: Callable[[TrialsView, Any], Any],
) -> str:
    """One chart's place on the page (its figure goes to figures), or a line saying why it is not shown."""
    try:
        if plotly:
            figures[key] = build(view, plotly).to_json()
            return f'<div class="chart" id="chart-{key}"><div id="plot-{key}"></div></div>'
        return _image(view, key, heading)
    except ValueError as error:
        return f'<p class="missing" id="chart-{key}">{html.escape(heading)}: not shown, {html.escape(str(error))}.</p>'


def _image(view: TrialsView, key: str, heading: str) -> str:
    """The chart drawn by matplotlib and embedded as a PNG, for a report without plotly."""
    if not optional("matplotlib"):
        raise ValueError('charts need plotly: pip install "tarvex[report]"')
    from .. import visualization as vis

    plots: dict[str, Callable[..., Any]] = {
        "history": vis.plot_optimization_history,
        "pareto": vis.plot_pareto_front,
        "intermediate": vis.plot_intermediate_values,
        "parallel": vis.plot_parallel_coordinate,
        "slice": vis.plot_slice,
        "contour": vis.plot_contour,
        "importances": vis.plot_param_importances,
        "timeline": vis.plot_timeline,
        "hypervolume": lambda shown: vis.plot_hypervolume_history(shown, default_reference(view)),
    }
    draw = plots[key]
    import matplotlib.pyplot as plt

    shown = _charts.sample(view, key) if key in _charts.LIMITS else view
    drawn = draw(shown)
    figure = getattr(drawn, "figure", drawn)
    buffer = io.BytesIO()
    try:
        figure.savefig(buffer, format="png", dpi=90, bbox_inches="tight")
    finally:
        plt.close(figure)
    data = base64.b64encode(buffer.getvalue()).decode("ascii")
    image = f'<img alt="{html.escape(heading)}" src="data:image/png;base64,{data}">'
    note = shown_note(len(shown.trials), len(view.trials))
    caption = f'<p class="subset">{html.escape(note)}</p>' if note else ""
    return f'<div class="chart" id="chart-{key}">{caption}{image}</div>'


def _importance_table(shares: list[dict[str, float]], view: TrialsView, note: str) -> str:
    names = list(shares[0])
    heads = ["Importance"] if len(shares) == 1 else [f"Objective {i}" for i in range(len(shares))]
    rows = "".join(
        "<tr><td>" + html.escape(n) + "</td>" + "".join(f"<td>{s[n]:.3f}</td>" for s in shares) + "</tr>" for n in names
    )
    caption = f'<p class="subset">Estimated from {html.escape(note)}</p>' if note else ""
    return (
        '<table id="importances"><thead><tr><th>Parameter</th>'
        + "".join(f"<th>{h}</th>" for h in heads)
        + f"</tr></thead><tbody>{rows}</tbody></table>{caption}"
    )


def _summary(study: ReportedStudy, view: TrialsView) -> str:
    where = study.storage.url if study.storage is not None else "this process's memory"
    items = summary_items(
        view, where, getattr(study, "user_attrs", {}), lambda: study.best_trial, lambda: study.best_trials
    )
    rows = "".join(f"<tr><th>{html.escape(k)}</th><td>{html.escape(v)}</td></tr>" for k, v in items)
    return f'<table id="summary">{rows}</table>'
