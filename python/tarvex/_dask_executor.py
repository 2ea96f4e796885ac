"""An executor that is a dask.distributed.Client: one long task per job on the cluster, each
connecting back to the study's owner over TCP (authenticated by a key sent with the task) and
running trials for it one at a time."""

from __future__ import annotations

import os
import socket
from multiprocessing.connection import Listener
from typing import Any
from urllib.parse import urlsplit

from ._worker import dask_worker
from ._worker_pool import Worker, WorkerPool


def _reachable_host(client: Any) -> str:
    """The address of this machine that the cluster's scheduler, and so its workers, reach."""
    parts = urlsplit(client.scheduler.address or "")
    host = parts.hostname or ""
    if parts.scheme == "inproc" or host in ("", "localhost") or host.startswith("127."):
        return "127.0.0.1"
    with socket.socket(socket.AF_INET, socket.SOCK_DGRAM) as probe:
        probe.connect((host, parts.port or 8786))  # no packet is sent: this only picks the route
        return str(probe.getsockname()[0])


class DaskExecutor(WorkerPool):
    def __init__(self, client: Any, objective: bytes, n_jobs: int) -> None:
        self._client = client
        authkey = os.urandom(32)
        listener = Listener((_reachable_host(client), 0), family="AF_INET", authkey=authkey)
        super().__init__(listener, ("setup", None, objective, None), tcp=True)
        # pure=False: n_jobs distinct tasks, which the scheduler spreads over its workers' threads.
        self._futures = [
            client.submit(
                dask_worker, listener.address, authkey, pure=False, key=f"tarvex-worker-{i}-{os.urandom(4).hex()}"
            )
            for i in range(n_jobs)
        ]
        try:
            self.wait_for_first()
        except BaseException:
            self.close()
            raise

    def launch(self) -> None:
        pass  # Dask runs a lost worker's task again once it has restarted the worker

    def failed_to_start(self) -> BaseException | None:
        if all(f.done() for f in self._futures):
            failed = [f for f in self._futures if f.status == "error"]
            cause = failed[0].exception() if failed else "they ended"
            return RuntimeError(f"no Dask worker runs the study's trials any more: {cause!r}")
        return None

    def describe_loss(self, worker: Worker) -> str:
        return f"the Dask worker running this trial (pid {worker.pid} on {worker.host}) died or lost its connection"

    def stop_workers(self) -> None:
        self._client.cancel(self._futures, force=True)
        with self.lock:
            workers = list(self.workers)
        for worker in workers:
            worker.conn.close()

    def close(self) -> None:
        super().close()
        self._client.cancel(self._futures)
