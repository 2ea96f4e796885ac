"""Where a run's objectives go: this process's threads, worker processes, or a Dask cluster."""

from __future__ import annotations

from typing import Any

from ._dask_executor import DaskExecutor
from ._extras import require
from ._process_executor import ProcessExecutor
from ._remote import Executor


def open_executor(executor: Any, objective: Any, n_jobs: int) -> Executor | None:
    """The executor a run asked for, started; None for the run's own threads."""
    if isinstance(executor, str) and executor == "thread":
        return None
    if isinstance(executor, str) and executor == "process":
        return ProcessExecutor(pickled(objective, "process", 'executor="process"'), n_jobs)
    if type(executor).__module__.startswith("distributed") and hasattr(executor, "submit"):
        return DaskExecutor(executor, pickled(objective, "dask", "executor=<dask Client>"), n_jobs)
    raise ValueError(f'executor must be "thread", "process" or a dask.distributed.Client, got {executor!r}')


def pickled(objective: Any, extra: str, feature: str) -> bytes:
    cloudpickle = require("cloudpickle", extra, feature)
    try:
        data: bytes = cloudpickle.dumps(objective)
    except Exception as error:  # noqa: BLE001 - any failure to pickle means the same to the user
        raise TypeError(
            f"the objective cannot be sent to worker processes ({type(error).__name__}: {error}); "
            "it and what it refers to must pickle: open files, locks, connections and clients inside it"
        ) from error
    return data
