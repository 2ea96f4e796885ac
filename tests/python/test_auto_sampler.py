"""AutoSampler from the package: the choice on each trial and in the log, for one objective and several."""

import logging

import pytest

import tarvex as tv


def bowl(trial):
    return (trial.suggest_float("x", -5, 5) - 1) ** 2 + (trial.suggest_int("k", 0, 9) - 4) ** 2


def test_each_trial_records_the_choice_and_the_log_names_it(caplog):
    sampler = tv.AutoSampler(max_gp_trials=10, seed=1)
    assert repr(sampler) == "AutoSampler(max_gp_trials=10, max_gp_trials_multi_objective=200, seed=1)"
    study = tv.create_study(sampler=sampler)
    with caplog.at_level(logging.INFO, logger="tarvex"):
        study.optimize(bowl, n_trials=30)
    chosen = [t.system_attrs["auto_sampler"] for t in study.trials]
    assert chosen == ["GPSampler"] * 10 + ["CMAESSampler"] * 20
    assert "(sampled by CMAESSampler)" in caplog.records[-1].getMessage()
    assert study.best_value < 0.05
    with pytest.raises(ValueError, match="max_gp_trials must be an int of at least 0, got -1"):
        tv.AutoSampler(max_gp_trials=-1)
    with pytest.raises(ValueError, match="max_gp_trials_multi_objective must be an int of at least 0, got 1.5"):
        tv.AutoSampler(max_gp_trials_multi_objective=1.5)


def test_several_objectives_go_from_the_gp_to_nsga2():
    def objectives(trial):
        x, y = trial.suggest_float("x", 0, 1), trial.suggest_float("y", 0, 1)
        return x, 1 - x + (y - 0.5) ** 2

    sampler = tv.AutoSampler(max_gp_trials=5, max_gp_trials_multi_objective=12, seed=2)
    study = tv.create_study(directions=["minimize", "minimize"], sampler=sampler)
    study.optimize(objectives, n_trials=40)
    assert [t.system_attrs["auto_sampler"] for t in study.trials] == ["GPSampler"] * 12 + ["NSGA2Sampler"] * 28
    # The GP's trials already hold the front's y = 0.5; NSGA-II's population starts from them.
    assert sum(abs(t.params["y"] - 0.5) < 0.05 for t in study.trials[:12]) >= 4
