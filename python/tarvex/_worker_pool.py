"""Workers that connected back to the study's owner, each running one trial at a time: a trial
takes an idle worker, runs on it, and gives it back; a worker lost fails its trial and is
replaced by whatever started it."""

from __future__ import annotations

import queue
import threading
import time
from multiprocessing.connection import Connection, Listener
from typing import Any

from ._remote import drive, raised_remotely
from ._worker import no_delay
from .exceptions import WorkerLostError

_START_TIMEOUT = 120.0  # seconds for the first worker to start and load the objective


class Worker:
    def __init__(self, conn: Connection, pid: int, host: str) -> None:
        self.conn, self.pid, self.host = conn, pid, host


class WorkerPool:
    """Subclasses start the workers (launch) and say why one was lost (describe_loss)."""

    def __init__(self, listener: Listener, setup: tuple[Any, ...], tcp: bool) -> None:
        self.cancelled = threading.Event()
        self.lock = threading.Lock()
        self.closing = False
        self.workers: list[Worker] = []
        self._listener, self._setup, self._tcp = listener, setup, tcp
        self._idle: queue.Queue[Worker | BaseException] = queue.Queue()
        threading.Thread(target=self._accept, name="tarvex-accept", daemon=True).start()

    # -- what subclasses provide ----------------------------------------------------------------

    def launch(self) -> None:
        raise NotImplementedError

    def failed_to_start(self) -> BaseException | None:
        """Why no worker will come, if that is known; polled while a trial waits for one."""
        return None

    def describe_loss(self, worker: Worker) -> str:
        return f"the worker running this trial (pid {worker.pid} on {worker.host}) died"

    def stop_workers(self) -> None:
        """Ends every worker at once (a second Ctrl-C)."""

    # -- the pool --------------------------------------------------------------------------------

    def wait_for_first(self) -> None:
        """Returns once one worker runs, which shows the objective loads there; raises otherwise."""
        deadline = time.monotonic() + _START_TIMEOUT
        first = self._take(deadline)
        self._idle.put(first)

    def __call__(self, trial: Any) -> Any:
        worker = self._take(None)
        try:
            result = drive(worker.conn, trial, self.cancelled)
        except WorkerLostError:
            reason = self.describe_loss(worker)
            self._lose(worker)
            if self.cancelled.is_set():
                raise WorkerLostError("the trial was cancelled while it ran in a worker (a second Ctrl-C)") from None
            raise WorkerLostError(reason) from None
        except BaseException:
            self._idle.put(worker)
            raise
        self._idle.put(worker)
        return result

    def cancel(self) -> None:
        self.cancelled.set()
        self.stop_workers()

    def close(self) -> None:
        with self.lock:
            self.closing = True
            workers, self.workers = self.workers, []
        for worker in workers:
            try:
                worker.conn.send(("exit",))
            except OSError:
                pass
            worker.conn.close()
        self._listener.close()

    def _take(self, deadline: float | None) -> Worker:
        while True:
            try:
                item = self._idle.get(timeout=0.1)
            except queue.Empty:
                failure = self.failed_to_start()
                if failure is not None:
                    self._idle.put(failure)
                elif self.cancelled.is_set():
                    raise WorkerLostError("the trial was cancelled before a worker took it (a second Ctrl-C)") from None
                elif deadline is not None and time.monotonic() > deadline:
                    raise RuntimeError(f"no worker started within {_START_TIMEOUT:.0f} s") from None
                continue
            if isinstance(item, BaseException):
                self._idle.put(item)  # every waiting thread sees it
                raise item
            return item

    def _lose(self, worker: Worker) -> None:
        worker.conn.close()
        with self.lock:
            if worker in self.workers:
                self.workers.remove(worker)
            replace = not self.closing and not self.cancelled.is_set()
        if replace:
            self.launch()

    def _accept(self) -> None:
        while True:
            try:
                conn = self._listener.accept()
            except (OSError, EOFError):
                with self.lock:
                    if self.closing:
                        return
                continue  # a stranger without the key
            try:
                if self._tcp:
                    no_delay(conn)
                conn.send(self._setup)
                reply = conn.recv()
            except (OSError, EOFError):
                conn.close()
                continue
            if reply[0] == "error":
                error = raised_remotely(reply[1])
                self._idle.put(TypeError(f"the objective could not be loaded in a worker: {error!r}"))
                conn.close()
                continue
            worker = Worker(conn, reply[1], reply[2])
            with self.lock:
                accepted = not self.closing
                if accepted:
                    self.workers.append(worker)
            if accepted:
                self._idle.put(worker)
            else:
                conn.close()
