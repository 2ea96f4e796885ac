"""What every plot shares: matplotlib imported on demand, notes drawn on the plot, colours."""

from __future__ import annotations

from typing import Any

from .._extras import require

STATE_COLOURS = {"Complete": "#1f77b4", "Pruned": "#ff7f0e", "Failed": "#d62728", "Running": "#7f7f7f"}
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


def dropped(n: int) -> str:
    return f"{n} trial{'s' if n != 1 else ''} with a NaN or infinite value not shown"


def grid_shape(n: int, max_columns: int = 4) -> tuple[int, int]:
    columns = min(n, max_columns)
    return -(-n // columns), columns
