import pickle
import shutil
import subprocess
import sys

import pytest

import _tarvex as tv

Min, Max = tv.StudyDirection.Minimize, tv.StudyDirection.Maximize


def test_module_identity():
    assert tv.__doc__ == "tarvex — high-performance hyperparameter optimisation"
    assert issubclass(tv.TrialPruned, Exception)
    assert not hasattr(tv, "Running") and hasattr(tv.TrialState, "Running")
    for name in ("Trial", "Study", "ISampler", "RandomSampler", "GPSampler", "IPruner", "MedianPruner",
                 "HyperbandPruner", "TrialState", "StudyDirection", "AcquisitionType", "KernelType"):
        assert hasattr(tv, name)


def test_enumerations_are_strict_and_round_trip():
    assert int(tv.TrialState.Failed) == 3
    assert repr(Max) == "<StudyDirection.Maximize: 1>"
    assert str(Max) == "StudyDirection.Maximize"
    assert tv.StudyDirection(1) is Max or tv.StudyDirection(value=1) == Max
    assert tv.TrialState.Running != 0
    assert tv.TrialState(7).name == "???"
    assert pickle.loads(pickle.dumps(tv.TrialState.Pruned)) == tv.TrialState.Pruned
    assert set(tv.TrialState.__members__) == {"Running", "Complete", "Pruned", "Failed"}
    assert [1, 2][tv.TrialState.Complete] == 2
    assert len({Min, Max, tv.StudyDirection(0)}) == 2


def test_constructors_and_their_type_errors():
    with pytest.raises(TypeError):
        tv.Trial()
    with pytest.raises(TypeError):
        tv.ISampler()
    with pytest.raises(TypeError):
        tv.IPruner()
    one = tv.Study(Min)
    assert one.n_directions == 1 and one.directions == [Min]
    two = tv.Study(directions=(Min, Max), sampler=tv.RandomSampler(seed=3), pruner=None)
    assert two.directions == [Min, Max] and two.study_id == one.study_id + 1
    for bad in (0, [0], "Minimize", []):
        with pytest.raises((TypeError, ValueError)):
            tv.Study(bad)
    with pytest.raises(ValueError, match="Study requires at least one direction."):
        tv.Study([])
    tv.RandomSampler()
    tv.RandomSampler(2**64 - 1)
    for seed in (-1, 2**64, 1.5):
        with pytest.raises(TypeError):
            tv.RandomSampler(seed)


def test_call_signatures():
    study = tv.Study(Min)
    seen = {}

    def objective(trial):
        seen["f"] = trial.suggest_float(name="f", low=1e-3, high=1.0, log=True)
        seen["i"] = trial.suggest_int("i", 0, 10, step=5)
        seen["c"] = trial.suggest_categorical("c", choices=["a", "b"])
        for call in (
            lambda: trial.suggest_float("g", 0, 1, step=0.1),
            lambda: trial.suggest_int("j", 0.5, 3),
            lambda: trial.suggest_categorical("k", "ab"),
            lambda: trial.set_user_attr(key="k", value="v"),
        ):
            with pytest.raises(TypeError):
                call()
        trial.set_user_attr("k", "v")
        trial.report(value=0.5, step=1)
        return 0.0

    study.optimize(objective, 1)
    assert study.trials[0].state == tv.TrialState.Complete
    assert 1e-3 <= seen["f"] <= 1 and seen["i"] in (0, 5, 10) and seen["c"] in ("a", "b")
    for bad in (3, None):
        with pytest.raises(TypeError):
            study.optimize(bad, 1)
    with pytest.raises(TypeError):
        study.optimize(lambda t: 0, 1.5)
    with pytest.raises(TypeError):
        study.optimize_mo(lambda t: [0], 1, timeout=1.0)
    assert len(study.trials) == 1


def test_error_translation():
    study = tv.Study(Min)
    study.optimize(lambda t: t.suggest_int("x", 0, 3), 1)
    trial = study.trials[0]
    with pytest.raises(IndexError, match="User attribute 'nope' not found."):
        trial.get_user_attr("nope")
    with pytest.raises(RuntimeError):
        trial.suggest_float("x", 0, 1)  # held as an int
    with pytest.raises(ValueError, match="RandomSampler: parameter 'bad'"):
        trial.suggest_int("bad", 5, 1)
    with pytest.raises(RuntimeError, match="No completed trials found."):
        tv.Study(Min).best_trial
    with pytest.raises(RuntimeError, match="not defined for multi-objective"):
        tv.Study([Min, Max]).best_params


def test_import_refuses_another_interpreter(tmp_path):
    other = [p for p in ("python3.11", "python3.12") if subprocess.run(["which", p], capture_output=True).returncode == 0]
    if not other:
        pytest.skip("no other CPython on this machine")
    # The plain suffix is one every CPython loads, so the module's own check is what refuses.
    shutil.copy(tv.__file__, tmp_path / "_tarvex.so")
    code = f"import sys; sys.path.insert(0, {str(tmp_path)!r}); import _tarvex"
    result = subprocess.run([other[0], "-c", code], capture_output=True, text=True)
    assert result.returncode != 0 and "ImportError" in result.stderr
    assert sys.version_info[:2] == (3, 13)
