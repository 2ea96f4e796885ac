#!/usr/bin/env bash
# The storage benchmarks on SQLite and on a PostgreSQL server started here with its default
# durability settings (over loopback), each on a new database: cost per trial, reopening a study
# of 10,000 trials, should_prune against 10,000 stored trials, and 1 against 4 worker processes.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh
export PATH="$PWD/.venv/bin:$PATH"
cmake -S . -B build/release -G Ninja -DTARVEX_BUILD_BENCH=ON >/dev/null
cmake --build build/release --target bench_storage_cost bench_pruner_cost

scratch=$(mktemp -d)
source scripts/postgres_server.sh
trap 'postgres_stop; rm -rf "$scratch"' EXIT
postgres_start
server=${TARVEX_TEST_POSTGRES%/*}
database() {  # a new PostgreSQL database's URL
    psql -q "$TARVEX_TEST_POSTGRES" -c "CREATE DATABASE $1"
    echo "$server/$1"
}

build/release/bench/bench_storage_cost "sqlite:///$scratch/cost.db"
build/release/bench/bench_storage_cost "$(database cost)"
build/release/bench/bench_pruner_cost
build/release/bench/bench_pruner_cost "sqlite:///$scratch/pruning.db"
build/release/bench/bench_pruner_cost "$(database pruning)"
python bench/storage_throughput.py "$(database throughput)"
