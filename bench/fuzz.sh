#!/usr/bin/env bash
# Long fuzzing runs, outside CI: the libFuzzer target (clang, ASan + UBSan) for a bounded time,
# then the long profile of the Python property tests.
#   bash bench/fuzz.sh [seconds for libFuzzer, default 300] [Python examples, default 30000]
# Inputs that crash are written to build/fuzz/crash-*; save them under tests/fuzz/regressions.
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-300}
examples=${2:-30000}
bash scripts/setup.sh
export PATH="$PWD/.venv/bin:$PATH"
if ! command -v clang++ >/dev/null || ! dpkg -s libclang-rt-14-dev >/dev/null 2>&1; then
    sudo=""
    [ "$(id -u)" -eq 0 ] || sudo="sudo"
    $sudo apt-get update -qq
    DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends clang libclang-rt-14-dev
fi
CXX=clang++ cmake -S . -B build/fuzz -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTARVEX_FUZZ=ON \
    -DTARVEX_SANITIZE=address,undefined -DTARVEX_BUILD_EXAMPLES=OFF >/dev/null
cmake --build build/fuzz --target fuzz_study
mkdir -p build/fuzz/corpus
(cd build/fuzz && ./tests/fuzz/fuzz_study -max_total_time="$seconds" -max_len=1024 -timeout=10 \
    -print_final_stats=1 corpus "$OLDPWD/tests/fuzz/regressions")
TARVEX_FUZZ_EXAMPLES="$examples" python -m pytest -q -p no:cacheprovider tests/python/test_fuzz.py
