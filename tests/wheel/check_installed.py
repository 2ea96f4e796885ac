"""Checks an installed wheel in a fresh virtual environment: it imports, runs a study stored in
SQLite, and its module needs no shared library beyond those it carries and the C and C++
runtimes every manylinux system has. Run by the environment's interpreter; exits non-zero on
any fault."""

import os
import pathlib
import re
import subprocess
import sys
import tempfile

# The libraries a manylinux policy lets a wheel take from the system.
SYSTEM = {
    "linux-vdso.so.1",
    "ld-linux-x86-64.so.2",
    "libc.so.6",
    "libm.so.6",
    "libdl.so.2",
    "librt.so.1",
    "libpthread.so.0",
    "libresolv.so.2",
    "libutil.so.1",
    "libnsl.so.1",
    "libgcc_s.so.1",
    "libstdc++.so.6",
}


def dependencies(library: pathlib.Path) -> dict[str, str]:
    """soname -> the path the loader resolves it to, or "not found"."""
    out = subprocess.run(["ldd", str(library)], check=True, capture_output=True, text=True,
                         env={**os.environ, "LD_LIBRARY_PATH": ""}).stdout
    found = {}
    for line in out.splitlines():
        m = re.match(r"\s*(\S+)(?: => (\S+(?: \(.*\))?|not found))?", line)
        if m:
            found[pathlib.Path(m.group(1)).name] = (m.group(2) or m.group(1)).split(" (")[0]
    return found


def main() -> None:
    import _tarvex

    import tarvex as tv

    module = pathlib.Path(_tarvex.__file__).resolve()
    site = module.parent
    carried = site / "tarvex.libs"
    assert carried.is_dir(), f"the wheel carries no libraries: {carried} is missing"
    for library in [module, *carried.iterdir()]:
        for name, path in dependencies(library).items():
            inside = path.startswith(str(carried))
            assert inside or name in SYSTEM, f"{library.name} needs {name} from outside the wheel ({path})"
            assert path != "not found", f"{library.name} needs {name}, which is missing"
    names = {p.name for p in carried.iterdir()}
    for client in ("libpq", "libsqlite3"):
        assert any(n.startswith(client + "-") for n in names), f"{client} is not carried by the wheel"

    with tempfile.TemporaryDirectory() as d:
        url = f"sqlite:///{d}/study.db"
        study = tv.create_study(study_name="smoke", storage=url, sampler=tv.TPESampler(seed=1))
        study.optimize(lambda t: (t.suggest_float("x", -2, 2) - 0.5) ** 2, n_trials=30)
        again = tv.load_study(study_name="smoke", storage=url)
        assert len(again.trials) == 30 and again.best_value < 0.05, again.best_value
    print(f"wheel ok on Python {sys.version.split()[0]}: {module.name}, {len(names)} libraries carried")


if __name__ == "__main__":
    main()
