"""What every plot shares: matplotlib imported on demand, notes drawn on the plot, colours."""

from __future__ import annotations

from typing import Any

from .._extras import require
from .._plotdata.common import STATE_COLOURS, dropped

__all__ = ["STATE_COLOURS", "VALUE_MAP", "dropped", "grid_shape", "literal", "note", "pyplot"]
VALUE_MAP = "viridis"


def pyplot(where: str) -> Any:
    """matplotlib.pyplot; without a display matplotlib draws on its Agg backend."""
    require("matplotlib", "visualization", where)
    return require("matplotlib.pyplot", "visualization", where)


def literal(text: str) -> str:
    """User text (a parameter, choice or objective name) as matplotlib shows it as written: it
    would otherwise read text between dollar signs as mathematics, or fail on it."""
    return text.replace("$", r"\$")


def note(ax: Any, text: str) -> None:
    """A remark the plot makes about itself (left-out trials, too few points), drawn in the plot."""
    ax.text(0.01, 0.99, literal(text), transform=ax.transAxes, ha="left", va="top", fontsize=8, color="0.35")


def grid_shape(n: int, max_columns: int = 4) -> tuple[int, int]:
    columns = min(n, max_columns)
    return -(-n // columns), columns


def given_axes(ax: Any, n: int, where: str) -> list[Any] | None:
    """The Axes a caller gave a plot of n panels to draw on: one Axes for one panel, a sequence
    (or array) of n for more; None when ax is None and the plot makes its own figure."""
    if ax is None:
        return None
    given = list(getattr(ax, "flat", ax)) if isinstance(ax, (list, tuple)) or hasattr(ax, "flat") else [ax]
    if len(given) != n or not all(hasattr(a, "figure") for a in given):
        wanted = "one matplotlib Axes" if n == 1 else f"a sequence of {n} matplotlib Axes (one per panel)"
        raise ValueError(f"{where}: ax must be None or {wanted}, got {ax!r}")
    return given
