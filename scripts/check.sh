#!/usr/bin/env bash
# Lint, format and type checks, which take seconds: run first by scripts/test.sh, and on their own
# before a commit. Any finding fails. Expects the tools of requirements.txt on PATH (.venv/bin).
set -euo pipefail
cd "$(dirname "$0")/.."
python_dirs=(python tests/python examples)
ruff check --no-cache "${python_dirs[@]}"
ruff format --no-cache --check "${python_dirs[@]}"
mypy --no-incremental
mapfile -t cxx < <(find include src bindings tests bench examples -name '*.cpp' -o -name '*.hpp' | sort)
(( ${#cxx[@]} > 0 )) || { echo "no C++ sources found" >&2; exit 1; }
clang-format --dry-run --Werror "${cxx[@]}"
echo "checks passed"
