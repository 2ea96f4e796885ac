"""Optimisation runs from Python: threads and the interpreter lock, pruning, the GP sampler."""

import math
import sys
import threading
import time

import pytest

import _tarvex as tv

Min, Max = tv.StudyDirection.Minimize, tv.StudyDirection.Maximize
S = tv.TrialState


def test_serial_run_stays_on_the_calling_python_thread():
    seen = set()
    local = threading.local()

    def objective(trial):
        seen.add(threading.get_ident())
        local.count = getattr(local, "count", 0) + 1
        return local.count

    study = tv.Study(Max)
    worker = threading.Thread(target=lambda: study.optimize(objective, 4))
    worker.start()
    worker.join()
    assert seen == {worker.ident} and study.best_value == 4  # thread-local data persisted


def test_workers_serialise_python_but_overlap_sleeps():
    active = most = 0
    lock = threading.Lock()

    def objective(work):
        def run(trial):
            nonlocal active, most
            with lock:
                active += 1
                most = max(most, active)
            work()
            with lock:
                active -= 1
            return 0.0

        return run

    interval = sys.getswitchinterval()
    sys.setswitchinterval(10.0)  # no preemption between two pure-Python objectives
    try:
        tv.Study(Min).optimize(objective(lambda: sum(range(20000))), 16, n_jobs=4)
    finally:
        sys.setswitchinterval(interval)
    assert most == 1
    study = tv.Study(Min)
    study.optimize(objective(lambda: time.sleep(0.02)), 16, n_jobs=4, timeout=60)
    assert most > 1 and len(study.trials) == 16


def learning_curve(direction, epochs, log):
    """Trial k of every four learns badly; accuracy rises, loss falls. Pruned trials raise."""

    def objective(trial):
        bad = trial.number % 4 == 3
        for epoch in range(1, epochs + 1):
            accuracy = (0.4 if bad else 0.9) - 0.3 / epoch
            value = accuracy if direction == Max else 1 - accuracy
            trial.report(value, epoch)
            log.append(trial.number)
            if trial.should_prune():
                raise tv.TrialPruned()
        return value

    return objective


@pytest.mark.parametrize("direction", [Min, Max])
@pytest.mark.parametrize("make", [tv.MedianPruner, lambda: tv.HyperbandPruner(max_resource=27)])
def test_pruners_stop_the_worse_trials_in_either_direction(direction, make):
    log = []
    study = tv.Study(direction, tv.RandomSampler(1), make())
    study.optimize(learning_curve(direction, 27, log), 24, n_jobs=2)
    states = {t.number: t.state for t in study.trials}
    pruned = [n for n, s in states.items() if s == S.Pruned]
    assert pruned and all(n % 4 == 3 for n in pruned)
    assert all(states[n] == S.Complete for n in states if n % 4 != 3)
    assert len(log) < 24 * 27
    best = study.best_value
    assert (best > 0.85) if direction == Max else (best < 0.15)


def mixed(trial):
    x = trial.suggest_float("x", -5.0, 5.0)
    n = trial.suggest_int("n", 0, 10, step=2)
    c = trial.suggest_categorical("c", ["a", "b"])
    return (x - 1.0) ** 2 + abs(n - 4) + (0 if c == "b" else 3)


def test_gp_search_is_seeded_valid_and_tolerates_odd_values():
    runs = []
    for _ in range(2):
        study = tv.Study(Min, tv.GPSampler(n_warmup=4, n_cand=64, seed=5), tv.MedianPruner())
        study.optimize(mixed, 12)
        runs.append([t.params for t in study.trials])
        for t in study.trials:
            p = t.params
            assert t.state == S.Complete and -5 <= p["x"] <= 5 and p["n"] in range(0, 11, 2) and p["c"] in "ab"
    assert runs[0] == runs[1]
    odd = tv.Study(Min, tv.GPSampler(n_warmup=2, n_cand=32, seed=1))
    values = iter([math.nan, 1.0, math.inf, 2.0] + [0.5] * 6)
    odd.optimize(lambda t: t.suggest_float("x", 0, 1) * 0 + next(values), 10)
    assert [t.state for t in odd.trials] == [S.Complete] * 10
    with pytest.raises(ValueError, match="GPSampler: n_cand must be at least 1."):
        tv.GPSampler(n_cand=0)


def test_a_gp_suggestion_leaves_the_interpreter_to_other_threads():
    study = tv.Study(Min, tv.GPSampler(n_warmup=4, n_cand=2**14, seed=1))
    for i in range(150):  # enqueued values bypass the sampler: no model until the last trial
        study.enqueue_trial({"x": (i * 0.618) % 1, "y": (i * 0.377) % 1})
    counter, progress, stop = [0], [], threading.Event()

    def spin():
        while not stop.is_set():
            counter[0] += 1
            time.sleep(0)

    def objective(trial):
        before = counter[0]
        x, y = trial.suggest_float("x", 0, 1), trial.suggest_float("y", 0, 1)
        progress.append(counter[0] - before)
        return (x - 0.3) ** 2 + y

    spinner = threading.Thread(target=spin)
    spinner.start()
    try:
        study.optimize(objective, 151)
    finally:
        stop.set()
        spinner.join()
    assert progress[-1] > 100  # the model's fit ran while the other thread did
    with pytest.raises(ValueError, match="GPSampler: a multi-objective study"):
        tv.Study([Min, Max], tv.GPSampler()).optimize_mo(lambda t: [0, 0], 1)
