"""CMAESSampler from the package: options, progress, warm starts and a Python independent sampler."""

import pytest

import tarvex as tv


def bowl(trial):
    x = trial.suggest_float("x", -5, 5)
    k = trial.suggest_int("k", 0, 10)
    penalty = 0 if trial.suggest_categorical("c", ["a", "b"]) == "a" else 1
    return (x - 1) ** 2 + (k - 3) ** 2 + penalty


def configurations(study):
    return [tuple(sorted(t.params.items())) for t in study.trials]


@pytest.mark.parametrize("surrogate", [True, False])
def test_a_seed_repeats_the_run_and_the_search_shows_its_progress(surrogate):
    runs = []
    for _ in range(2):
        sampler = tv.CMAESSampler(seed=5, restart_strategy="bipop", surrogate=surrogate)
        study = tv.create_study(sampler=sampler)
        study.optimize(bowl, n_trials=120)
        runs.append(configurations(study))
    assert runs[0] == runs[1]
    assert study.best_params == {"x": pytest.approx(1, abs=0.05), "k": 3, "c": "a"}
    progress = sampler.progress(study)
    assert progress.popsize >= 5 and progress.sigma > 0 and progress.generation > 0
    assert repr(sampler) == "CMAESSampler(sigma0=0.2, popsize=None, restart_strategy='bipop', seed=5)"


def test_bad_options_name_the_argument():
    with pytest.raises(ValueError, match="restart_strategy must be None, 'ipop' or 'bipop', got 'lots'"):
        tv.CMAESSampler(restart_strategy="lots")
    with pytest.raises(ValueError, match="bounds must be 'mirror' or 'resample'"):
        tv.CMAESSampler(bounds="clip")
    with pytest.raises(ValueError, match="popsize must be an int of at least 2, got 1"):
        tv.CMAESSampler(popsize=1)
    with pytest.raises(ValueError, match="sigma0 must be a finite number above 0"):
        tv.CMAESSampler(sigma0=0.0)
    with pytest.raises(ValueError, match="tol_fun must be a number above 0 and below 1"):
        tv.CMAESSampler(tol_fun=float("nan"))
    with pytest.raises(TypeError, match="independent_sampler must be a sampler or None"):
        tv.CMAESSampler(independent_sampler="random")
    with pytest.raises(TypeError, match="warm_start: parameter 'c' must be an int or a float"):
        tv.CMAESSampler(warm_start=[{"c": "a"}])
    with pytest.raises(ValueError, match="optimises a single objective; this study has 2"):
        tv.create_study(directions=["minimize", "minimize"], sampler=tv.CMAESSampler())


def test_warm_start_from_a_study_begins_near_its_best():
    source = tv.create_study(sampler=tv.RandomSampler(seed=1))
    source.optimize(lambda t: (t.suggest_float("x", -10, 10) - 6) ** 2, n_trials=100)
    study = tv.create_study(sampler=tv.CMAESSampler(warm_start=source, n_startup_trials=0, seed=2))
    study.optimize(lambda t: (t.suggest_float("x", -10, 10) - 6) ** 2, n_trials=8)
    first = [t.params["x"] for t in study.trials[1:]]
    assert abs(sum(first) / len(first) - 6) < 1.5


def test_a_python_independent_sampler_draws_the_categoricals():
    class Always(tv.CustomSampler):
        def sample(self, trial, name, distribution):
            return "b" if name == "c" else distribution.low

    study = tv.create_study(sampler=tv.CMAESSampler(independent_sampler=Always(), seed=3))
    study.optimize(bowl, n_trials=20)
    assert {t.params["c"] for t in study.trials} == {"b"}
    assert len({t.params["x"] for t in study.trials}) == 20
