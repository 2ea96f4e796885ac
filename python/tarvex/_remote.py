"""The owner side of trials that run in other processes: the study's own trial answers the
worker's questions, and the worker's outcome is returned or raised here, in the thread of the
run that created the trial, so the run treats it exactly as an objective that ran in that thread."""

from __future__ import annotations

import threading
from multiprocessing.connection import Connection
from typing import Any, Protocol

import _tarvex

from ._worker import exception_payload, rebuilt_exception
from .exceptions import WorkerLostError


class Executor(Protocol):
    """Runs a trial's objective elsewhere; called with the run's trial, in the run's thread."""

    def __call__(self, trial: Any) -> Any: ...
    def cancel(self) -> None: ...
    def close(self) -> None: ...


def drive(conn: Connection, trial: Any, cancelled: threading.Event) -> Any:
    """Runs trial on the worker at the other end of conn: its result, or what it raised."""
    conn.send(("trial", trial.number))
    while True:
        message = _receive(conn, cancelled)
        kind = message[0]
        if kind == "done":
            return message[1]
        if kind == "pruned":
            raise _tarvex.TrialPruned(message[1])
        if kind == "error":
            raise raised_remotely(message[1])
        _answer(conn, trial, message)


def raised_remotely(payload: Any) -> BaseException:
    error = rebuilt_exception(*payload)
    if hasattr(error, "add_note"):  # Python 3.11 and newer
        error.add_note("Raised in a worker process:\n" + payload[3].rstrip())
    return error


def _receive(conn: Connection, cancelled: threading.Event) -> Any:
    try:
        # Polled, so that a second Ctrl-C (cancelled) ends the wait for a worker that still runs.
        while not conn.poll(0.1):
            if cancelled.is_set():
                raise WorkerLostError("the trial was cancelled while it ran in a worker (a second Ctrl-C)")
        return conn.recv()
    except (EOFError, OSError) as error:
        raise WorkerLostError("the worker running this trial died") from error


def _answer(conn: Connection, trial: Any, message: tuple[Any, ...]) -> None:
    kind, name = message[0], message[1]
    reply: tuple[str, Any]
    try:
        if kind == "get":
            value = getattr(trial, name)
            reply = ("method", None) if callable(value) else ("ok", value)
        elif kind == "call":
            reply = ("ok", getattr(trial, name)(*message[2], **message[3]))
        elif kind == "set":
            setattr(trial, name, message[2])
            reply = ("ok", None)
        else:
            raise ValueError(f"a worker sent an unknown request {kind!r}")
    except Exception as error:  # noqa: BLE001 - raised in the worker, where the objective asked
        reply = ("raise", exception_payload(error))
    try:
        conn.send(reply)
    except Exception as error:  # noqa: BLE001 - an answer that does not pickle
        conn.send(("raise", exception_payload(TypeError(f"trial.{name} cannot be sent to a worker: {error}"))))
