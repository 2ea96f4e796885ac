"""Parameter importances against variance decompositions known in closed form."""

import math
import sys

import pytest

import tarvex as tv
from tarvex.importance import param_importances

# Functions of independent uniform parameters: a sum of one-parameter terms has each term's variance
# as that parameter's share of the total. A uniform variable on an interval of width w has variance
# w**2 / 12; a uniform choice among values has the variance of those values.


def study_of(objective, n=300, seed=7, directions=None):
    s = (
        tv.create_study(directions=directions, sampler=tv.RandomSampler(seed=seed))
        if directions
        else tv.create_study(sampler=tv.RandomSampler(seed=seed))
    )
    s.optimize(objective, n_trials=n)
    return s


def linear(trial):
    return 10 * trial.suggest_float("x", 0, 1) + 3 * trial.suggest_float("y", 0, 1) + 0 * trial.suggest_float("z", 0, 1)


def test_one_dominant_one_weak_one_ignored_parameter():
    shares = param_importances(study_of(linear))
    total = 100 / 12 + 9 / 12
    assert list(shares) == ["x", "y", "z"]
    assert shares["x"] == pytest.approx(100 / 12 / total, abs=0.05)
    assert shares["y"] == pytest.approx(9 / 12 / total, abs=0.05)
    assert shares["z"] < 0.01
    assert sum(shares.values()) == pytest.approx(1.0)


def test_log_integer_and_categorical_parameters_in_their_natural_encoding():
    def objective(trial):
        lr = trial.suggest_float("lr", 1e-4, 1.0, log=True)
        act = trial.suggest_categorical("act", ["relu", "tanh", None])
        depth = trial.suggest_int("depth", 1, 5)
        return 2 * math.log10(lr) + {"relu": 0.0, "tanh": 0.0, None: 3.0}[act] + 0.5 * depth

    shares = param_importances(study_of(objective, n=400))
    # 2 log10(lr): exponent uniform on [-4, 0]; act: values 0, 0, 3; depth: 0.5 times uniform on 1..5.
    variances = {"lr": 4 * 16 / 12, "act": 2.0, "depth": 0.25 * 2.0}
    total = sum(variances.values())
    for name, variance in variances.items():
        assert shares[name] == pytest.approx(variance / total, abs=0.06), name


def test_same_seed_same_shares_and_params_and_target_select_what_is_weighed():
    s = study_of(linear, n=120)
    assert param_importances(s, seed=3) == param_importances(s, seed=3)
    assert set(param_importances(s, params=["y", "z"])) == {"y", "z"}
    mo = study_of(
        lambda t: (t.suggest_float("a", 0, 1), 5 * t.suggest_float("b", 0, 1)),
        n=150,
        directions=["minimize", "minimize"],
    )
    assert list(param_importances(mo, target=lambda t: t.values[1])) == ["b", "a"]
    with pytest.raises(ValueError, match="2 objectives.*target="):
        param_importances(mo)


@pytest.mark.parametrize(
    "build, message",
    [
        (lambda: tv.create_study(), "no completed trials"),
        (lambda: study_of(lambda t: t.suggest_float("x", 0, 1) * 0 + 1.0, n=10), "same value"),
        (lambda: study_of(lambda t: 1.0, n=10), "no parameters"),
    ],
)
def test_nothing_to_explain_is_a_clear_value_error(build, message):
    with pytest.raises(ValueError, match=message):
        param_importances(build())


def test_bad_arguments_and_a_missing_extra(monkeypatch):
    s = study_of(linear, n=20)
    with pytest.raises(ValueError, match="seed must be a non-negative int"):
        param_importances(s, seed=-1)
    with pytest.raises(ValueError, match="'w'"):
        param_importances(s, params=["w"])
    monkeypatch.setitem(sys.modules, "sklearn.ensemble", None)
    with pytest.raises(ImportError, match=r"tarvex\[importance\]"):
        param_importances(s)
