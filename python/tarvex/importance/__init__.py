"""Which parameters mattered: each parameter's share of the variance of the objective, estimated by
functional ANOVA on a random forest fitted to the completed trials."""

from ._fanova import param_importances

__all__ = ["param_importances"]
