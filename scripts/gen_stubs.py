"""Writes bindings/_tarvex.pyi from the installed _tarvex module.

Run after changing the bindings: `.venv/bin/python scripts/gen_stubs.py`. The test suite checks
that the committed stub still matches the module."""

import re
import subprocess
import sys
import tempfile
from pathlib import Path

STUB = Path(__file__).resolve().parent.parent / "bindings" / "_tarvex.pyi"

# Study is registered before the sampler and pruner bases, so its signatures carry the C++ names.
CPP_NAMES = {"tarvex::ISampler": "ISampler | None", "tarvex::IPruner": "IPruner | None"}


def render() -> str:
    with tempfile.TemporaryDirectory() as out:
        subprocess.run(
            [
                sys.executable,
                "-m",
                "pybind11_stubgen",
                "_tarvex",
                "-o",
                out,
                "--print-invalid-expressions-as-is",
                "--enum-class-locations",
                "KernelType:_tarvex",
                "--enum-class-locations",
                "AcquisitionType:_tarvex",
            ],
            check=True,
            capture_output=True,
        )
        text = (Path(out) / "_tarvex.pyi").read_text()
    for cpp, py in CPP_NAMES.items():
        text = text.replace(cpp, py)
    if re.search(r"\w::\w|<\w", text):
        raise RuntimeError("the stub holds a C++ name or a repr that is not Python")
    return text


if __name__ == "__main__":
    STUB.write_text(render())
