#!/usr/bin/env bash
# Sets up, builds and runs the first example: random search on a known function.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh
export PATH="$PWD/.venv/bin:$PATH"
cmake -S . -B build/release -G Ninja -DTARVEX_WERROR=ON >/dev/null
cmake --build build/release --target random_search
./build/release/random_search
