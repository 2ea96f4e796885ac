import gc
import sys
import threading
import time

import pytest

import _tarvex as tv

Min, Max = tv.StudyDirection.Minimize, tv.StudyDirection.Maximize
S = tv.TrialState


def states(study):
    return [t.state for t in study.trials]


def test_results_convert_or_fail_the_trial():
    study = tv.Study(Min)
    for result in (3, 2.5, True, None, "1.0", [1.0]):
        assert study.optimize(lambda t, r=result: r, 1) is None
    assert states(study) == [S.Complete] * 3 + [S.Failed] * 3
    assert [t.values for t in study.trials[:3]] == [[3.0], [2.5], [1.0]]
    assert type(study.trials[0].value) is float


def test_multi_objective_sequences():
    study = tv.Study([Min, Max])
    for result in ((1.0, 2.0), [1, 2], (x for x in (1.0, 2.0)), "12", [1.0, None], [1.0], 5):
        study.optimize_mo(lambda t, r=result: r, 1)
    assert states(study) == [S.Complete] * 3 + [S.Failed] * 4
    assert all(t.values == [1.0, 2.0] for t in study.trials[:3])


def test_raising_objectives_fail_or_prune_their_trial():
    class Stop(tv.TrialPruned):
        pass

    raised = iter([ValueError("v"), ZeroDivisionError(), KeyboardInterrupt(), tv.TrialPruned(), Stop()])

    def objective(trial):
        trial.suggest_float("x", 0, 1)
        trial.report(0.5, 1)
        raise next(raised)

    study = tv.Study(Min)
    study.optimize(objective, 5)
    assert states(study) == [S.Failed] * 3 + [S.Pruned] * 2
    pruned = study.trials[-1]
    assert pruned.values == [] and pruned.intermediate_values == [(1, 0.5)] and "x" in pruned.params
    study.optimize_mo(lambda t: (_ for _ in ()).throw(tv.TrialPruned()), 2, n_jobs=2)
    assert states(study)[-2:] == [S.Pruned] * 2


def test_view_is_the_running_trial_and_safe_to_keep():
    kept = []

    def objective(trial):
        kept.append(trial)
        assert trial.state == S.Running
        return trial.suggest_float("x", 0, 1)

    study = tv.Study(Min)
    study.optimize(objective, 3, n_jobs=2)
    stored = {t.trial_id: t for t in study.trials}
    for view in kept:
        assert view.number in stored and view.params == stored[view.number].params
        assert view.state == S.Running and view.should_prune() is False
        with pytest.raises(RuntimeError, match="Trial is not attached to a Study."):
            view.suggest_float("y", 0, 1)
        assert view.suggest_float("x", 5, 6) == stored[view.number].params["x"]  # held values still answer


def test_stored_copies_outlive_their_study():
    study = tv.Study(Min)
    study.optimize(lambda t: t.suggest_int("n", 0, 9), 2)
    best, trials, front = study.best_trial, study.trials, study.pareto_front
    assert 0 <= best.suggest_float("fresh", 0, 1) <= 1  # reaches the live study
    del study
    gc.collect()
    for trial in [best, *trials, *front]:
        with pytest.raises(RuntimeError, match="Trial is not attached to a Study."):
            trial.suggest_float("new", 0, 1)
        assert trial.should_prune() is False
        assert trial.state == S.Complete and "n" in trial.params


def test_runs_that_do_nothing_or_refuse():
    study = tv.Study(Min)
    study.optimize(lambda t: 0, 5, n_jobs=0)
    study.optimize(lambda t: 0, 0)
    study.optimize(lambda t: 0, 5, timeout=0.0)
    assert study.trials == []
    with pytest.raises(ValueError, match="vector::reserve"):
        study.optimize(lambda t: 0, 5, n_jobs=-2)
    with pytest.raises(ValueError, match="timeout must not be NaN"):
        study.optimize(lambda t: 0, 5, timeout=float("nan"))
    study.optimize(lambda t: 0, 3, n_jobs=-1)
    study.optimize(lambda t: 0, 2, timeout=1e300)
    assert len(study.trials) == 5


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
    assert seen == {worker.ident}
    assert study.best_value == 4  # thread-local data persisted between trials


def test_workers_serialise_python_but_overlap_sleeps():
    active = 0
    most = 0
    lock = threading.Lock()

    def spin(trial):
        nonlocal active, most
        with lock:
            active += 1
            most = max(most, active)
        total = sum(range(20000))  # pure Python: holds the interpreter lock throughout
        with lock:
            active -= 1
        return total

    # A long switch interval keeps the interpreter from preempting one objective for another.
    interval = sys.getswitchinterval()
    sys.setswitchinterval(10.0)
    try:
        tv.Study(Min).optimize(spin, 16, n_jobs=4)
    finally:
        sys.setswitchinterval(interval)
    assert most == 1

    def nap(trial):
        nonlocal active, most
        with lock:
            active += 1
            most = max(most, active)
        time.sleep(0.02)
        with lock:
            active -= 1
        return 0.0

    most = 0
    study = tv.Study(Min)
    study.optimize(nap, 16, n_jobs=4)
    assert most > 1 and len(study.trials) == 16
