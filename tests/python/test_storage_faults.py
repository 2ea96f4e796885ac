"""Stored studies under attack: workers stalled, killed, blocked or on a clock that is off, readers
that may not write, storages that vanish, and passwords that must never show. Every process runs
with a bounded wait."""

import contextlib
import datetime
import json
import os
import signal
import subprocess
import sys
import time
from urllib.parse import quote

import pytest

import tarvex as tv
from conftest import database_url, psql, worker

S = tv.TrialState
SECRET = "Hu/nt?er2@Pa55"  # every character a URL's parts end at
PIECES = ("Hu/nt", "nt?er", "er2@P", "Pa55", quote(SECRET, safe=""))


def read(url, **options):
    """The study 's' (or 'killed') as a fresh process would read it."""
    storage = tv.DatabaseStorage(url, **options)
    name = "killed" if "killed" in tv.study_names(storage) else "s"
    return tv.load_study(study_name=name, storage=storage).trials


def stop_backends(database):
    """Freezes the server processes that serve database: to its clients the server stops answering."""
    pids = [int(p) for p in psql(f"SELECT pid FROM pg_stat_activity WHERE datname = '{database}'").split()]
    for pid in pids:
        os.kill(pid, signal.SIGSTOP)
    return pids


def test_passwords_are_parsed_as_libpq_does_and_never_shown(pg_database, tmp_path):
    psql(
        "DO $$ BEGIN IF NOT EXISTS (SELECT FROM pg_roles WHERE rolname = 'tarvex_secret') THEN "
        f"CREATE ROLE tarvex_secret LOGIN PASSWORD '{SECRET}'; END IF; END $$"
    )
    psql(
        f"GRANT ALL ON SCHEMA public TO tarvex_secret; ALTER DATABASE {pg_database} OWNER TO tarvex_secret", pg_database
    )
    at = database_url(pg_database).split("@", 1)[1]  # host:port/database
    forms = [
        f"postgresql://tarvex_secret:{SECRET}@{at}",
        f"postgresql://tarvex_secret:{quote(SECRET, safe='')}@{at}",
        f"postgresql://tarvex_secret@{at}?password={quote(SECRET, safe='')}",
        f"postgresql://tarvex_secret@{at}?password=wrong&password={quote(SECRET, safe='')}",
    ]
    for url in forms:
        study = tv.create_study(storage=url, study_name="s", load_if_exists=True)
        study.optimize(lambda t: t.suggest_float("x", 0, 1), 1)
        study.report(str(tmp_path / "r.html"))
        cli = subprocess.run(
            [sys.executable, "-m", "tarvex", "best", "--storage", url, "--study", "none"],
            capture_output=True,
            text=True,
            timeout=60,
        )
        shown = [
            repr(study),
            study.storage.url,
            repr(study.storage),
            (tmp_path / "r.html").read_text()[:20000],
            cli.stdout + cli.stderr,
        ]
        assert cli.returncode == 2 and "no study named 'none'" in cli.stderr
        assert not any(piece in text for piece in PIECES for text in shown), url
    assert len(tv.load_study(study_name="s", storage=forms[0]).trials) == 4
    wrong = f"postgresql://tarvex_secret:{quote('wr/ong?pw@x')}@{at}"
    unreachable = [form.replace(at.split("/")[0], "127.0.0.1:1") for form in forms]
    for url in [wrong, *unreachable]:
        with pytest.raises(RuntimeError) as error:
            tv.DatabaseStorage(url, timeout=5)
        assert "cannot connect" in str(error.value)
        assert not any(piece in str(error.value) for piece in (*PIECES, "wr/ong", "ong?pw")), str(error.value)


def test_readers_need_no_write_access(url, tmp_path):
    hang = worker("hang", url, 2)
    assert hang.stdout.readline() == "running\n"
    hang.kill()
    hang.wait()
    time.sleep(1.1)  # past the grace period: a reader that may write would mark the trial lost
    code = (
        "import json, sys, tarvex as tv\n"
        "s = tv.load_study(study_name='killed', storage=tv.DatabaseStorage(sys.argv[1], heartbeat_grace=1.0))\n"
        "print(json.dumps([[t.state.name, t.params, t.intermediate_values, t.user_attrs] for t in s.trials]))"
    )
    if url.startswith("sqlite"):
        folder = str(tmp_path)
        # As root only a read-only mount keeps the file from being written.
        argv = (
            ["unshare", "-m", "sh", "-c", f'mount --bind -o ro "{folder}" "{folder}" && exec "$@"', "reader"]
            if os.geteuid() == 0
            else []
        )
        if not argv:
            os.chmod(folder, 0o555)
        reader_url = url
    else:
        database = url.rsplit("/", 1)[1]
        # Roles belong to the whole server, which suites on other interpreters share at once.
        reader = f"reader_{database}"
        psql(
            f"DROP ROLE IF EXISTS {reader}; CREATE ROLE {reader} LOGIN; "
            f"GRANT SELECT ON ALL TABLES IN SCHEMA public TO {reader}",
            database,
        )
        argv, reader_url = [], database_url(database, user=reader)
    try:
        run = subprocess.run(
            [*argv, sys.executable, "-c", code, reader_url], capture_output=True, text=True, timeout=60
        )
        cli = subprocess.run(
            [
                *argv,
                sys.executable,
                "-m",
                "tarvex",
                "trials",
                "--storage",
                reader_url,
                "--study",
                "killed",
                "--format",
                "json",
            ],
            capture_output=True,
            text=True,
            timeout=60,
        )
    finally:
        if url.startswith("sqlite"):
            os.chmod(str(tmp_path), 0o755)
        else:
            psql(f"DROP OWNED BY {reader}; DROP ROLE {reader}", database)
    assert run.returncode == 0, run.stderr
    trials = json.loads(run.stdout)
    # Unmarked, but readable, with what the trial reported and kept as it ran.
    assert [t[0] for t in trials] == ["Complete", "Complete", "Running"]
    assert trials[2][2:] == [[[1, 0.25]], {"epoch": [1, "warm"]}] and set(trials[2][1]) == {"x"}
    assert cli.returncode == 0 and len(json.loads(cli.stdout)) == 3, cli.stderr
    killed = read(url, heartbeat_grace=1.0)[2]  # one that may write marks it, ending at its last heartbeat
    assert killed.state == S.Failed and killed.fail_reason == "heartbeat lost"
    assert killed.intermediate_values == [(1, 0.25)] and killed.duration.total_seconds() < 1.0


@pytest.mark.parametrize("backend", ["sqlite", "postgresql"])
def test_a_stalled_worker_keeps_its_result(backend, tmp_path, request):
    url = f"sqlite:///{tmp_path}/s.db" if backend == "sqlite" else database_url(request.getfixturevalue("pg_database"))
    stalled = worker("stall", url, 3)
    assert stalled.stdout.readline() == "running\n"
    stalled.send_signal(signal.SIGSTOP)
    time.sleep(1.6)
    seen = read(url, heartbeat_grace=1.0)[0]
    stalled.send_signal(signal.SIGCONT)
    out, err = stalled.communicate(timeout=60)
    if backend == "sqlite":  # the stalled process still holds its lock: it is alive
        assert seen.state == S.Running and json.loads(out) == [["Complete", {}]]
        return
    assert seen.state == S.Failed and seen.fail_reason == "heartbeat lost"
    assert json.loads(out) == [["Complete", {"presumed_lost": "heartbeat lost"}]]
    assert "Trial 0 was presumed lost" in err and err.count("\n") == 1
    back = read(url)[0]
    assert back.state == S.Complete and back.value is not None and back.fail_reason is None


def test_a_worker_waiting_for_the_lock_is_not_lost(tmp_path):
    path = tmp_path / "s.db"
    stalled = worker("stall", f"sqlite:///{path}", 3.5)
    assert stalled.stdout.readline() == "running\n"
    locker = worker("lock", path, 2.5)  # no heartbeat can be written meanwhile
    assert locker.stdout.readline() == "locked\n"
    locker.wait(timeout=30)
    assert read(f"sqlite:///{path}", heartbeat_grace=1.0)[0].state == S.Running
    out, _ = stalled.communicate(timeout=60)
    assert json.loads(out) == [["Complete", {}]]


# The calendar clock of a host that runs 90 s behind (its monotonic clock has no time of day to be off by).
CLOCK_BEHIND = r"""
#define _GNU_SOURCE
#include <dlfcn.h>
#include <time.h>
int clock_gettime(clockid_t id, struct timespec* ts) {
    static int (*real)(clockid_t, struct timespec*);
    if (!real) real = (int (*)(clockid_t, struct timespec*))dlsym(RTLD_NEXT, "clock_gettime");
    const int r = real(id, ts);
    if (r == 0 && (id == CLOCK_REALTIME || id == CLOCK_REALTIME_COARSE)) ts->tv_sec -= 90;
    return r;
}
"""


def test_heartbeats_keep_the_database_clock(pg_database, tmp_path):
    url = database_url(pg_database)
    (tmp_path / "behind.c").write_text(CLOCK_BEHIND)
    subprocess.run(
        ["g++", "-x", "c", "-shared", "-fPIC", "-o", str(tmp_path / "behind.so"), str(tmp_path / "behind.c"), "-ldl"],
        check=True,
        timeout=60,
    )
    # Heartbeats judged by the worker's own clock would be 90 s stale.
    behind = worker("stall", url, 3, env={**os.environ, "LD_PRELOAD": str(tmp_path / "behind.so")})
    assert behind.stdout.readline() == "running\n", behind.stderr.read()
    time.sleep(1.5)
    running = read(url, heartbeat_grace=1.0)[0]
    assert running.state == S.Running and (datetime.datetime.now() - running.datetime_start).total_seconds() > 80
    out, _ = behind.communicate(timeout=60)
    assert json.loads(out) == [["Complete", {}]]
    with pytest.raises(ValueError, match="heartbeat_grace must be .* at least 0.5"):
        tv.DatabaseStorage(url, heartbeat_grace=0.4)


@contextlib.contextmanager
def blocked(block, timeout, n_jobs, tmp_path, request):
    """A run of storage_worker.py's "blocked" mode whose storage stops answering at its trial 3:
    another process takes SQLite's write lock, or the PostgreSQL server freezes."""
    if block == "sqlite lock":
        path = tmp_path / "s.db"
        url = f"sqlite:///{path}"
    else:
        database = request.getfixturevalue("pg_database")
        url = database_url(database)
    tv.create_study(storage=url, study_name="s")
    run = worker("blocked", url, timeout, n_jobs)
    assert run.stdout.readline() == "blocking\n"
    holder, frozen = (worker("lock", path, 30), []) if block == "sqlite lock" else (None, stop_backends(database))
    assert holder is None or holder.stdout.readline() == "locked\n"
    try:
        yield run, url
    finally:
        for pid in frozen:
            os.kill(pid, signal.SIGCONT)
        if holder:
            holder.kill()
            holder.wait()


@pytest.mark.parametrize("n_jobs", [1, 2])
@pytest.mark.parametrize("block", ["sqlite lock", "frozen server"])
def test_ctrl_c_stops_a_run_blocked_on_its_storage(block, n_jobs, tmp_path, request):
    with blocked(block, 60, n_jobs, tmp_path, request) as (run, url):
        time.sleep(1.5)
        interrupted = time.monotonic()
        run.send_signal(signal.SIGINT)
        out, _ = run.communicate(timeout=30)
        assert time.monotonic() - interrupted < 3.0
    assert json.loads(out)[0] == "KeyboardInterrupt"
    trials = read(url)
    assert [t.state for t in trials[:3]] == [S.Complete] * 3  # finished ones are kept


@pytest.mark.parametrize("block", ["sqlite lock", "frozen server"])
def test_waits_end_at_the_timeout_saying_what_they_waited_for(block, tmp_path, request):
    with blocked(block, 1, 1, tmp_path, request) as (run, _):
        out, _ = run.communicate(timeout=30)
    kind, message = json.loads(out)
    assert kind == "StorageError" and "gave up waiting for" in message and "after 1 s" in message, message
    assert ("lock" if block == "sqlite lock" else "server") in message


def test_enqueued_trials_are_taken_once_by_any_process(url):
    tv.create_study(storage=url, study_name="s")
    enqueuer = worker("enqueue", url, 6)
    assert enqueuer.wait(timeout=60) == 0  # the process that enqueued is gone
    takers = [worker("take", url, 5) for _ in range(2)]
    taken = [x for w in takers for x in json.loads(w.communicate(timeout=120)[0])]
    assert sorted(x for x in taken if x < 100) == [0.0, 1.0, 2.0, 3.0, 4.0, 5.0]
    assert len(taken) == 10 and all(100 <= x <= 200 for x in taken if x >= 6)


def test_a_deleted_database_file_fails_the_run(tmp_path):
    path = tmp_path / "s.db"
    study = tv.create_study(storage=f"sqlite:///{path}", study_name="s")

    def objective(trial):
        if trial.number == 3:
            path.unlink()
        return trial.suggest_float("x", 0, 1)

    with pytest.raises(RuntimeError, match="database file was deleted or replaced"):
        study.optimize(objective, 10)


def test_a_study_deleted_under_its_workers_is_named(url):
    study = tv.create_study(storage=url, study_name="s")

    def objective(trial):
        x = trial.suggest_float("x", 0, 1)
        if trial.number == 2:
            tv.delete_study(study_name="s", storage=url)  # its value is stored into a study that is gone
        return x

    with pytest.raises(RuntimeError, match="the study 's' was deleted while this process was working on it"):
        study.optimize(objective, 5)


@pytest.mark.parametrize("where", ["memory", "sqlite", "postgresql"])
def test_text_with_nul_is_refused_wherever_the_study_lives(where, tmp_path, request):
    url = (
        None
        if where == "memory"
        else (
            f"sqlite:///{tmp_path}/s.db" if where == "sqlite" else database_url(request.getfixturevalue("pg_database"))
        )
    )
    with pytest.raises(ValueError, match="study_name: text must not contain NUL"):
        tv.create_study(storage=url, study_name="a\0b")
    study = tv.create_study(storage=url)
    calls = {"name": lambda t: t.suggest_float("a\0b", 0, 1), "key": lambda t: t.set_user_attr("k\0", 1)}
    for call in calls.values():
        with pytest.raises(ValueError, match="NUL"):
            study.optimize(call, 1)
    with pytest.raises(ValueError, match="NUL"):
        study.enqueue_trial({"x\0": 1})
    # A choice is kept as its JSON text, where a NUL is an escape: it comes back exactly.
    study.optimize(lambda t: len(t.suggest_categorical("c", ["p\0q", "r"])), 4)
    assert {t.params["c"] for t in study.trials if t.state == S.Complete} <= {"p\0q", "r"}
    assert [t.state for t in study.trials] == [S.Failed, S.Failed] + [S.Complete] * 4


def test_names_too_long_for_the_index_fail_the_trial_and_say_so(pg_database):
    url = database_url(pg_database)
    long_name = os.urandom(1500).hex()  # 3000 bytes that do not compress
    with pytest.raises(ValueError, match="study name '[0-9a-f]{20}.*' .3000 bytes. is too long"):
        tv.create_study(storage=url, study_name=long_name)
    study = tv.create_study(storage=url, study_name="s")
    for call, what in (
        (lambda t: t.suggest_float(long_name, 0, 1), "parameter name"),
        (lambda t: t.set_user_attr(long_name, 1), "user attribute key"),
    ):
        with pytest.raises(ValueError, match=f"the {what} '[0-9a-f]{{20}}.*' .3000 bytes. is too long"):
            study.optimize(call, 1)
    assert [t.state for t in read(url)] == [S.Failed, S.Failed]
