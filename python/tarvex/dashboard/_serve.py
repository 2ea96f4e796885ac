"""Serving the dashboard: a socket bound here (so that port 0 picks a free port and the address
is known before the first request), uvicorn serving the application on it until Ctrl-C."""

from __future__ import annotations

import ipaddress
import logging
import socket
import threading
from collections.abc import Callable

from .._extras import require
from .._storage import DatabaseStorage
from ._app import create_app, warm_up
from ._hosts import LOOPBACK_NAMES

logger = logging.getLogger("tarvex")


def serve(
    storage: str | DatabaseStorage,
    *,
    host: str = "127.0.0.1",
    port: int = 8080,
    ready: Callable[[str], None] | None = None,
) -> None:
    """Serves the live dashboard of storage at http://host:port/ until interrupted (Ctrl-C).

    Args:
        storage: a URL (sqlite:///path.db, postgresql://user@host:port/database) or a tv.DatabaseStorage.
        host: the address to listen on; this machine only by default. Another address makes the
            dashboard, which has no login, readable by whoever reaches it: a warning says so.
        port: the port; 0 picks a free one.
        ready: called with the dashboard's address once it accepts connections.

    Raises ValueError for a URL of no known kind, FileNotFoundError for a SQLite file that is not
    there, and OSError for an address that cannot be listened on. A PostgreSQL server that does
    not answer does not stop it: the pages say so until it answers."""
    uvicorn = require("uvicorn", "dashboard", "the dashboard")
    require("starlette", "dashboard", "the dashboard")
    if type(port) is not int or not 0 <= port <= 65535:
        raise ValueError(f"port must be an int from 0 to 65535 (0: any free port), got {port!r}")
    loopback = _is_loopback(host)
    if not loopback:
        logger.warning(
            "The dashboard listens on %s: anyone who can reach this machine there can read the studies "
            "(it has no login). Use --host 127.0.0.1 to keep it to this machine.",
            host,
        )
    app = create_app(storage, allowed_hosts=list(LOOPBACK_NAMES) if loopback else ["*"])
    sock = _listen(host, port)
    bound = sock.getsockname()[1]
    shown = f"[{host}]" if ":" in host else host
    address = f"http://{shown}:{bound}/"
    # log_config=None: the application's logging stays as its owner set it; uvicorn's own warnings
    # go to its loggers, shown like any other.
    config = uvicorn.Config(
        app, log_config=None, log_level="warning", access_log=False, lifespan="off", timeout_graceful_shutdown=2
    )
    server = uvicorn.Server(config)

    started = server.startup

    async def startup(sockets: list[socket.socket] | None = None) -> None:
        await started(sockets=sockets)
        threading.Thread(
            target=warm_up, args=(app.state.catalog,), name="tarvex-dashboard-warm-up", daemon=True
        ).start()
        if ready is not None:
            ready(address)

    server.startup = startup
    logger.info("Serving the dashboard at %s", address)
    try:
        server.run(sockets=[sock])
    finally:
        sock.close()


def _is_loopback(host: str) -> bool:
    if host == "localhost":
        return True
    try:
        return ipaddress.ip_address(host.strip("[]")).is_loopback
    except ValueError:
        return False


def _listen(host: str, port: int) -> socket.socket:
    family = socket.AF_INET6 if ":" in host else socket.AF_INET
    sock = socket.socket(family, socket.SOCK_STREAM)
    try:
        sock.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
        sock.bind((host.strip("[]"), port))
        sock.listen(128)
    except OSError as error:
        sock.close()
        raise OSError(error.errno, f"cannot listen on {host}:{port}: {error.strerror}") from None
    sock.set_inheritable(True)
    return sock
