"""GPSampler with several objectives and constraints, in processes sharing a database."""

import math

import pytest

import tarvex as tv
from conftest import run_processes

S = tv.TrialState


def constraint(trial):
    return [trial.params["x"] + trial.params["y"] - 1.5]  # feasible below the line x + y = 1.5


def run_worker(url, seed, multi_objective):
    sampler = tv.GPSampler(seed=seed, n_warmup=4, multi_objective=multi_objective, constraints=constraint)
    study = tv.load_study(study_name="front", storage=url, sampler=sampler)

    def objectives(trial):
        x, y = trial.suggest_float("x", 0, 1), trial.suggest_float("y", 0, 1)
        return x, (1 - math.sqrt(x)) + y  # ZDT1's front where y = 0

    study.optimize(objectives, n_trials=8)


@pytest.mark.parametrize("multi_objective", ["ehvi", "parego"])
def test_two_processes_share_a_constrained_front(url, multi_objective):
    tv.create_study(study_name="front", storage=url, directions=["minimize", "minimize"], constraints=constraint)
    run_processes(run_worker, [(url, seed, multi_objective) for seed in (1, 2)])
    study = tv.load_study(study_name="front", storage=url)
    trials = study.trials
    assert len(trials) == 16 and sorted(t.number for t in trials) == list(range(16))
    assert all(t.state == S.Complete and len(t.values) == 2 and len(t.constraints) == 1 for t in trials)
    # Each process's model sees the other's trials, running ones included; two proposals made at
    # the same moment can still meet at a corner of the box.
    assert len({(t.params["x"], t.params["y"]) for t in trials}) >= 12
    front = study.best_trials
    assert front and all(t.constraints[0] <= 0 for t in front)
