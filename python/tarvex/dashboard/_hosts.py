"""Which host names the dashboard answers to. A web page elsewhere can point a name of its own at
127.0.0.1 (DNS rebinding) and read what answers there; a server that answers only to the names it
listens on gives it nothing. IPv6 hosts come in brackets ("[::1]:8080"), which a split at the first
colon would cut."""

from __future__ import annotations

from collections.abc import Awaitable, Callable, Iterable, MutableMapping
from typing import Any

LOOPBACK_NAMES = ("127.0.0.1", "localhost", "::1")

Scope = MutableMapping[str, Any]
Receive = Callable[[], Awaitable[MutableMapping[str, Any]]]
Send = Callable[[MutableMapping[str, Any]], Awaitable[None]]


def host_name(header: str) -> str:
    """The name in a Host header, without its port or an IPv6 address's brackets, in lower case."""
    header = header.strip().lower()
    if header.startswith("["):
        return header[1 : header.find("]")] if "]" in header else header
    return header.split(":", 1)[0]


class HostCheck:
    """ASGI middleware: HTTP requests addressed to another name than allowed get 400; "*" allows any."""

    def __init__(self, app: Any, allowed: Iterable[str]) -> None:
        self.app = app
        self.allowed = {name.strip("[]").lower() for name in allowed}

    async def __call__(self, scope: Scope, receive: Receive, send: Send) -> None:
        if scope["type"] == "http" and "*" not in self.allowed:
            header = dict(scope.get("headers") or []).get(b"host", b"").decode("latin-1")
            if host_name(header) not in self.allowed:
                body = b"Invalid host header"
                headers = [(b"content-type", b"text/plain"), (b"content-length", str(len(body)).encode())]
                await send({"type": "http.response.start", "status": 400, "headers": headers})
                await send({"type": "http.response.body", "body": body})
                return
        await self.app(scope, receive, send)
