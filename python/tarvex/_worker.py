"""The worker side of a study run in other processes: the objective runs here, and every question it
asks of its trial (suggest_*, report, should_prune, attributes) is a round trip to the study's
owner over a connection. Only the standard library is used, so a worker process starts without
importing the package; unpickling an objective imports what it refers to."""

from __future__ import annotations

import os
import pickle
import signal
import socket
import sys
import traceback
from multiprocessing.connection import Client, Connection
from typing import Any

# Methods of the package's Trial, known here so that calling one is a single round trip.
_METHODS = frozenset(
    {
        "suggest_float",
        "suggest_int",
        "suggest_categorical",
        "suggest",
        "report",
        "should_prune",
        "set_user_attr",
        "get_user_attr",
        "fix_param",
        "fixed_value",
    }
)


class RemoteTrial:
    """Stands for the owner's trial in the objective: attribute reads, writes and method calls are
    answered by the owner, and errors raised there are raised here."""

    __slots__ = ("_conn", "_methods", "_number")
    _number: int

    def __init__(self, conn: Connection, number: int) -> None:
        object.__setattr__(self, "_conn", conn)
        object.__setattr__(self, "_methods", set(_METHODS))
        object.__setattr__(self, "_number", number)

    @property
    def number(self) -> int:
        return self._number

    def __getattr__(self, name: str) -> Any:
        if name.startswith("__"):
            raise AttributeError(name)
        if name in self._methods:
            return _Method(self, name)
        kind, value = self._ask(("get", name))
        if kind == "method":
            self._methods.add(name)
            return _Method(self, name)
        return value

    def __setattr__(self, name: str, value: Any) -> None:
        self._ask(("set", name, value))

    def __repr__(self) -> str:
        return f"RemoteTrial(number={self._number})"

    def _ask(self, message: tuple[Any, ...]) -> tuple[str, Any]:
        self._conn.send(message)
        kind, value = self._conn.recv()
        if kind == "raise":
            raise rebuilt_exception(*value)
        return kind, value


class _Method:
    __slots__ = ("name", "trial")

    def __init__(self, trial: RemoteTrial, name: str) -> None:
        self.trial, self.name = trial, name

    def __call__(self, *args: Any, **kwargs: Any) -> Any:
        return self.trial._ask(("call", self.name, args, kwargs))[1]


def exception_payload(error: BaseException) -> tuple[bytes | None, str, str, str]:
    """What the other side needs to raise error again: the pickled exception where it pickles, its
    type's name, its message and the traceback as text."""
    data: bytes | None
    try:
        data = pickle.dumps(error)
        pickle.loads(data)
    except Exception:  # noqa: BLE001 - an exception that does not travel is described instead
        data = None
    text = "".join(traceback.format_exception(type(error), error, error.__traceback__))
    return data, type(error).__name__, str(error), text


def rebuilt_exception(data: bytes | None, type_name: str, message: str, text: str) -> BaseException:
    if data is not None:
        try:
            error = pickle.loads(data)
            if isinstance(error, BaseException):
                return error
        except Exception:  # noqa: BLE001 - fall back to the description
            pass
    return RuntimeError(f"{type_name}: {message}")


def _is_pruned(error: BaseException) -> bool:
    # Matched by name: the package is not imported here unless the objective refers to it.
    return type(error).__name__ == "TrialPruned" and type(error).__module__ == "_tarvex"


def run_trial(conn: Connection, objective: Any, number: int) -> None:
    """Runs one trial's objective and sends its outcome."""
    trial = RemoteTrial(conn, number)
    try:
        result = objective(trial)
    except BaseException as error:  # noqa: BLE001 - every outcome goes to the owner
        conn.send(("pruned", str(error)) if _is_pruned(error) else ("error", exception_payload(error)))
        if isinstance(error, (SystemExit, KeyboardInterrupt)):
            raise
        return
    try:
        conn.send(("done", result))
    except OSError:
        raise  # the owner is gone
    except Exception:  # noqa: BLE001 - a result that does not pickle fails its trial
        conn.send(("error", exception_payload(TypeError(f"the objective returned {result!r}, which cannot be sent"))))


def serve(conn: Connection) -> None:
    """A worker process's loop: its settings, then trials until told to exit or the owner leaves."""
    objective = None
    while True:
        try:
            message = conn.recv()
        except (EOFError, OSError):
            return
        kind = message[0]
        if kind == "setup":
            if message[1] is not None:  # a process of the owner's machine imports and reads as the owner
                sys.path[:], sys.argv[:] = message[1], message[3]
            try:
                objective = pickle.loads(message[2])
            except BaseException as error:  # noqa: BLE001 - reported to the owner, which stops
                conn.send(("error", exception_payload(error)))
                return
            conn.send(("ready", os.getpid(), socket.gethostname()))
        elif kind == "trial":
            try:
                run_trial(conn, objective, message[1])
            except (EOFError, OSError):  # the owner left (it cancelled the run, or it died): so does this worker
                return
        else:
            return


def process_main(address: str) -> None:
    """A worker process: Ctrl-C in the terminal goes to the owner, which lets running trials finish."""
    signal.signal(signal.SIGINT, signal.SIG_IGN)
    authkey = sys.stdin.buffer.read()
    with Client(address, family="AF_UNIX", authkey=authkey) as conn:
        serve(conn)


def no_delay(conn: Connection) -> None:
    """Small messages go at once: with Nagle's algorithm each round trip over TCP waits for a
    delayed acknowledgement, tens of milliseconds."""
    with socket.fromfd(conn.fileno(), socket.AF_INET, socket.SOCK_STREAM) as sock:
        sock.setsockopt(socket.IPPROTO_TCP, socket.TCP_NODELAY, 1)


def dask_worker(address: tuple[str, int], authkey: bytes) -> None:
    """A Dask task that serves trials until the owner is done: one per job, so a trial costs a
    round trip rather than a task. If its worker dies, Dask runs it again elsewhere and it
    connects as a new worker."""
    with Client(address, family="AF_INET", authkey=authkey) as conn:
        no_delay(conn)
        serve(conn)
