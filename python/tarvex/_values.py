"""How the package's values cross into the core, which keeps parameters as int, float or str and
user attributes as str.

A categorical choice may be None, a bool, an int, a float or a str; the core keeps it as its JSON
text, which tells them apart ("1", "1.0", "true" and "\\"1\\"" are four different choices) and
comes back as the same value. User attributes are JSON text as well. Numpy scalars count as the
Python values they stand for."""

from __future__ import annotations

import json
from collections.abc import Iterable, Mapping
from typing import Any

CHOICE_TYPES = (type(None), bool, int, float, str)
INT32 = (-(2**31), 2**31 - 1)


def plain(value: Any) -> Any:
    """value as the plain Python value it stands for (numpy scalars, subclasses of the built-in
    types), or value itself when it stands for none."""
    if type(value) in CHOICE_TYPES:
        return value
    for base in (bool, int, float, str):  # bool first: it is an int
        if isinstance(value, base):
            return base(value)
    if getattr(value, "ndim", None) == 0 and callable(getattr(value, "item", None)):  # numpy scalars and 0-d arrays
        item = value.item()
        if type(item) in CHOICE_TYPES:
            return item
    return value


def check_text(text: str, where: str) -> str:
    """Text that every storage keeps exactly: a database would cut it at a NUL character."""
    if "\0" in text:
        raise ValueError(f"{where}: text must not contain NUL characters (\\0), got {text!r}")
    return text


def encode_choice(value: Any, where: str) -> str:
    """The core's text for one categorical choice."""
    value = plain(value)
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


def encode_param(value: Any, where: str) -> int | float | str:
    """One parameter value for the core: an int that fits 32 bits, a float, or a choice's text."""
    value = plain(value)
    if type(value) is int:
        if INT32[0] <= value <= INT32[1]:
            return value
        try:
            return float(value)  # the core's ints are 32-bit; a float parameter takes it as it is
        except OverflowError:
            raise ValueError(f"{where}: {value} is too large for a parameter value") from None
    if type(value) is float:
        return value
    return encode_choice(value, where)


def encode_params(params: Mapping[str, Any], where: str) -> dict[str, Any]:
    """Parameters for the core: numbers as they are, every other choice as its text."""
    if not isinstance(params, Mapping):
        raise TypeError(f"{where}: params must be a dict of parameter names to values, not {type(params).__name__}")
    out = {}
    for name, value in params.items():
        if type(name) is not str:
            raise TypeError(f"{where}: parameter names must be str, not {name!r}")
        check_text(name, f"{where}: parameter name")
        out[name] = encode_param(value, f"{where}: parameter {name!r}")
    return out


def encode_attr(key: str, value: Any) -> str:
    if type(key) is not str:
        raise TypeError(f"set_user_attr: the key must be a str, not {type(key).__name__}")
    check_text(key, "set_user_attr: key")
    try:
        return json.dumps(value, allow_nan=True, default=_json_default)
    except (TypeError, ValueError) as error:
        raise TypeError(f"set_user_attr({key!r}): the value must be JSON-serialisable ({error})") from None


def _json_default(value: Any) -> Any:
    converted = plain(value)
    if converted is value:
        raise TypeError(f"Object of type {type(value).__name__} is not JSON serializable")
    return converted


def decode_attrs(attrs: Mapping[str, str]) -> dict[str, Any]:
    return {key: decode_text(text) for key, text in attrs.items()}


def objective_values(result: Any, n_directions: int, given: str = "") -> float | list[float]:
    """An objective's result as the core takes it: one float, or one per direction. Anything
    float() accepts is one value (numpy scalars and 0-d arrays included); a sequence holds one
    value per objective. given names the call the values were handed to, where they are not an
    objective's result (tell, add_trial)."""
    said = f"{given} was given" if given else "the objective returned"
    need = "it must be" if given else "it must return"
    if n_directions == 1:
        if type(result) is float:
            return result
        if _is_sequence(result):
            items = list(result)
            if len(items) != 1:
                raise ValueError(f"{said} {len(items)} values; the study has 1 direction")
            result = items[0]
        return _number(result, 1, said, need)
    if not _is_sequence(result):
        raise TypeError(
            f"{said} {_shown(result)}; a study with {n_directions} directions needs "
            f"a sequence of {n_directions} numbers"
        )
    values = [_number(v, n_directions, said, need) for v in result]
    if len(values) != n_directions:
        raise ValueError(f"{said} {len(values)} values; the study has {n_directions} directions")
    return values


def _is_sequence(value: Any) -> bool:
    if isinstance(value, (str, bytes, Mapping)) or getattr(value, "ndim", None) == 0:
        return False
    return isinstance(value, Iterable)


def _number(value: Any, n_directions: int, said: str, need: str) -> float:
    if not isinstance(value, (str, bytes)) and value is not None:
        try:
            return float(value)
        except OverflowError:
            raise ValueError(f"{said} {_shown(value)}, too large for a float") from None
        except (TypeError, ValueError):
            pass
    shape = "a number" if n_directions == 1 else f"a sequence of {n_directions} numbers"
    raise TypeError(f"{said} {_shown(value)}; {need} {shape}")


def _shown(value: Any) -> str:
    text = repr(value)
    return text if len(text) <= 60 else text[:57] + "..."
