"""Optional dependencies, imported where they are needed."""

from __future__ import annotations

import importlib
from types import ModuleType


def require(module: str, extra: str, feature: str) -> ModuleType:
    """The module, or an ImportError that says which extra of the package brings it."""
    try:
        return importlib.import_module(module)
    except ImportError as error:
        raise ImportError(
            f"{feature} needs {module.split('.')[0]}, which is not installed: pip install 'tarvex[{extra}]'"
        ) from error
