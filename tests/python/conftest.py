"""What the database tests share: the test server started by scripts/test.sh, a fresh database of
each backend per test, and worker processes (storage_worker.py) run with bounded waits."""

import multiprocessing
import os
import subprocess
import sys
import uuid
from pathlib import Path

import pytest

WORKER = [sys.executable, str(Path(__file__).with_name("storage_worker.py"))]


def server_url():
    url = os.environ.get("TARVEX_TEST_POSTGRES")
    if not url:
        pytest.fail("TARVEX_TEST_POSTGRES is not set: run scripts/test.sh, which starts a PostgreSQL server")
    return url


def database_url(name, user=None):
    base = server_url()
    if user:
        base = base.replace("//tarvex@", f"//{user}@", 1)
    return base[: base.rfind("/") + 1] + name


def psql(sql, database="postgres"):
    """Runs sql as the server's superuser; returns what it printed (unaligned, tuples only)."""
    return subprocess.run(
        ["psql", "-q", "-tA", "-v", "ON_ERROR_STOP=1", database_url(database), "-c", sql],
        check=True,
        capture_output=True,
        text=True,
    ).stdout


@pytest.fixture
def pg_database():
    """The name of a new, empty PostgreSQL database, dropped afterwards."""
    name = f"py_{uuid.uuid4().hex[:16]}"
    psql(f"CREATE DATABASE {name}")
    yield name
    psql(f"DROP DATABASE {name} WITH (FORCE)")


@pytest.fixture(params=["sqlite", "postgresql"])
def url(request, tmp_path):
    """A new, empty database of each backend."""
    if request.param == "sqlite":
        yield f"sqlite:///{tmp_path}/study.db"
        return
    yield database_url(request.getfixturevalue("pg_database"))


def worker(*args, **popen):
    """A storage_worker.py process; its output is text, read line by line."""
    return subprocess.Popen(
        [*WORKER, *map(str, args)], stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True, **popen
    )


def run_processes(target, args_per_process, timeout=120):
    """Runs target in one fresh (spawned) process per argument tuple, and checks each exits 0."""
    context = multiprocessing.get_context("spawn")
    processes = [context.Process(target=target, args=args) for args in args_per_process]
    for p in processes:
        p.start()
    for p in processes:
        p.join(timeout=timeout)
        assert p.exitcode == 0
