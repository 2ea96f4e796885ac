#!/usr/bin/env bash
# The package on every supported interpreter.
#   bash scripts/test_interpreters.sh prepare   makes each interpreter's environment (quick when done)
#   bash scripts/test_interpreters.sh           tests
# For CPython 3.10 to 3.13 the manylinux wheel is built (linking the core installed at
# build/install, compiled once), installed into a fresh virtual environment with nothing else
# and checked there: it imports, runs a SQLite study, and needs no shared library from outside
# the wheel but the C and C++ runtimes. On 3.10 to 3.12 the package tests then run against it,
# the three at once: the Python suite without the files that spend most of its time on the core
# and on other programs rather than on the interpreter (stalled and killed database workers,
# random programs, the examples, the report in a browser), which 3.13 runs from scripts/test.sh.
# Expects the PATH and the test database that scripts/test.sh sets up.
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/find_python.sh
suites=(3.10 3.11 3.12)
left_out=(test_storage_faults.py test_fuzz.py test_examples.py test_report.py)

install_requirements() {  # environment, requirements file, marker name
    if ! cmp -s "$2" "$1/$3.installed"; then
        "$1/bin/python" -m pip install -q --disable-pip-version-check -r "$2"
        cp "$2" "$1/$3.installed"
    fi
}

prepare() {  # version: the build environment, with the test tools where the suite runs
    local version=$1 env=build/py$1/venv
    [ -x "$env/bin/python" ] || "$(find_python "$version")" -m venv "$env"
    install_requirements "$env" requirements-wheel.txt wheel-requirements
    [ "$version" = 3.13 ] || install_requirements "$env" requirements-interpreters.txt test-requirements
}

if [ "${1:-}" = prepare ]; then
    pids=()
    for version in "${suites[@]}" 3.13; do
        prepare "$version" &
        pids+=($!)
    done
    for pid in "${pids[@]}"; do wait "$pid"; done
    exit 0
fi

[ -f build/install/lib/cmake/tarvex/tarvexConfig.cmake ] || { echo "no core installed at build/install" >&2; exit 1; }
for version in "${suites[@]}" 3.13; do
    prepare "$version"
    TARVEX_CORE_PREFIX=build/install bash scripts/build_wheel.sh "$version" >/dev/null
    wheel=$(ls dist/tarvex-*-cp"${version/./}"-*manylinux*.whl)
    fresh=build/py$version/fresh
    rm -rf "$fresh"
    "$(find_python "$version")" -m venv "$fresh"
    "$fresh/bin/python" -m pip install -q --disable-pip-version-check "$wheel"
    (cd "$fresh" && bin/python "$OLDPWD/tests/wheel/check_installed.py")
    [ "$version" = 3.13 ] || build/py$version/venv/bin/python -m pip install -q --disable-pip-version-check \
        --force-reinstall --no-deps "$wheel"
done

# The suites wait on processes and databases much of the time: side by side they take little
# longer than one. With job control on, the background suites keep SIGINT (a script's background
# jobs otherwise ignore it, and the Ctrl-C tests would wait in vain). One OpenMP thread each:
# scikit-learn's would otherwise crowd the two cores.
set -m
export OMP_NUM_THREADS=1
pids=()
for version in "${suites[@]}"; do
    env=build/py$version/venv
    PATH="$PWD/$env/bin:$PATH" "$env/bin/python" -m pytest -q -p no:cacheprovider tests/python \
        "${left_out[@]/#/--ignore=tests/python/}" \
        >"build/py$version/pytest.log" 2>&1 &
    pids+=($!)
done
failed=0
for i in "${!suites[@]}"; do
    status=0
    wait "${pids[$i]}" || status=$?
    echo "== Python ${suites[$i]}: $(tail -n 1 "build/py${suites[$i]}/pytest.log")"
    if [ "$status" -ne 0 ]; then
        cat "build/py${suites[$i]}/pytest.log"
        failed=1
    fi
done
exit "$failed"
