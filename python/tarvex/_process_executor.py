"""executor="process": worker processes on this machine, one per job, each running one trial at a
time for the study's owner over a Unix socket."""

from __future__ import annotations

import os
import shutil
import subprocess
import sys
import tempfile
from multiprocessing.connection import Listener
from pathlib import Path

from ._worker_pool import Worker, WorkerPool

# The worker loads _worker.py by path: importing the package would cost every process the
# compiled module and more before its first trial.
_BOOT = (
    "import importlib.util as u, sys; s = u.spec_from_file_location('tarvex_worker', sys.argv[1]); "
    "m = u.module_from_spec(s); s.loader.exec_module(m); m.process_main(sys.argv[2])"
)


class ProcessExecutor(WorkerPool):
    def __init__(self, objective: bytes, n_workers: int) -> None:
        self._authkey = os.urandom(32)
        self._dir = tempfile.mkdtemp(prefix="tarvex-workers-")
        listener = Listener(os.path.join(self._dir, "socket"), family="AF_UNIX", authkey=self._authkey)
        self._processes: dict[int, subprocess.Popen[bytes]] = {}
        super().__init__(listener, ("setup", list(sys.path), objective, list(sys.argv)), tcp=False)
        try:
            for _ in range(n_workers):
                self.launch()
            self.wait_for_first()
        except BaseException:
            self.close()
            raise

    def launch(self) -> None:
        process = subprocess.Popen(
            [sys.executable, "-c", _BOOT, str(Path(__file__).with_name("_worker.py")), self._listener.address],
            stdin=subprocess.PIPE,
        )
        assert process.stdin is not None
        process.stdin.write(self._authkey)
        process.stdin.close()
        with self.lock:
            self._processes[process.pid] = process

    def failed_to_start(self) -> BaseException | None:
        with self.lock:
            connected = {w.pid for w in self.workers}
            gone = [p for p in self._processes.values() if p.pid not in connected and p.poll() is not None]
            for process in gone:
                del self._processes[process.pid]
        if gone:
            return RuntimeError(f"a worker process exited as it started, exit code {gone[0].returncode}")
        return None

    def describe_loss(self, worker: Worker) -> str:
        with self.lock:
            process = self._processes.pop(worker.pid, None)
        code = None
        if process is not None:
            try:
                code = process.wait(timeout=5)
            except subprocess.TimeoutExpired:
                process.kill()
                code = process.wait()
        return f"the worker process running this trial (pid {worker.pid}) died, exit code {code}"

    def stop_workers(self) -> None:
        with self.lock:
            processes = list(self._processes.values())
        for process in processes:
            process.kill()

    def close(self) -> None:
        super().close()
        with self.lock:
            processes = list(self._processes.values())
            self._processes.clear()
        for process in processes:
            try:
                process.wait(timeout=2)
            except subprocess.TimeoutExpired:
                process.kill()
                process.wait()
        shutil.rmtree(self._dir, ignore_errors=True)
