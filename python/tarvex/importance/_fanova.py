"""Functional ANOVA on a random forest (after Hutter, Hoos and Leyton-Brown, 2014).

A regression tree is piecewise constant on boxes, so its marginal over all parameters but one,
under the uniform measure on the search space, is exact and cheap: each leaf adds its value times
the volume share of its box in the other dimensions to every segment of the one dimension it
covers. A parameter's importance is the variance of its marginal over the tree's total variance,
averaged over the trees and scaled so that the parameters' shares sum to 1."""

from __future__ import annotations

from collections.abc import Callable, Iterable
from typing import TYPE_CHECKING, Any

from .._extras import require
from .._space import axes, target_of

if TYPE_CHECKING:
    from .._trial import FrozenTrial
    from .._types import StudyView

N_TREES = 64


def param_importances(
    study: StudyView,
    *,
    params: Iterable[str] | None = None,
    target: Callable[[FrozenTrial], float] | None = None,
    seed: int = 0,
) -> dict[str, float]:
    """Each parameter's share of the variance of the objective, from most to least important.

    The completed trials train a random forest (scikit-learn, the "importance" extra) on the
    parameters in their natural encoding: log-scaled ones by exponent, integers as numbers,
    categorical ones by choice. Each tree's prediction is decomposed over the search space taken as
    uniform; a parameter's share is the variance of its marginal prediction. The shares sum to 1
    and are the same for the same trials and seed.

    Args:
        params: the parameters to weigh (default: every parameter of the completed trials); only
            trials that have all of them are used.
        target: for a multi-objective study or a derived value, a function of a trial giving the
            value to explain.
        seed: the forest's seed.
    """
    where = "param_importances"
    np = require("numpy", "importance", where)
    ensemble = require("sklearn.ensemble", "importance", where)
    if type(seed) is not int or seed < 0:
        raise ValueError(f"{where}: seed must be a non-negative int, got {seed!r}")
    chosen = target_of(study, target, None, where)
    space = axes(chosen.trials, params, where)
    if not space:
        raise ValueError(f"{where}: the completed trials have no parameters")
    rows = [(t, v) for t, v in zip(chosen.trials, chosen.values) if all(a.name in t.params for a in space)]
    if len(rows) < 2:
        raise ValueError(
            f"{where}: {len(rows)} completed trial(s) have all of the parameters "
            f"{', '.join(a.name for a in space)}; at least 2 are needed"
        )
    y = np.array([v for _, v in rows])
    if np.ptp(y) == 0:
        raise ValueError(
            f"{where}: all {len(rows)} completed trials have the same value, so no parameter explains any of it"
        )
    x = np.array([[a.position(t.params[a.name]) for a in space] for t, _ in rows])
    bounds = np.array([a.bounds() for a in space], dtype=float)
    # A parameter whose trials all share one value still has an extent, so volumes stay positive.
    flat = bounds[:, 1] <= bounds[:, 0]
    bounds[flat] += [-0.5, 0.5]
    forest = ensemble.RandomForestRegressor(n_estimators=N_TREES, random_state=seed, n_jobs=1)
    forest.fit(x, y)
    shares = np.zeros(len(space))
    n_used = 0
    for tree in forest.estimators_:
        explained = _tree_shares(np, tree.tree_, bounds)
        if explained is not None:
            shares += explained
            n_used += 1
    total = shares.sum()
    if n_used == 0 or total <= 0:
        shares = np.full(len(space), 1.0 / len(space))
    else:
        shares /= total
    order = sorted(range(len(space)), key=lambda i: (-shares[i], i))
    return {space[i].name: float(shares[i]) for i in order}


def _tree_shares(np: Any, tree: Any, bounds: Any) -> Any:
    """Each dimension's main-effect variance over the tree's total variance; None for a constant tree."""
    lo, hi, value = _leaf_boxes(np, tree, bounds)
    width = bounds[:, 1] - bounds[:, 0]
    frac = np.clip(hi - lo, 0.0, None) / width
    volume = frac.prod(axis=1)
    mean = volume @ value
    total = volume @ (value - mean) ** 2
    if total <= 1e-300:
        return None
    out = np.empty(len(bounds))
    for d in range(len(bounds)):
        others = np.delete(frac, d, axis=1).prod(axis=1)
        cuts = np.unique(np.concatenate([lo[:, d], hi[:, d]]))
        start = np.searchsorted(cuts, lo[:, d])
        stop = np.searchsorted(cuts, hi[:, d])
        steps = np.zeros(len(cuts))
        np.add.at(steps, start, value * others)
        np.add.at(steps, stop, -value * others)
        marginal = np.cumsum(steps)[:-1]  # on each segment between consecutive cuts
        segment = np.diff(cuts) / width[d]
        out[d] = segment @ (marginal - mean) ** 2 / total
    return out


def _leaf_boxes(np: Any, tree: Any, bounds: Any) -> tuple[Any, Any, Any]:
    """The leaves' boxes within bounds and their predictions."""
    lo, hi, value = [], [], []
    stack = [(0, bounds[:, 0].copy(), bounds[:, 1].copy())]
    left, right, feature, threshold = tree.children_left, tree.children_right, tree.feature, tree.threshold
    while stack:
        node, box_lo, box_hi = stack.pop()
        if left[node] == -1:
            lo.append(box_lo)
            hi.append(box_hi)
            value.append(tree.value[node].ravel()[0])
            continue
        f, t = feature[node], threshold[node]
        left_hi = box_hi.copy()
        left_hi[f] = min(box_hi[f], t)
        right_lo = box_lo.copy()
        right_lo[f] = max(box_lo[f], t)
        stack.append((left[node], box_lo, left_hi))
        stack.append((right[node], right_lo, box_hi))
    lo, hi = np.array(lo), np.array(hi)
    # A split outside the search space leaves an empty box: give it zero width, not a negative one.
    return lo, np.maximum(hi, lo), np.array(value)
