"""Parameter importances as bars."""

from __future__ import annotations

from collections.abc import Callable, Iterable
from typing import TYPE_CHECKING, Any

from ..importance import param_importances
from ._common import given_axes, literal, pyplot

if TYPE_CHECKING:
    from .._trial import FrozenTrial
    from .._types import StudyView


def plot_param_importances(
    study: StudyView,
    params: Iterable[str] | None = None,
    *,
    target: Callable[[FrozenTrial], float] | None = None,
    target_name: str | None = None,
    seed: int = 0,
    ax: Any = None,
) -> Any:
    """Each parameter's share of the variance of the value (tarvex.importance.param_importances),
    most important at the top. Returns the Axes it drew on (ax, when given)."""
    plt = pyplot("plot_param_importances")
    shares = param_importances(study, params=params, target=target, seed=seed)
    names = list(shares)[::-1]
    if given_axes(ax, 1, "plot_param_importances") is None:
        _, ax = plt.subplots(figsize=(6.4, 0.9 + 0.35 * len(names)))
    bars = ax.barh(range(len(names)), [shares[n] for n in names], color="#1f77b4")
    ax.set_yticks(range(len(names)), [literal(n) for n in names])
    for bar, name in zip(bars, names):
        ax.text(bar.get_width(), bar.get_y() + bar.get_height() / 2, f" {shares[name]:.2f}", va="center", fontsize=8)
    ax.set_xlim(0, 1.1 * max(shares.values()))
    ax.set_xlabel(literal(f"Importance for {target_name or 'the objective value'}"))
    ax.set_title("Parameter importances")
    return ax
