"""tarvex inside other libraries: a scikit-learn search estimator and pruning callbacks for
LightGBM and XGBoost. Each integration is imported
when first used, so that this package needs none of those libraries until then (an ImportError
names the extra that brings the missing one)."""

from __future__ import annotations

from typing import Any

from .._extras import require

# name -> (module of this package, the library it needs, the package extra that brings it)
_PLACES = {
    "TarvexSearchCV": ("._sklearn", "sklearn", "sklearn"),
    "LightGBMCallback": ("._lightgbm", "lightgbm", "lightgbm"),
    "XGBoostCallback": ("._xgboost", "xgboost", "xgboost"),
}

__all__ = sorted(_PLACES)


def __getattr__(name: str) -> Any:
    if name not in _PLACES:
        raise AttributeError(f"module 'tarvex.integration' has no attribute {name!r}")
    module, library, extra = _PLACES[name]
    require(library, extra, f"tarvex.integration.{name}")
    import importlib

    value = getattr(importlib.import_module(module, __name__), name)
    globals()[name] = value
    return value
