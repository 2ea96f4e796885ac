#!/usr/bin/env bash
# Sets up, checks lint, formatting and types, builds and runs every test: the C++ suite in a
# warning-free release build, a program built against the installed C++ package, the Python suite
# against the manylinux wheel built on that core, the wheel and the package on every supported
# interpreter, then the C++ suite under ASan + UBSan and the threaded cases under TSan. The
# database tests use a PostgreSQL server started here and stopped at exit. Any failure stops with
# a non-zero exit.
set -euo pipefail
cd "$(dirname "$0")/.."
TARVEX_SETUP_MODULE=0 bash scripts/setup.sh
export PATH="$PWD/.venv/bin:$PATH"
bash scripts/check.sh  # lint, formatting and types: seconds, before anything slow
jobs=$(nproc)
phase() { echo "== $1 (at ${SECONDS}s)"; }  # where the time goes, in the log

# The other interpreters' environments download while the core compiles.
mkdir -p build
bash scripts/test_interpreters.sh prepare >build/prepare.log 2>&1 &
prepare=$!

source scripts/postgres_server.sh
trap postgres_stop EXIT
# Test data is thrown away: no need to wait for the disk.
postgres_start "-c fsync=off -c synchronous_commit=off -c full_page_writes=off"

configure_and_test() {  # build directory, ctest arguments, targets (all: empty), -- cmake arguments
    local dir=$1 ctest_args=$2 targets=$3
    shift 4
    cmake -S . -B "$dir" -G Ninja "$@" >/dev/null
    # shellcheck disable=SC2086
    cmake --build "$dir" -j "$jobs" ${targets:+--target $targets}
    # shellcheck disable=SC2086
    ctest --test-dir "$dir" --output-on-failure --no-tests=error -j "$jobs" $ctest_args
}

phase "release build and C++ tests"
configure_and_test build/release "" "" -- -DTARVEX_WERROR=ON -DTARVEX_BUILD_BENCH=ON
# The installed package, used by a program compiled for this host's CPU while the library is not.
rm -rf build/install build/consumer
cmake --install build/release --prefix build/install >/dev/null
cmake -S tests/consumer -B build/consumer -G Ninja -DCMAKE_PREFIX_PATH="$PWD/build/install" \
    -DCMAKE_CXX_FLAGS="-march=native" >/dev/null
cmake --build build/consumer
build/consumer/consumer
wait "$prepare" || { cat build/prepare.log; exit 1; }
# The module .venv tests is the 3.13 wheel, built on that same core.
TARVEX_CORE_PREFIX=build/install bash scripts/build_wheel.sh 3.13 >/dev/null
python -m pip install -q --disable-pip-version-check --force-reinstall --no-deps dist/tarvex-*-cp313-*manylinux*.whl
phase "Python suite on 3.13"
python -m pytest -q -p no:cacheprovider tests/python
phase "other interpreters"
bash scripts/test_interpreters.sh
phase "AddressSanitizer and UndefinedBehaviorSanitizer"
# The sanitizer builds at -O1 with line tables only: the same faults found, in half the compile time.
sanitized=(-DCMAKE_BUILD_TYPE=RelWithDebInfo "-DCMAKE_CXX_FLAGS_RELWITHDEBINFO=-O1 -g1 -DNDEBUG")
configure_and_test build/asan "" "" -- "${sanitized[@]}" -DTARVEX_SANITIZE=address,undefined
phase "ThreadSanitizer"
configure_and_test build/tsan "-L threaded" "test_threads test_storage" -- "${sanitized[@]}" -DTARVEX_SANITIZE=thread
echo "all tests passed in ${SECONDS}s"
