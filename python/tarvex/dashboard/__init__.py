"""A live dashboard of the studies in a storage: a web application ("dashboard" extra: Starlette,
uvicorn and plotly) that lists the studies and shows each one's summary, charts and trials,
following the trials of every process as they finish.

    tarvex dashboard --storage sqlite:///tuning.db          # http://127.0.0.1:8080/

    import tarvex as tv
    tv.dashboard.serve("sqlite:///tuning.db", port=8080)

It only reads the storage, listens on this machine only unless told otherwise, and needs no
network: the pages' scripts come from the installed packages."""

from ._app import create_app
from ._serve import serve

__all__ = ["create_app", "serve"]
