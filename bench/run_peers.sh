#!/usr/bin/env bash
# Runs the comparison with scikit-optimize and hyperopt in its own virtual environment
# (.venv-bench) and writes docs/benchmarks.md with its plots. Extra arguments go to peers.py.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh  # system packages and the Python 3.13 the library uses
if ! .venv-bench/bin/python -c 'import sys; assert sys.version_info[:2] == (3, 13)' 2>/dev/null; then
    rm -rf .venv-bench
    "$(realpath .venv/bin/python)" -m venv .venv-bench
fi
if ! cmp -s bench/requirements-bench.txt .venv-bench/requirements.installed; then
    .venv-bench/bin/python -m pip install -q --disable-pip-version-check -r bench/requirements-bench.txt
    cp bench/requirements-bench.txt .venv-bench/requirements.installed
fi
.venv-bench/bin/python -m pip install -q --disable-pip-version-check --no-build-isolation \
    --config-settings=build-dir=build/wheel-bench .
# One BLAS thread per process: the quality runs are spread over the cores by peers.py itself.
export OMP_NUM_THREADS=1 OPENBLAS_NUM_THREADS=1 MKL_NUM_THREADS=1
.venv-bench/bin/python bench/peers.py "$@"
