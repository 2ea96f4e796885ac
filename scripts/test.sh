#!/usr/bin/env bash
# Sets up, checks lint, formatting and types, builds and runs every test: the C++ suite in a warning-free release build, a program
# built against the installed C++ package, the Python suite against the installed module, then the
# C++ suite under ASan + UBSan and the threaded cases under TSan. The database tests use a
# PostgreSQL server started here and stopped at exit. Any failure stops with a non-zero exit.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh
export PATH="$PWD/.venv/bin:$PATH"
bash scripts/check.sh  # lint, formatting and types: seconds, before anything slow
jobs=$(nproc)

source scripts/postgres_server.sh
trap postgres_stop EXIT
# Test data is thrown away: no need to wait for the disk.
postgres_start "-c fsync=off -c synchronous_commit=off -c full_page_writes=off"

configure_and_test() {  # build directory, ctest arguments, -- cmake arguments
    local dir=$1 ctest_args=$2
    shift 3
    cmake -S . -B "$dir" -G Ninja "$@" >/dev/null
    cmake --build "$dir" -j "$jobs"
    # shellcheck disable=SC2086
    ctest --test-dir "$dir" --output-on-failure --no-tests=error -j "$jobs" $ctest_args
}

configure_and_test build/release "" -- -DTARVEX_WERROR=ON -DTARVEX_BUILD_BENCH=ON
# The installed package, used by a program compiled for this host's CPU while the library is not.
rm -rf build/install build/consumer
cmake --install build/release --prefix build/install >/dev/null
cmake -S tests/consumer -B build/consumer -G Ninja -DCMAKE_PREFIX_PATH="$PWD/build/install" \
    -DCMAKE_CXX_FLAGS="-march=native" >/dev/null
cmake --build build/consumer
build/consumer/consumer
python -m pytest -q -p no:cacheprovider tests/python
configure_and_test build/asan "" -- -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTARVEX_SANITIZE=address,undefined
configure_and_test build/tsan "-L threaded" -- -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTARVEX_SANITIZE=thread
echo "all tests passed"
