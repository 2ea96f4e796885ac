"""TPESampler through the package: reproducibility, options, and gamma given in Python."""

import pytest

import tarvex as tv


def objective(trial):
    x = trial.suggest_float("x", -5, 5)
    if trial.suggest_categorical("branch", ["wide", "narrow"]) == "wide":
        n = trial.suggest_int("n", 1, 100, log=True)
    else:
        n = trial.suggest_int("n_narrow", 1, 3)
    for step in range(3):
        trial.report((x - 1) ** 2 + step, step)
        if trial.should_prune():
            raise tv.TrialPruned()
    if x > 4.5:
        return float("nan")  # ranks with the failed trials, last
    return (x - 1) ** 2 + abs(n - 3) / 10


def configurations(study):
    return [tuple(sorted(t.params.items())) for t in study.trials]


def test_a_seed_repeats_the_run_and_the_options_show():
    runs = []
    for _ in range(2):
        study = tv.create_study(sampler=tv.TPESampler(seed=5, n_startup_trials=5))
        study.optimize(objective, n_trials=30)
        runs.append(configurations(study))
    assert runs[0] == runs[1]
    assert len(set(runs[0])) == 30
    assert (
        repr(tv.TPESampler(seed=1)) == "TPESampler(n_startup_trials=10, n_ei_candidates=24, multivariate=True, seed=1)"
    )


def test_bad_options_name_the_argument():
    with pytest.raises(ValueError, match="n_ei_candidates must be an int of at least 1, got 0"):
        tv.TPESampler(n_ei_candidates=0)
    with pytest.raises(ValueError, match="prior_weight must be a finite number above 0"):
        tv.TPESampler(prior_weight=-1)
    with pytest.raises(TypeError, match="gamma must be None or a function"):
        tv.TPESampler(gamma=3)


def test_gamma_from_python_and_an_error_in_it_fails_the_trial():
    seen = []
    study = tv.create_study(sampler=tv.TPESampler(seed=2, n_startup_trials=3, gamma=lambda n: seen.append(n) or 2))
    study.optimize(objective, n_trials=12, n_jobs=2)
    assert seen and max(seen) >= 9

    def broken(n):
        raise RuntimeError("no gamma today")

    study = tv.create_study(sampler=tv.TPESampler(seed=2, n_startup_trials=3, gamma=broken))
    with pytest.raises(RuntimeError, match="no gamma today"):
        study.optimize(objective, n_trials=6)
    assert len(study.trials) == 4  # the startup trials, and the one whose suggestion failed
    study = tv.create_study(sampler=tv.TPESampler(seed=2, n_startup_trials=3, gamma=lambda n: float("nan")))
    with pytest.raises(ValueError, match=r"gamma\(\d+\) returned nan; it must return a number of trials"):
        study.optimize(objective, n_trials=6)
