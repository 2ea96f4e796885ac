#!/usr/bin/env bash
# Sets up, builds and runs the first example: random search on a known function, from Python.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh
.venv/bin/python examples/random_search.py
