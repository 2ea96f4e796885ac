"""How the package's values cross into the core, which keeps parameters as int, float or str and
user attributes as str.

A categorical choice may be None, a bool, an int, a float or a str; the core keeps it as its JSON
text, which tells them apart ("1", "1.0", "true" and "\\"1\\"" are four different choices) and
comes back as the same value. User attributes are JSON text as well."""

from __future__ import annotations

import json
from collections.abc import Iterable, Mapping
from typing import Any

CHOICE_TYPES = (type(None), bool, int, float, str)


def encode_choice(value: Any, where: str) -> str:
    """The core's text for one categorical choice."""
    if type(value) not in CHOICE_TYPES:
        raise TypeError(f"{where}: a choice is None, a bool, an int, a float or a str, not {type(value).__name__}")
    return json.dumps(value)


def decode_text(text: str) -> Any:
    """A value stored as text; text the package did not write comes back as it is."""
    try:
        return json.loads(text)
    except ValueError:
        return text


def decode_params(params: Mapping[str, Any]) -> dict[str, Any]:
    """Parameters as the objective saw them: categorical choices back to their own type."""
    return {name: decode_text(v) if type(v) is str else v for name, v in params.items()}


def encode_params(params: Mapping[str, Any], where: str) -> dict[str, Any]:
    """Parameters for the core: numbers as they are, every other choice as its text."""
    if not isinstance(params, Mapping):
        raise TypeError(f"{where}: params must be a dict of parameter names to values, not {type(params).__name__}")
    out = {}
    for name, value in params.items():
        if type(name) is not str:
            raise TypeError(f"{where}: parameter names must be str, not {name!r}")
        out[name] = value if type(value) in (int, float) else encode_choice(value, f"{where}: parameter {name!r}")
    return out


def encode_attr(key: str, value: Any) -> str:
    if type(key) is not str:
        raise TypeError(f"set_user_attr: the key must be a str, not {type(key).__name__}")
    try:
        return json.dumps(value, allow_nan=True)
    except (TypeError, ValueError) as error:
        raise TypeError(f"set_user_attr({key!r}): the value must be JSON-serialisable ({error})") from None


def decode_attrs(attrs: Mapping[str, str]) -> dict[str, Any]:
    return {key: decode_text(text) for key, text in attrs.items()}


def objective_values(result: Any, n_directions: int) -> float | list[float]:
    """An objective's result as the core takes it: one float, or one per direction."""
    if n_directions == 1:
        if type(result) is float or type(result) is int:
            return result
        if _is_sequence(result):
            items = list(result)
            if len(items) != 1:
                raise ValueError(f"the objective returned {len(items)} values; the study has 1 direction")
            result = items[0]
        return _number(result, 1)
    if not _is_sequence(result):
        raise TypeError(f"the objective returned {result!r}; a study with {n_directions} directions needs "
                        f"a sequence of {n_directions} numbers")
    values = [_number(v, n_directions) for v in result]
    if len(values) != n_directions:
        raise ValueError(f"the objective returned {len(values)} values; the study has {n_directions} directions")
    return values


def _is_sequence(value: Any) -> bool:
    return isinstance(value, Iterable) and not isinstance(value, (str, bytes, Mapping))


def _number(value: Any, n_directions: int) -> float:
    if not isinstance(value, (str, bytes)) and value is not None:
        try:
            return float(value)
        except (TypeError, ValueError):
            pass
    shape = "a number" if n_directions == 1 else f"a sequence of {n_directions} numbers"
    raise TypeError(f"the objective returned {value!r}; it must return {shape}")
