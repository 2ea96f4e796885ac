"""Plots of single- and multi-objective studies, checked on the data they draw, and of studies with
nothing or little to show."""

import datetime
import math
import os
import subprocess
import sys
import time

import matplotlib
import matplotlib.figure

matplotlib.use("Agg")
import matplotlib.pyplot as plt  # noqa: E402
import pytest  # noqa: E402
from matplotlib.collections import LineCollection, PathCollection  # noqa: E402
from matplotlib.tri import TriContourSet  # noqa: E402

import tarvex as tv  # noqa: E402
from tarvex import visualization as vis  # noqa: E402
from tarvex.importance import param_importances  # noqa: E402

S = tv.TrialState
ALL_PLOTS = [
    vis.plot_optimization_history,
    vis.plot_intermediate_values,
    vis.plot_parallel_coordinate,
    vis.plot_slice,
    vis.plot_contour,
    vis.plot_param_importances,
    vis.plot_timeline,
]


@pytest.fixture(autouse=True)
def close_figures():
    yield
    plt.close("all")


def mixed_objective(trial):
    lr = trial.suggest_float("lr", 1e-4, 1.0, log=True)
    x = trial.suggest_float("x", -2.0, 2.0)
    act = trial.suggest_categorical("act", ["relu", None, 3])
    for step in range(4):
        trial.report(x * x + step, step)
    if trial.number % 7 == 3:
        raise tv.TrialPruned()
    if trial.number % 11 == 5:
        raise RuntimeError("diverged")
    return x * x + math.log10(lr) ** 2 / 10 + (act == "relu")


@pytest.fixture(scope="module")
def study():
    s = tv.create_study(sampler=tv.RandomSampler(seed=3))
    s.optimize(mixed_objective, n_trials=60, catch=RuntimeError)
    return s


def completed(study):
    return [t for t in study.trials if t.state == S.Complete]


def texts(ax):
    return " ".join(t.get_text() for t in ax.texts)


def offsets(ax):
    return [c.get_offsets().tolist() for c in ax.collections if isinstance(c, PathCollection)]


@pytest.mark.parametrize("direction, better", [("minimize", min), ("maximize", max)])
def test_history_draws_every_value_and_the_best_so_far_by_direction(direction, better):
    s = tv.create_study(direction=direction, sampler=tv.RandomSampler(seed=1))
    s.optimize(lambda t: t.suggest_float("x", 0, 1), n_trials=30)
    ax = vis.plot_optimization_history(s)
    values = [t.value for t in s.trials]
    assert offsets(ax)[0] == [[t.number, t.value] for t in s.trials]
    running = [better(values[: i + 1]) for i in range(len(values))]
    assert list(ax.lines[0].get_ydata()) == running


def test_history_of_a_multi_objective_study_has_a_panel_per_objective():
    s = tv.create_study(directions=["minimize", "maximize"], sampler=tv.RandomSampler(seed=1))
    s.optimize(lambda t: (t.suggest_float("a", 0, 1), t.suggest_float("b", 0, 1)), n_trials=20)
    fig = vis.plot_optimization_history(s)
    first, second = fig.axes
    assert first.lines[0].get_ydata()[-1] == min(t.values[0] for t in s.trials)
    assert second.lines[0].get_ydata()[-1] == max(t.values[1] for t in s.trials)
    ax = vis.plot_optimization_history(s, target=lambda t: t.values[0] + t.values[1], target_name="sum")
    assert ax.get_ylabel() == "sum"


def test_intermediate_values_draw_each_curve_and_mark_pruned_trials(study):
    ax = vis.plot_intermediate_values(study)
    reported = [t for t in study.trials if t.intermediate_values]
    curves = [line for line in ax.lines if line.get_marker() != "x"]
    crosses = [line for line in ax.lines if line.get_marker() == "x"]
    assert len(curves) == len(reported)
    assert len(crosses) == sum(t.state == S.Pruned for t in study.trials) > 0
    assert {tuple(c.get_xdata()) for c in curves} == {(0, 1, 2, 3)}


def test_parallel_coordinates_place_log_and_categorical_values_on_their_axes(study):
    ax = vis.plot_parallel_coordinate(study, params=["lr", "act"])
    segments = next(c for c in ax.collections if isinstance(c, LineCollection)).get_segments()
    trials = completed(study)
    assert len(segments) == len(trials)
    values = [t.value for t in trials]
    for t, seg in zip(trials, segments):
        value_pos, lr_pos, act_pos = seg[:, 1]
        assert value_pos == pytest.approx((t.value - min(values)) / (max(values) - min(values)))
        assert lr_pos == pytest.approx((math.log10(t.params["lr"]) + 4) / 4)
        assert act_pos == pytest.approx(["relu", None, 3].index(t.params["act"]) / 2)
    assert [label.get_text() for label in ax.get_xticklabels()] == ["Objective value", "lr", "act"]


def test_slice_plots_each_parameter_against_the_value(study):
    fig = vis.plot_slice(study)
    panels = {ax.get_xlabel(): ax for ax in fig.axes if ax.get_visible() and ax.get_xlabel()}
    assert set(panels) == {"act", "lr", "x"}
    assert panels["lr"].get_xscale() == "log"
    assert [t.get_text() for t in panels["act"].get_xticklabels()] == ["relu", "None", "3"]
    xs = sorted(p[0] for p in offsets(panels["x"])[0])
    assert xs == sorted(t.params["x"] for t in completed(study))


def test_contour_interpolates_inside_the_trials_only(study):
    fig = vis.plot_contour(study, params=["x", "lr"])
    ax = fig.axes[0]
    filled = [c for c in ax.collections if isinstance(c, TriContourSet)] or [
        c for c in ax.get_children() if isinstance(c, TriContourSet)
    ]
    values = [t.value for t in completed(study)]
    assert (
        filled
        and filled[0].levels[0] == pytest.approx(min(values))
        and filled[0].levels[-1] == pytest.approx(max(values))
    )
    assert ax.get_yscale() == "log"
    grid = vis.plot_contour(study)
    assert len(grid.axes) >= 9  # every pair of three parameters, plus the colour bar


def test_contour_of_points_on_a_line_says_so_instead_of_failing():
    s = tv.create_study()
    for i in range(6):
        s.add_trial({"x": float(i), "y": 2.0 * i}, i * 0.5)
    fig = vis.plot_contour(s)
    assert "too few trials" in texts(fig.axes[0])


def test_importance_bars_are_the_importances(study):
    ax = vis.plot_param_importances(study)
    widths = {label.get_text(): bar.get_width() for label, bar in zip(ax.get_yticklabels(), ax.patches)}
    assert widths == pytest.approx(param_importances(study))


def test_pareto_front_separates_dominated_trials():
    s = tv.create_study(directions=["minimize", "maximize"], sampler=tv.RandomSampler(seed=4))
    s.optimize(lambda t: (t.suggest_float("a", 0, 1), t.suggest_float("b", 0, 1)), n_trials=40)
    ax = vis.plot_pareto_front(s)
    dominated, front = offsets(ax)
    assert sorted(map(tuple, front)) == sorted(tuple(t.values) for t in s.best_trials)
    assert len(dominated) + len(front) == 40
    three = tv.create_study(directions=["minimize"] * 3)
    three.optimize(lambda t: [t.suggest_float(n, 0, 1) for n in "abc"], n_trials=10)
    assert vis.plot_pareto_front(three).name == "3d"
    with pytest.raises(ValueError, match="1 objective"):
        vis.plot_pareto_front(tv.create_study())


def test_infeasible_trials_are_drawn_apart_and_never_on_the_front():
    s = tv.create_study(
        directions=["minimize", "minimize"],
        sampler=tv.RandomSampler(seed=4),
        constraints=lambda t: [0.3 - t.params["a"]],
        objective_names=["error", "cost"],
    )
    s.optimize(lambda t: (t.suggest_float("a", 0, 1), t.suggest_float("b", 0, 1)), n_trials=40)
    ax = vis.plot_pareto_front(s)
    infeasible, dominated, front = offsets(ax)
    assert len(infeasible) == sum(not t.feasible for t in s.trials) > 0
    assert all(a >= 0.3 for a, _ in front) and ax.get_xlabel() == "error (minimize)"


def test_hypervolume_history_never_falls_and_ends_at_the_fronts_hypervolume():
    s = tv.create_study(directions=["minimize", "maximize"], sampler=tv.RandomSampler(seed=5))
    s.optimize(lambda t: (t.suggest_float("a", 0, 1), t.suggest_float("b", 0, 1)), n_trials=30)
    ax = vis.plot_hypervolume_history(s, reference_point=[1.0, 0.0])
    volumes = ax.lines[0].get_ydata()
    assert all(a <= b for a, b in zip(volumes, volumes[1:]))
    front = [t.values for t in s.best_trials]
    assert volumes[-1] == pytest.approx(tv.hypervolume(front, [1.0, 0.0], directions=["minimize", "maximize"]))
    with pytest.raises(ValueError, match="reference_point has 3 values"):
        vis.plot_hypervolume_history(s, reference_point=[1, 1, 1])


def test_timeline_puts_overlapping_trials_on_separate_workers():
    s = tv.create_study()
    s.optimize(lambda t: time.sleep(0.02) or t.suggest_float("x", 0, 1), n_trials=12, n_jobs=3)
    spans = vis._timeline.spans(s, "test")
    assert len(spans) == 12 and 2 <= len({sp.lane for sp in spans}) <= 3
    for a in spans:
        for b in spans:
            if a is not b and a.lane == b.lane:
                assert a.end <= b.start or b.end <= a.start
    ax = vis.plot_timeline(s)
    assert len(ax.patches) == 12
    serial = tv.create_study()
    serial.optimize(lambda t: t.suggest_float("x", 0, 1), n_trials=5)
    assert {sp.lane for sp in vis._timeline.spans(serial, "test")} == {0}


def test_a_running_trial_ends_now_on_the_timeline(tmp_path):
    s = tv.create_study(storage=f"sqlite:///{tmp_path}/t.db")
    running = s.ask()
    s.optimize(lambda t: 1.0, n_trials=1)
    before = datetime.datetime.now()
    spans = vis._timeline.spans(s, "test")
    assert [sp.state for sp in spans] == ["Running", "Complete"] and spans[0].lane != spans[1].lane
    assert spans[0].end >= before
    s.tell(running, 2.0)


# -- studies with nothing, or little, to show ---------------------------------------------------


@pytest.mark.parametrize("plot", ALL_PLOTS + [vis.plot_pareto_front])
def test_an_empty_study_is_a_clear_value_error(plot):
    with pytest.raises(ValueError, match="^(plot_|param_importances)"):
        plot(tv.create_study())


@pytest.mark.parametrize("plot", [p for p in ALL_PLOTS if p is not vis.plot_timeline])
def test_a_study_of_failed_trials_is_a_clear_value_error(plot):
    s = tv.create_study()
    s.optimize(lambda t: t.suggest_float("x", 0, 1) / 0, n_trials=3, catch=ZeroDivisionError)
    with pytest.raises(ValueError, match="no (completed trials .3 failed|trial of the study reported)"):
        plot(s)


@pytest.mark.parametrize("plot", ALL_PLOTS)
def test_one_trial_and_constant_values_draw_or_say_why(plot):
    for n in (1, 8):
        s = tv.create_study()
        s.optimize(
            lambda t: t.report(1.0, 0) or t.suggest_float("x", 0, 1) * 0 + t.suggest_int("k", 0, 3) * 0 + 2.0,
            n_trials=n,
        )
        try:
            plot(s)
        except ValueError as error:
            assert plot is vis.plot_param_importances and ("same value" in str(error) or "at least 2" in str(error))


def test_nan_values_are_left_out_and_noted():
    s = tv.create_study(sampler=tv.RandomSampler(seed=2))
    s.optimize(
        lambda t: float("nan") if t.number % 3 == 0 else t.suggest_float("x", 0, 1) + t.suggest_float("y", 0, 1),
        n_trials=30,
    )
    ax = vis.plot_optimization_history(s)
    assert len(offsets(ax)[0]) == 20
    assert "10 trials with a NaN" in texts(ax)
    for plot in ALL_PLOTS[2:]:
        plot(s)
    nan_only = tv.create_study()
    nan_only.optimize(lambda t: float("nan"), n_trials=2)
    with pytest.raises(ValueError, match="finite value"):
        vis.plot_slice(nan_only)


def test_parameters_of_some_trials_only():
    s = tv.create_study(sampler=tv.RandomSampler(seed=5))
    s.optimize(
        lambda t: t.suggest_float("x", 0, 1) + (t.suggest_float("extra", 0, 1) if t.number % 2 else 0), n_trials=20
    )
    fig = vis.plot_slice(s)
    counts = {ax.get_xlabel(): len(offsets(ax)[0]) for ax in fig.axes if ax.get_xlabel()}
    assert counts == {"extra": 10, "x": 20}
    ax = vis.plot_parallel_coordinate(s)
    assert "10 trial(s) without all of these parameters" in texts(ax)
    for plot in ALL_PLOTS[2:]:
        plot(s)
    with pytest.raises(ValueError, match="no trial has the parameter.*'nope'"):
        vis.plot_slice(s, params=["nope"])


@pytest.fixture(scope="module")
def two_objectives():
    s = tv.create_study(directions=["minimize", "maximize"], sampler=tv.RandomSampler(seed=6))
    s.optimize(lambda t: t.report(1.0, 0) or (t.suggest_float("a", 0, 1), t.suggest_float("b", 0, 1) ** 2), n_trials=30)
    return s


@pytest.mark.parametrize(
    "plot", [vis.plot_parallel_coordinate, vis.plot_slice, vis.plot_contour, vis.plot_param_importances]
)
def test_multi_objective_plots_draw_the_chosen_target(two_objectives, plot):
    with pytest.raises(ValueError, match="target=lambda"):
        plot(two_objectives)
    drawn = plot(two_objectives, target=lambda t: t.values[1], target_name="second")
    figure = drawn if isinstance(drawn, matplotlib.figure.Figure) else drawn.figure
    words = " ".join(
        " ".join([a.get_xlabel(), a.get_ylabel(), *(t.get_text() for t in a.get_xticklabels())]) for a in figure.axes
    )
    assert "second" in words


@pytest.mark.parametrize("plot", [vis.plot_intermediate_values, vis.plot_timeline, vis.plot_pareto_front])
def test_multi_objective_plots_without_a_target(two_objectives, plot):
    assert plot(two_objectives).has_data()


def test_plots_draw_without_a_display(tmp_path):
    env = {k: v for k, v in os.environ.items() if k not in ("DISPLAY", "WAYLAND_DISPLAY", "MPLBACKEND")}
    script = (
        "import tarvex as tv\nfrom tarvex import visualization as vis\ns = tv.create_study()\n"
        "s.optimize(lambda t: t.suggest_float('x', 0, 1), n_trials=5)\n"
        f"vis.plot_slice(s).savefig({str(tmp_path / 'slice.png')!r})\n"
        "import matplotlib; print(matplotlib.get_backend())"
    )
    out = subprocess.run([sys.executable, "-c", script], env=env, capture_output=True, text=True, check=True)
    assert out.stdout.strip().lower() == "agg" and (tmp_path / "slice.png").stat().st_size > 1000


@pytest.fixture(scope="module")
def dollar_names():
    study = tv.create_study(sampler=tv.RandomSampler(seed=4))

    def objective(trial):
        x = trial.suggest_float(r"$\undefinedcmd$", 0, 1)
        choice = trial.suggest_categorical("$x$", [r"$\undefinedcmd$", "plain"])
        trial.suggest_int("n", 1, 5)
        return x + (choice == "plain")

    study.optimize(objective, 30)
    return study


@pytest.mark.parametrize(
    "plot", [vis.plot_slice, vis.plot_contour, vis.plot_parallel_coordinate, vis.plot_param_importances]
)
def test_user_text_is_drawn_as_written_not_as_mathematics(dollar_names, plot):
    drawn = plot(dollar_names)
    figure = getattr(drawn, "figure", drawn)
    figure.canvas.draw()  # mathematics would be parsed (and \undefinedcmd refused) here
    texts = {t.get_text() for t in figure.findobj(matplotlib.text.Text)}
    assert r"\$\undefinedcmd\$" in texts and not any(t.startswith("$") for t in texts)


@pytest.mark.parametrize("plot", ALL_PLOTS + [vis.plot_pareto_front])
def test_plots_draw_into_the_axes_they_are_given(study, two_objectives, plot):
    target = two_objectives if plot is vis.plot_pareto_front else study
    panels = {vis.plot_slice: 3, vis.plot_contour: 9}.get(plot, 1)
    fig, grid = plt.subplots(1, panels, squeeze=False)
    given = list(grid[0])
    drawn = plot(target, ax=given if panels > 1 else given[0])
    assert drawn is (fig if panels > 1 else given[0])
    assert all(a.has_data() or a.texts or not a.axison for a in given)
    with pytest.raises(ValueError, match="ax must be None or"):
        plot(target, ax=given + given)
