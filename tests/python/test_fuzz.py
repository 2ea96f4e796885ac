"""Random programs against the module: whatever they do, the interpreter survives, every
rejection is an ordinary exception with a message, and the study's trials stay consistent with
what the objectives did. TARVEX_FUZZ_EXAMPLES sets the number of programs (bench/fuzz.sh runs a
long profile)."""

import faulthandler
import math
import os

import pytest
from hypothesis import HealthCheck, given, settings
from hypothesis import strategies as st

import _tarvex as tv

EXAMPLES = int(os.environ.get("TARVEX_FUZZ_EXAMPLES", "1500"))
FINAL = {tv.TrialState.Complete, tv.TrialState.Pruned, tv.TrialState.Failed}


@pytest.fixture(autouse=True)
def hang_guard():
    """A hang fails the run with every thread's traceback instead of stalling it."""
    faulthandler.dump_traceback_later(900, exit=True)
    yield
    faulthandler.cancel_dump_traceback_later()


fuzz = settings(max_examples=EXAMPLES, deadline=None, suppress_health_check=list(HealthCheck))


def rejected(call):
    """Runs call; an error must be an ordinary, explained exception, never an internal one."""
    try:
        return call()
    except (SystemError, MemoryError):
        raise
    except Exception as error:  # noqa: BLE001 - every kind of rejection is acceptable here
        assert str(error), f"{type(error).__name__} without a message"
        return error


names = st.sampled_from(["x", "y", "z", "", "é", "1", b"x"])
ints32 = st.one_of(st.integers(-(2**31), 2**31 - 1), st.sampled_from([-(2**31), 2**31 - 1, 0, 1, -1]))
wild_ints = st.one_of(ints32, st.sampled_from([2**31, -(2**31) - 1, 2**64]))
floats = st.one_of(st.floats(allow_nan=True, allow_infinity=True), st.sampled_from([0.0, 1e-300, 1e308, -1e308]))
numbers = st.one_of(floats, wild_ints)
param_values = st.one_of(
    wild_ints, floats, st.text(max_size=3), st.booleans(), st.none(), st.just([1]), st.binary(max_size=2)
)
param_dicts = st.dictionaries(st.one_of(names, st.integers(0, 2)), param_values, max_size=3)

suggest = st.one_of(
    st.tuples(st.just("float"), names, numbers, numbers, st.booleans()),
    st.tuples(st.just("int"), names, wild_ints, wild_ints, st.booleans(), wild_ints),
    st.tuples(st.just("cat"), names, st.lists(st.one_of(st.text(max_size=2), st.binary(max_size=1)), max_size=3)),
    st.tuples(st.just("report"), numbers, wild_ints),
    st.tuples(st.just("prune?")),
    st.tuples(st.just("attr"), names, st.one_of(st.text(max_size=3), st.binary(max_size=2))),
)
endings = st.one_of(
    floats,
    ints32,
    st.none(),
    st.just("1"),
    st.just("raise"),
    st.just("pruned"),
    st.lists(st.one_of(floats, st.none()), max_size=3),
    st.tuples(floats, floats),
)


def built(make, *args):
    """A strategy of the object make builds, or None where its constructor rejects the arguments."""

    def attempt(*values):
        made = rejected(lambda: make(*values))
        return None if isinstance(made, Exception) else made

    return st.builds(attempt, *args)


samplers = st.one_of(
    st.none(),
    built(tv.RandomSampler, st.integers(0, 2**64 - 1)),
    built(
        lambda w, c, s, on: tv.GPSampler(
            n_warmup=w,
            n_cand=c,
            seed=s,
            warp_values=on,
            trust_region=on,
            principal_axes=on,
            quadratic_mean=on,
            multi_objective=on,
        ),
        st.integers(-1, 4),
        st.integers(-1, 64),
        st.integers(0, 2**64 - 1),
        st.booleans(),
    ),
    built(
        lambda n, c, m, s: tv.TPESampler(n_startup_trials=n, n_ei_candidates=c, multivariate=m, seed=s),
        st.integers(-1, 4),
        st.integers(0, 8),
        st.booleans(),
        st.integers(0, 2**64 - 1),
    ),
    built(
        lambda p, r, sep, sur, s: tv.CMAESSampler(
            n_startup_trials=0, popsize=p, restart_strategy=r, separable=sep, surrogate=sur, seed=s
        ),
        st.integers(0, 4),
        st.sampled_from([None, "ipop", "bipop"]),
        st.booleans(),
        st.booleans(),
        st.integers(0, 2**64 - 1),
    ),
    built(tv.SobolSampler, st.integers(0, 2**64 - 1), st.booleans()),
    built(tv.GridSampler, st.dictionaries(names, st.lists(st.one_of(floats, ints32, st.text(max_size=2)), max_size=3))),
    built(
        lambda n, s: tv.AutoSampler(max_gp_trials=n, max_gp_trials_multi_objective=n, seed=s),
        st.integers(-1, 3),
        st.integers(0, 2**64 - 1),
    ),
    built(lambda p, s: tv.NSGA2Sampler(population_size=p, seed=s), st.integers(0, 4), st.integers(0, 2**64 - 1)),
)
pruners = st.one_of(
    st.none(),
    built(tv.MedianPruner, ints32, ints32, floats),
    built(
        tv.HyperbandPruner,
        st.integers(-3, 100),
        st.integers(-3, 100),
        st.one_of(floats, st.floats(1.0, 10.0)),
        st.integers(-1, 5),
    ),
)
directions = st.one_of(
    st.sampled_from(list(tv.StudyDirection.__members__.values())),
    st.lists(st.sampled_from(list(tv.StudyDirection.__members__.values())), max_size=3),
)


def fits(value, step):
    kind, _, *args = step
    if kind == "float":
        return isinstance(value, float) and args[0] <= value <= args[1]
    if kind == "int":
        low, high, log, grid = args
        return isinstance(value, int) and low <= value <= high and (log or (value - low) % grid == 0)
    return value in args[0]


def perform(trial, step, strays):
    """Runs one step; a fresh parameter outside what was asked for is recorded in strays."""
    kind, *args = step
    if kind in ("float", "int", "cat"):
        fresh = args[0] not in trial.params
        if kind == "float":
            value = trial.suggest_float(args[0], args[1], args[2], log=args[3])
        elif kind == "int":
            value = trial.suggest_int(args[0], args[1], args[2], log=args[3], step=args[4])
        else:
            value = trial.suggest_categorical(args[0], args[1])
        if fresh and not fits(value, step):
            strays.append((step, value))
    elif kind == "report":
        trial.report(args[0], args[1])
    elif kind == "prune?":
        assert isinstance(trial.should_prune(), bool)
    else:
        trial.set_user_attr(args[0], args[1])


def expected_state(ending, n_values):
    """The state a trial must end in when its objective ran its steps and then produced ending."""
    if ending == "pruned":
        return tv.TrialState.Pruned
    if n_values is None:
        ok = isinstance(ending, (float, int)) and not isinstance(ending, str)
    else:
        ok = isinstance(ending, (list, tuple)) and len(ending) == n_values and None not in ending
    return tv.TrialState.Complete if ok else tv.TrialState.Failed


def make_objective(scripts, log, n_values, strays):
    def objective(trial):
        steps, ending = scripts[len(log) % len(scripts)]
        entry = {"id": trial.number, "ending": ending, "raised": False, "n_values": n_values}
        log.append(entry)
        try:
            for step in steps:
                perform(trial, step, strays)
        except Exception:
            entry["raised"] = True
            raise
        if ending == "raise":
            raise ValueError("objective failed")
        if ending == "pruned":
            raise tv.TrialPruned()
        return ending

    return objective


def check_consistency(study, log, n_added):
    trials = study.trials
    ids = [t.trial_id for t in trials]
    assert ids == sorted(set(ids)) and len(ids) == len(log) + n_added
    by_id = {t.trial_id: t for t in trials}
    for entry in log:
        trial = by_id[entry["id"]]
        assert trial.state in FINAL
        want = tv.TrialState.Failed if entry["raised"] else expected_state(entry["ending"], entry["n_values"])
        assert trial.state == want, (entry, trial.state)
        if want == tv.TrialState.Complete:
            got = trial.values
            sent = [entry["ending"]] if entry["n_values"] is None else list(entry["ending"])
            assert all(a == b or (math.isnan(a) and math.isnan(b)) for a, b in zip(got, map(float, sent)))


@fuzz
@given(st.data())
def test_random_programs_never_corrupt_a_study(data):
    made = rejected(lambda: tv.Study(data.draw(directions), data.draw(samplers), data.draw(pruners)))
    if not isinstance(made, tv.Study):
        return
    study, log, n_added, strays, enqueued = made, [], 0, [], False
    for _ in range(data.draw(st.integers(1, 4))):
        action = data.draw(st.sampled_from(["optimize", "optimize_mo", "enqueue", "add", "query"]))
        if action in ("optimize", "optimize_mo"):
            multi = action == "optimize_mo"
            scripts = data.draw(st.lists(st.tuples(st.lists(suggest, max_size=5), endings), min_size=1, max_size=3))
            n_trials, n_jobs = data.draw(st.integers(-1, 4)), data.draw(st.sampled_from([1, 1, 2, 0, -1]))
            objective = make_objective(scripts, log, study.n_directions if multi else None, strays)
            if multi:
                rejected(lambda: study.optimize_mo(objective, n_trials, n_jobs))
            else:
                timeout = data.draw(st.one_of(st.none(), floats))
                rejected(lambda: study.optimize(objective, n_trials, n_jobs, timeout))
            check_consistency(study, log, n_added)
            assert enqueued or not strays, strays  # enqueued values are not held to the bounds
        elif action == "enqueue":
            enqueued = True
            rejected(lambda: study.enqueue_trial(data.draw(param_dicts)))
        elif action == "add":
            values = data.draw(st.lists(st.one_of(floats, ints32), max_size=3))
            if not isinstance(rejected(lambda: study.add_trial(data.draw(param_dicts), values)), Exception):
                n_added += 1
        else:
            for query in ("best_trial", "best_value", "best_params", "pareto_front", "trials"):
                rejected(lambda: getattr(study, query))
    for trial in study.trials:  # reading back never fails
        read = [trial.params, trial.values, trial.intermediate_values, trial.user_attrs, trial.datetime_start]
        assert all(field is not None for field in read)
        rejected(lambda: trial.suggest_float("new name", 0.0, 1.0))
        rejected(trial.should_prune)
        rejected(lambda: trial.value)
