"""The model-based samplers on database studies: threads with a pruner and ask/tell, and processes
that share the study and never repeat a configuration the database already holds."""

import pytest

import tarvex as tv
from conftest import run_processes

SAMPLERS = {
    "tpe": lambda seed: tv.TPESampler(seed=seed, n_startup_trials=4),
    "cmaes": lambda seed: tv.CMAESSampler(seed=seed),
    "auto": lambda seed: tv.AutoSampler(max_gp_trials=8, seed=seed),
}


def curve(trial):
    x = trial.suggest_float("x", -5, 5)
    for step in range(3):
        trial.report((x - 1) ** 2 + 1 / (step + 1), step)
        if trial.should_prune():
            raise tv.TrialPruned()
    if x > 4.5:
        return float("nan")  # ranks with the failed trials, last
    return (x - 1) ** 2


@pytest.mark.parametrize("name", SAMPLERS)
def test_threads_pruners_and_ask_tell_on_a_database(url, name):
    study = tv.create_study(sampler=SAMPLERS[name](3), pruner=tv.MedianPruner(n_startup_trials=5), storage=url)
    study.optimize(curve, n_trials=40, n_jobs=2)
    trial = study.ask()
    try:
        study.tell(trial, curve(trial))
    except tv.TrialPruned:
        study.tell(trial, state=tv.TrialState.Pruned)
    assert len(study.trials) == 41 and sorted(t.number for t in study.trials) == list(range(41))
    assert study.best_value < 0.1


def run_worker(url, name, seed):
    study = tv.load_study(study_name="shared", storage=url, sampler=SAMPLERS[name](seed))
    study.optimize(lambda t: (t.suggest_int("a", 0, 7) - 3) ** 2 + t.suggest_int("b", 0, 7), n_trials=15)


@pytest.mark.parametrize("name", SAMPLERS)
def test_processes_sharing_a_database_try_each_configuration_once(tmp_path, name):
    url = f"sqlite:///{tmp_path / 'shared.db'}"
    tv.create_study(study_name="shared", storage=url)
    run_processes(run_worker, [(url, name, seed) for seed in (1, 2)])
    study = tv.load_study(study_name="shared", storage=url)
    assert len(study.trials) == 30
    # The first draws of each process are independent; the model's proposals are never a
    # configuration already stored.
    assert len({tuple(sorted(t.params.items())) for t in study.trials}) >= 28
    if name == "auto":  # the choice is kept on the stored trials
        assert {t.system_attrs["auto_sampler"] for t in study.trials} == {"GPSampler", "CMAESSampler"}
