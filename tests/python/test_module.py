"""The module's surface: names, enumerations, constructors, conversions and error translation."""

import datetime
import gc
import importlib.util
import pickle
import subprocess
import sys
from pathlib import Path

import pytest

import _tarvex as tv

Min, Max = tv.StudyDirection.Minimize, tv.StudyDirection.Maximize
S = tv.TrialState
ROOT = Path(__file__).resolve().parents[2]


def test_module_enumerations_and_constructors():
    assert tv.__doc__ == "tarvex — high-performance hyperparameter optimisation"
    assert issubclass(tv.TrialPruned, Exception) and not hasattr(tv, "Running")
    assert repr(Max) == "<StudyDirection.Maximize: 1>" and str(tv.KernelType.Matern52) == "KernelType.Matern52"
    assert tv.StudyDirection(1) == Max and tv.TrialState.Running != 0 and tv.TrialState(7).name == "???"
    assert pickle.loads(pickle.dumps(S.Pruned)) == S.Pruned and [1, 2][S.Complete] == 2
    two = tv.Study(directions=(Min, Max), sampler=tv.RandomSampler(seed=3), pruner=None)
    assert two.directions == [Min, Max] and tv.Study(Min).n_directions == 1
    tv.GPSampler(tv.KernelType.Matern52, tv.AcquisitionType.LogEI, 8, 0.003, 2.0, 1024, 2, True, False, 0.0001, 0)
    tv.RandomSampler(2**64 - 1)
    tv.HyperbandPruner(1, 2**31 - 1, 3)  # ladders whose last product leaves the int range still end
    tv.HyperbandPruner(1, 81, 3e9)
    for make in (
        tv.Trial,
        tv.ISampler,
        tv.IPruner,
        lambda: tv.Study(0),
        lambda: tv.RandomSampler(-1),
        lambda: tv.GPSampler(kernel=1),
        lambda: tv.MedianPruner(n_startup_trials=1.5),
    ):
        with pytest.raises(TypeError):
            make()
    with pytest.raises(ValueError, match="Study requires at least one direction."):
        tv.Study([])
    with pytest.raises(ValueError, match="HyperbandPruner: reduction_factor"):
        tv.HyperbandPruner(reduction_factor=1.0)


def test_enqueued_and_added_parameters_convert_by_kind():
    study = tv.Study(Min)
    study.enqueue_trial({"a": True, "b": 2, "c": 2.5, "d": "x", 1: 0.25})
    got = {}

    def objective(trial):
        got.update(
            a=trial.suggest_int("a", 0, 5),
            b=trial.suggest_float("b", 0, 5),
            c=trial.suggest_int("c", 0, 5),
            d=trial.suggest_categorical("d", ["y"]),
            one=trial.suggest_float("1", 0, 1),
        )
        return 0.0

    study.optimize(objective, 1)
    assert got == {"a": 1, "b": 2.0, "c": 3, "d": "x", "one": 0.25} and type(got["b"]) is float
    study.add_trial({"x": 1.5, "s": "t", "flag": False}, [-1.0])
    assert study.best_params == {"x": 1.5, "s": "t", "flag": 0}
    for bad in ({"x": None}, {"x": 2**40}, {"x": [1]}):
        with pytest.raises(RuntimeError, match="Unable to cast Python instance of type"):
            study.enqueue_trial(bad)
    with pytest.raises(ValueError, match="add_trial: got 2 values but study has 1 directions."):
        study.add_trial({}, [1, 2])
    assert len(study.trials) == 2


def test_text_crosses_as_str_only_and_always_reads_back():
    study = tv.Study(Min)
    for params in ({"x": b"\xff"}, {b"\xff": 1}, {"x": bytearray(b"a")}):
        for call in (study.enqueue_trial, lambda p: study.add_trial(p, [1.0])):
            with pytest.raises(TypeError, match="params"):
                call(params)
    with pytest.raises(ValueError, match="lone surrogates"):
        study.enqueue_trial({"x": "\udcff"})
    objectives = [
        lambda t: t.suggest_float(b"x", 0, 1),
        lambda t: t.suggest_categorical("c", [b"\xfe"]),
        lambda t: t.set_user_attr("k", b"\xff") or 0,
        lambda t: t.set_user_attr(b"k", "v") or 0,
        lambda t: t.suggest_int("\udcff", 0, 1),
    ]
    for objective in objectives:
        study.optimize(objective, 1)
    study.optimize(lambda t: t.set_user_attr("ключ", "значение") or len(t.suggest_categorical("é", ["ü"])), 1)
    assert [t.state for t in study.trials] == [S.Failed] * 5 + [S.Complete]
    assert all(t.params == {} and t.user_attrs == {} for t in study.trials[:5])
    assert study.best_params == {"é": "ü"} and study.best_trial.user_attrs == {"ключ": "значение"}


def test_trial_fields_and_datetimes():
    study = tv.Study(Min)
    before = datetime.datetime.now()

    def objective(trial):
        assert trial.datetime_complete == datetime.datetime.fromtimestamp(0)  # not finished yet
        trial.report(1.0, 3)
        trial.report(0.5, 3)
        trial.set_user_attr("k", "v")
        return 2 + trial.suggest_int("n", 0, 0)

    study.optimize(objective, 1)
    t = study.trials[0]
    assert before - datetime.timedelta(seconds=1) <= t.datetime_start <= t.datetime_complete <= datetime.datetime.now()
    assert t.intermediate_values == [(3, 1.0), (3, 0.5)] and t.user_attrs == {"k": "v"}
    assert t.value == 2.0 and t.number == t.trial_id and t.study_id == study.study_id
    with pytest.raises(IndexError, match="User attribute 'nope' not found."):
        t.get_user_attr("nope")
    with pytest.raises(RuntimeError):
        t.suggest_float("n", 0, 1)  # held as an int
    with pytest.raises(RuntimeError, match="No completed trials found."):
        tv.Study(Min).best_trial
    mo = tv.Study([Min, Min])
    mo.optimize_mo(lambda t: [1, 2], 1)
    with pytest.raises(RuntimeError, match=r"value\(\) is only valid for single-objective trials"):
        mo.trials[0].value


def test_objective_results_and_errors_end_their_trial():
    class Stop(tv.TrialPruned):
        pass

    study = tv.Study(Min)
    for result in (3, 2.5, True, None, "1.0", [1.0], ValueError("v"), KeyboardInterrupt(), tv.TrialPruned(), Stop()):

        def objective(trial, r=result):
            trial.report(0.5, 1)
            if isinstance(r, BaseException):
                raise r
            return r

        assert study.optimize(objective, 1) is None
    assert [t.state for t in study.trials] == [S.Complete] * 3 + [S.Failed] * 5 + [S.Pruned] * 2
    assert [t.values for t in study.trials[:3]] == [[3.0], [2.5], [1.0]] and study.trials[-1].values == []
    mo = tv.Study([Min, Max])
    for result in ((1.0, 2.0), [1, 2], (x for x in (1.0, 2.0)), "12", [1.0, None], [1.0]):
        mo.optimize_mo(lambda t, r=result: r, 1, n_jobs=2)
    assert [t.state for t in mo.trials] == [S.Complete] * 3 + [S.Failed] * 3
    for bad in (3, None):
        with pytest.raises(TypeError):
            study.optimize(bad, 1)


def test_trials_kept_by_python_detach_from_their_study():
    kept = []
    study = tv.Study(Min)
    study.optimize(lambda t: kept.append(t) or t.suggest_float("x", 0, 1), 3, n_jobs=2)
    copies = study.trials + [study.best_trial]
    stored = {t.trial_id: t for t in study.trials}
    for view in kept:
        assert view.params == stored[view.number].params and view.should_prune() is False
        with pytest.raises(RuntimeError, match="Trial is not attached to a Study."):
            view.suggest_float("y", 0, 1)
    assert 0 <= copies[0].suggest_float("fresh", 0, 1) <= 1  # reaches the live study
    del study
    gc.collect()
    for trial in copies:
        with pytest.raises(RuntimeError, match="Trial is not attached to a Study."):
            trial.suggest_float("new", 0, 1)


def test_committed_stub_matches_the_built_module():
    spec = importlib.util.spec_from_file_location("gen_stubs", ROOT / "scripts" / "gen_stubs.py")
    generator = importlib.util.module_from_spec(spec)
    spec.loader.exec_module(generator)
    committed = (ROOT / "bindings" / "_tarvex.pyi").read_text()
    assert generator.render() == committed, "run scripts/gen_stubs.py after changing the bindings"
    assert (Path(tv.__file__).parent / "_tarvex.pyi").read_text() == committed
    assert all(f"class {n}" in committed for n in dir(tv) if not n.startswith("_") and isinstance(getattr(tv, n), type))
    assert all(
        f"def {n}(" in committed
        for n in dir(tv)
        if callable(getattr(tv, n)) and not isinstance(getattr(tv, n), type) and not n.startswith("_")
    )


def test_type_checkers_see_the_package_and_the_compiled_module(tmp_path):
    (tmp_path / "user.py").write_text(
        "import tarvex as tv\n\n\ndef objective(trial: tv.Trial) -> float:\n"
        "    return trial.suggest_floot('x', 0, 1)\n\n\nreveal_type(tv.Trial.suggest_float)\n"
    )
    run = subprocess.run(
        [sys.executable, "-m", "mypy", "--strict", "--no-incremental", "user.py"],
        cwd=tmp_path,
        capture_output=True,
        text=True,
        timeout=300,
    )
    assert '"Trial" has no attribute "suggest_floot"' in run.stdout, run.stdout
    assert "def (self: tarvex._trial.Trial, name: str, low: float, high: float, *, step: float | None =" in run.stdout
