"""SobolSampler through the package: the same sequence as an independent implementation."""

import numpy as np
import pytest
from scipy.stats import qmc

import tarvex as tv


def test_the_plain_sequence_is_scipys_over_forty_dimensions_and_the_scramble_keeps_its_balance():
    d = 40

    def objective(trial):
        return sum(trial.suggest_float(f"x{i:02d}", 0, 1) for i in range(d))

    study = tv.create_study(sampler=tv.SobolSampler(scramble=False))
    study.optimize(objective, n_trials=128)
    got = np.array([[t.params[f"x{i:02d}"] for i in range(d)] for t in study.trials])
    assert np.abs(got - qmc.Sobol(d, scramble=False).random(128)).max() < 1e-9

    scrambled = tv.create_study(sampler=tv.SobolSampler(seed=4))
    scrambled.optimize(objective, n_trials=128)
    points = np.array([[t.params[f"x{i:02d}"] for i in range(d)] for t in scrambled.trials])
    for column in points.T:  # one point in each 1/128 of every dimension
        assert len(set((column * 128).astype(int))) == 128
    assert qmc.discrepancy(points) < qmc.discrepancy(np.random.default_rng(4).random((128, d)))
    assert repr(tv.SobolSampler(seed=4)) == "SobolSampler(seed=4, scramble=True)"


def test_every_one_of_the_tables_1111_dimensions_is_scipys():
    d = 1111
    study = tv.create_study(sampler=tv.SobolSampler(scramble=False))
    study.optimize(lambda t: sum(t.suggest_float(f"x{i:04d}", 0, 1) for i in range(d)), n_trials=256)
    got = np.array([list(t.params.values()) for t in study.trials])
    assert np.abs(got - qmc.Sobol(d, scramble=False).random(256)).max() < 1e-9


def test_bad_distributions_name_the_call():
    study = tv.create_study(sampler=tv.SobolSampler(seed=1))
    with pytest.raises(ValueError, match=r"suggest_float\('x'\): low must be <= high"):
        study.optimize(lambda t: t.suggest_float("x", 2, 1), n_trials=1)
    study.optimize(lambda t: t.suggest_float("one", 1, 1) + t.suggest_int("n", 3, 3), n_trials=2)
    assert study.trials[-1].params == {"one": 1.0, "n": 3}
