"""The dashboard as a web application: two pages (the studies, one study), their script and style,
plotly's script from the installed plotly, and a JSON interface the pages poll. It only reads.
Every stored text reaches the page as JSON data that the script sets as text; the pages' policy
allows no script but the dashboard's own, so a payload in a name, a choice or an attribute never
runs. Requests for another host name than the server's are refused (DNS rebinding)."""

from __future__ import annotations

import functools
import gzip
import html
import importlib
import json
import logging
import math
from collections.abc import Awaitable, Callable
from pathlib import Path
from typing import TYPE_CHECKING, Any

from .._storage import DatabaseStorage
from ..report._figures import Chart, chart_list, importance_shares, plotly_module
from ..report._sample import TrialsView
from . import _rows
from ._catalog import Catalog, StorageUnavailable
from ._hosts import LOOPBACK_NAMES, HostCheck
from ._watch import Snapshot, StudyWatch

if TYPE_CHECKING:
    from starlette.responses import Response

_STATIC = Path(__file__).with_name("static")
_ASSETS = {"dashboard.js": "text/javascript", "dashboard.css": "text/css"}
_POLICY = (
    "default-src 'none'; script-src 'self'; style-src 'self' 'unsafe-inline'; img-src 'self' data: blob:; "
    "font-src 'self' data:; connect-src 'self'; base-uri 'none'; form-action 'none'; frame-ancestors 'none'"
)
logger = logging.getLogger("tarvex")


def create_app(storage: str | DatabaseStorage, *, allowed_hosts: list[str] | None = None) -> Any:
    """The dashboard of storage as an ASGI application (Starlette). allowed_hosts: the host names
    requests may be addressed to (default: this machine's loopback names; ["*"] for any)."""
    from starlette.applications import Starlette
    from starlette.middleware import Middleware
    from starlette.middleware.base import BaseHTTPMiddleware
    from starlette.requests import Request
    from starlette.responses import Response
    from starlette.routing import Route

    _load_libraries()
    catalog = Catalog(storage)

    def page(name: str, title: str, study_id: int | None = None) -> Response:
        text = (_STATIC / name).read_text(encoding="utf-8")
        text = text.replace("{{title}}", html.escape(title)).replace("{{study}}", str(study_id or ""))
        return Response(text, media_type="text/html; charset=utf-8")

    def studies_page(request: Request) -> Response:
        return page("index.html", "tarvex dashboard")

    def study_page(request: Request) -> Response:
        study_id = request.path_params["study_id"]
        try:
            watch = catalog.watch(study_id)
        except StorageUnavailable:
            watch = None  # the page itself says what is wrong
        title = f"{watch.study.study_name} · tarvex" if watch is not None else "tarvex dashboard"
        return page("study.html", title, study_id)

    def asset(request: Request) -> Response:
        name = request.path_params["name"]
        if name == "plotly.min.js":
            plotly = plotly_module()
            if plotly is None:
                return Response("plotly is not installed", status_code=404, media_type="text/plain")
            cached = {"Cache-Control": "public, max-age=86400", "ETag": f'"plotly-{plotly.__version__}"'}
            if "gzip" in request.headers.get("accept-encoding", ""):
                return Response(
                    _plotly_packed(plotly.__version__),
                    media_type="text/javascript",
                    headers={**cached, "Content-Encoding": "gzip", "Vary": "Accept-Encoding"},
                )
            return Response(_plotly_script(plotly.__version__), media_type="text/javascript", headers=cached)
        if name not in _ASSETS:
            return Response("not found", status_code=404, media_type="text/plain")
        return Response((_STATIC / name).read_bytes(), media_type=_ASSETS[name], headers={"Cache-Control": "no-cache"})

    def studies(request: Request) -> Response:
        return _json({"storage": catalog.url, "studies": catalog.overview()})

    def study(request: Request) -> Response:
        watch, snapshot = _study(catalog, request)
        view = snapshot.view
        return _json(
            {
                "id": request.path_params["study_id"],
                "name": watch.study.study_name,
                "storage": catalog.url,
                "version": snapshot.version,
                "last_activity": snapshot.last_activity,
                "n_trials": len(snapshot.core_trials),
                "summary": snapshot.once("summary", lambda: _summary(watch, snapshot, catalog.url)),
                "charts": [[key, heading] for key, heading, _ in shown_charts(view)],
                "has_plotly": plotly_module() is not None,
            }
        )

    def version(request: Request) -> Response:
        # What a page polls: it also learns there that its study was deleted.
        _, snapshot = _study(catalog, request, recheck=True)
        return _json({"version": snapshot.version, "last_activity": snapshot.last_activity})

    def chart(request: Request) -> Response:
        watch, snapshot = _study(catalog, request)
        key = request.path_params["key"]
        keys = [k for k, _, _ in shown_charts(snapshot.view)]
        if key not in keys:
            return _error(404, f"no chart {key!r} for this study; it has {', '.join(keys)}")
        made = chart_of(watch, key)
        if request.query_params.get("have") == str(made.version):
            return _json({"version": made.version, "unchanged": True})
        kind, body = made.value
        if kind == "figure":
            return Response(f'{{"version":{made.version},"figure":{body}}}', media_type="application/json")
        return _json({"version": made.version, "missing": body})

    def trials(request: Request) -> Response:
        _, snapshot = _study(catalog, request)
        query = request.query_params
        try:
            number = int(query.get("page", "0"))
            per_page = int(query.get("per_page", str(_rows.PER_PAGE)))
        except ValueError:
            return _error(400, "page and per_page must be whole numbers")
        descending = query.get("order", "asc") == "desc"
        try:
            return _json(_rows.page(snapshot, query.get("sort"), descending, number, per_page))
        except ValueError as error:
            return _error(400, str(error))

    def trial(request: Request) -> Response:
        _, snapshot = _study(catalog, request)
        record = _rows.trial_record(snapshot, request.path_params["number"])
        if record is None:
            return _error(404, f"the study has no trial {request.path_params['number']}")
        return _json(record)

    async def headers(request: Request, call_next: Callable[[Request], Awaitable[Response]]) -> Response:
        response = await call_next(request)
        response.headers["Content-Security-Policy"] = _POLICY
        response.headers["X-Content-Type-Options"] = "nosniff"
        response.headers["Referrer-Policy"] = "no-referrer"
        return response

    def api(endpoint: Callable[[Request], Response]) -> Callable[[Request], Response]:
        """endpoint, with what the storage or the request got wrong answered as a message."""

        def answered(request: Request) -> Response:
            try:
                return endpoint(request)
            except StorageUnavailable as error:
                return _error(503, str(error))
            except _NotFound as error:
                return _error(404, str(error))

        return answered

    routes = [
        Route("/", studies_page),
        Route("/studies/{study_id:int}", study_page),
        Route("/static/{name}", asset),
        Route("/api/studies", api(studies)),
        Route("/api/studies/{study_id:int}", api(study)),
        Route("/api/studies/{study_id:int}/version", api(version)),
        Route("/api/studies/{study_id:int}/charts/{key}", api(chart)),
        Route("/api/studies/{study_id:int}/trials", api(trials)),
        Route("/api/studies/{study_id:int}/trials/{number:int}", api(trial)),
    ]
    middleware = [
        Middleware(HostCheck, allowed=list(allowed_hosts or LOOPBACK_NAMES)),
        Middleware(BaseHTTPMiddleware, dispatch=headers),
    ]
    app = Starlette(routes=routes, middleware=middleware)
    app.state.catalog = catalog
    return app


def shown_charts(view: TrialsView) -> list[Chart]:
    """The charts of a study's page: importances among them before their shares are computed,
    which happens when that chart is asked for."""
    return chart_list(view, [{}])


def chart_of(watch: StudyWatch, key: str) -> Any:
    """The chart's figure (or why it is missing) for the study's newest trials, or an earlier one
    still fresh enough."""
    return watch.computed(f"chart:{key}", lambda s: _figure(watch, s, key))


def warm_up(catalog: Catalog) -> None:
    """Reads every study and draws its charts ahead of the first visit, which then finds them made."""
    try:
        catalog.overview()
        for watch in catalog.watches():
            for key, _, _ in shown_charts(catalog.snapshot(watch).view):
                chart_of(watch, key)
    except StorageUnavailable:
        pass  # the pages say so when they are visited


class _NotFound(Exception):
    pass


def _study(catalog: Catalog, request: Any, recheck: bool = False) -> tuple[StudyWatch, Snapshot]:
    watch = catalog.watch(request.path_params["study_id"], recheck=recheck)
    if watch is None:
        raise _NotFound(f"{catalog.url} holds no study of id {request.path_params['study_id']} (deleted?)")
    return watch, catalog.snapshot(watch)


def _summary(watch: StudyWatch, snapshot: Snapshot, where: str) -> list[tuple[str, str]]:
    from ..report._summary import summary_items

    view = snapshot.view
    return summary_items(view, where, watch.study.user_attrs, lambda: view.best()[0], view.best)


def _load_libraries() -> None:
    """Imports what the charts use before requests come: a module that two request threads import
    at once can be seen half made by the second (numpy without its attributes)."""
    for module in ("numpy", "plotly.graph_objects", "plotly.subplots", "sklearn.ensemble", "scipy.interpolate"):
        try:
            importlib.import_module(module)
        except ImportError:
            pass  # the charts that need it say so


def _figure(watch: StudyWatch, snapshot: Snapshot, key: str) -> tuple[str, str]:
    """("figure", plotly's JSON of the chart) or ("missing", why it is not drawn)."""
    plotly = plotly_module()
    if plotly is None:
        return "missing", 'charts need plotly: pip install "tarvex[dashboard]"'
    view = snapshot.view
    try:
        if key == "importances":
            shares, note = watch.computed("importances", lambda s: importance_shares(s.view)).value
            if not shares:
                raise ValueError(note)
            charts = chart_list(view, shares)
        else:
            charts = shown_charts(view)
        build = next(b for k, _, b in charts if k == key)
        return "figure", str(build(view, plotly).to_json())
    except ValueError as error:
        return "missing", str(error)
    except Exception as error:  # noqa: BLE001 - one chart that fails leaves the page and the others be
        logger.warning("The dashboard could not draw the %s chart of study %r", key, view.study_name, exc_info=True)
        return "missing", f"it could not be drawn ({type(error).__name__}: {error})"


def _plotly_script(version: str) -> str:
    from ..report._page import _plotly_script as script

    return script(version)


@functools.lru_cache(maxsize=1)
def _plotly_packed(version: str) -> bytes:
    """plotly's script gzip-compressed, once per process: a third of the size to send."""
    return gzip.compress(_plotly_script(version).encode("utf-8"), compresslevel=6, mtime=0)


def _plain(value: Any) -> Any:
    """value as strict JSON has it: NaN and infinities as the texts "NaN", "Infinity", "-Infinity"."""
    if isinstance(value, float) and not math.isfinite(value):
        return "NaN" if math.isnan(value) else ("Infinity" if value > 0 else "-Infinity")
    if isinstance(value, dict):
        return {str(k): _plain(v) for k, v in value.items()}
    if isinstance(value, (list, tuple)):
        return [_plain(v) for v in value]
    return value


def _json(data: Any, status: int = 200) -> Response:
    from starlette.responses import Response

    try:
        text = json.dumps(data, allow_nan=False, separators=(",", ":"))
    except ValueError:
        text = json.dumps(_plain(data), allow_nan=False, separators=(",", ":"))
    return Response(text, status_code=status, media_type="application/json")


def _error(status: int, message: str) -> Response:
    return _json({"error": message}, status)
