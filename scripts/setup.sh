#!/usr/bin/env bash
# Installs everything building and testing tarvex needs. Idempotent, and quick when done before.
set -euo pipefail
cd "$(dirname "$0")/.."

missing=()
# The database clients for the storage, a PostgreSQL server the tests start themselves, and the
# headless browser that opens the HTML report in the tests.
for pkg in g++ libeigen3-dev libgtest-dev libsqlite3-dev libpq-dev postgresql chromium; do
    dpkg -s "$pkg" >/dev/null 2>&1 || missing+=("$pkg")
done
if ((${#missing[@]})); then
    sudo=""
    [ "$(id -u)" -eq 0 ] || sudo="sudo"
    export DEBIAN_FRONTEND=noninteractive
    $sudo apt-get update -qq
    $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi

source scripts/find_python.sh
if ! .venv/bin/python -c 'import sys; assert sys.version_info[:2] == (3, 13)' 2>/dev/null; then
    rm -rf .venv
    "$(find_python 3.13)" -m venv .venv
fi
if ! cmp -s requirements.txt .venv/requirements.installed; then
    .venv/bin/python -m pip install -q --disable-pip-version-check -r requirements.txt
    cp requirements.txt .venv/requirements.installed
fi

# The project itself, so that `import _tarvex` works in .venv; incremental through build/wheel.
# The test command installs its own wheel instead (TARVEX_SETUP_MODULE=0).
if [ "${TARVEX_SETUP_MODULE:-1}" != 0 ]; then
    .venv/bin/python -m pip install -q --disable-pip-version-check --no-build-isolation .
fi
