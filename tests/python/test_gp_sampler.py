import pytest

import _tarvex as tv

Min, Max = tv.StudyDirection.Minimize, tv.StudyDirection.Maximize


def bowl(trial):
    x = trial.suggest_float("x", -5.0, 5.0)
    n = trial.suggest_int("n", 0, 10, step=2)
    c = trial.suggest_categorical("c", ["a", "b"])
    return (x - 1.0) ** 2 + abs(n - 4) + (0 if c == "b" else 3)


def test_enumerations_and_constructor_surface():
    assert str(tv.KernelType.Matern52) == "KernelType.Matern52"
    assert tv.AcquisitionType(1) == tv.AcquisitionType.LogEI
    assert [int(m) for m in tv.AcquisitionType.__members__.values()] == [0, 1, 2, 3]
    tv.GPSampler()
    tv.GPSampler(tv.KernelType.Matern52, tv.AcquisitionType.LogEI, 8, 0.003, 2.0, 1024, 2, True, False, 0.0001, 0)
    tv.GPSampler(kernel=tv.KernelType.RBF, acq=tv.AcquisitionType.UCB, n_warmup=3, xi=0, beta=1, n_cand=16,
                 n_restarts=0, use_priors=False, fit_noise=True, noise_var=1e-3, seed=2**64 - 1)
    for bad in ({"kernel": 1}, {"acq": 0}, {"seed": -1}, {"n_warmup": 1.5}, {"use_priors": "yes"}):
        with pytest.raises(TypeError):
            tv.GPSampler(**bad)
    with pytest.raises(ValueError, match="GPSampler: n_cand must be at least 1."):
        tv.GPSampler(n_cand=0)
    assert isinstance(tv.GPSampler(), tv.ISampler)


def test_mixed_space_search_with_pruner_is_seeded_and_valid():
    runs = []
    for _ in range(2):
        study = tv.Study(Min, tv.GPSampler(n_warmup=4, n_cand=64, seed=5), tv.MedianPruner())
        study.optimize(bowl, 12)
        runs.append([t.params for t in study.trials])
        for t in study.trials:
            assert t.state == tv.TrialState.Complete
            p = t.params
            assert -5 <= p["x"] <= 5 and p["n"] in range(0, 11, 2) and p["c"] in ("a", "b")
    assert runs[0] == runs[1]


def test_shared_sampler_on_workers_and_maximising():
    sampler = tv.GPSampler(n_warmup=3, n_cand=32, seed=9)
    up = tv.Study(Max, sampler)
    down = tv.Study(Min, sampler)
    up.optimize(lambda t: -bowl(t), 10, n_jobs=3)
    down.optimize(bowl, 10, n_jobs=2)
    assert len(up.trials) == len(down.trials) == 10
    assert all(t.state == tv.TrialState.Complete for t in up.trials + down.trials)


def test_non_finite_values_do_not_stop_the_search():
    study = tv.Study(Min, tv.GPSampler(n_warmup=2, n_cand=32, seed=1))
    values = iter([float("nan"), 1.0, float("inf"), 2.0] + [0.5] * 6)
    study.optimize(lambda t: t.suggest_float("x", 0, 1) * 0 + next(values), 10)
    assert [t.state for t in study.trials] == [tv.TrialState.Complete] * 10
