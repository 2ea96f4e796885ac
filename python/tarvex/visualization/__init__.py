"""Plots of a study (matplotlib, the "visualization" extra). Each function takes a study, in
memory or loaded from a storage, and returns the matplotlib Axes or Figure it drew on; without a
display matplotlib draws on its Agg backend. A study with nothing to show raises ValueError
saying why; trials left out of a plot (NaN values, missing parameters) are noted on it."""

from ._contour import plot_contour
from ._history import plot_optimization_history
from ._hypervolume import plot_hypervolume_history
from ._importances import plot_param_importances
from ._intermediate import plot_intermediate_values
from ._parallel import plot_parallel_coordinate
from ._pareto import plot_pareto_front
from ._slice import plot_slice
from ._timeline import plot_timeline

__all__ = [
    "plot_contour",
    "plot_hypervolume_history",
    "plot_intermediate_values",
    "plot_optimization_history",
    "plot_parallel_coordinate",
    "plot_param_importances",
    "plot_pareto_front",
    "plot_slice",
    "plot_timeline",
]
