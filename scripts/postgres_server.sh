# A throwaway PostgreSQL server for tests and benchmarks: sourced, it defines postgres_start and
# postgres_stop. The server runs as an unprivileged user (the postgres account when started by
# root), keeps its data under a temporary folder, listens on loopback only and is stopped by
# postgres_stop (call it from an EXIT trap). postgres_start exports TARVEX_TEST_POSTGRES, the URL
# of an empty database, and fails if the server does not come up.

postgres_start() {  # [extra server options, e.g. "-c fsync=off"]
    local bin run_as=() port
    bin=$(ls -d /usr/lib/postgresql/*/bin 2>/dev/null | sort -V | tail -1)
    if [ -z "$bin" ] || [ ! -x "$bin/initdb" ]; then
        echo "postgres: no PostgreSQL server installed (scripts/setup.sh installs it)" >&2
        return 1
    fi
    TARVEX_PG_DIR=$(mktemp -d /tmp/tarvex-pg.XXXXXX)
    if [ "$(id -u)" -eq 0 ]; then
        chown postgres: "$TARVEX_PG_DIR"
        run_as=(runuser -u postgres --)
    fi
    port=$(python -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')
    TARVEX_PG_RUN=("${run_as[@]}" "$bin/pg_ctl" -D "$TARVEX_PG_DIR/data")
    "${run_as[@]}" "$bin/initdb" -D "$TARVEX_PG_DIR/data" -U tarvex -A trust --no-sync >"$TARVEX_PG_DIR/initdb.log" 2>&1 ||
        { cat "$TARVEX_PG_DIR/initdb.log" >&2; return 1; }
    # The role tarvex_secret signs in with its password (tests of how passwords are handled);
    # everyone else is trusted, on loopback only.
    local hba="$TARVEX_PG_DIR/data/pg_hba.conf"
    { echo "host all tarvex_secret 127.0.0.1/32 scram-sha-256"; cat "$hba"; } >"$hba.new" && mv "$hba.new" "$hba"
    [ -z "${run_as[*]}" ] || chown postgres: "$hba"
    "${TARVEX_PG_RUN[@]}" -w -t 60 -l "$TARVEX_PG_DIR/server.log" start \
        -o "-c listen_addresses=127.0.0.1 -p $port -k $TARVEX_PG_DIR -c max_connections=200 $*" >/dev/null ||
        { cat "$TARVEX_PG_DIR/server.log" >&2; return 1; }
    export TARVEX_TEST_POSTGRES="postgresql://tarvex@127.0.0.1:$port/postgres"
}

postgres_stop() {
    if [ -n "${TARVEX_PG_DIR:-}" ]; then
        "${TARVEX_PG_RUN[@]}" -m immediate stop >/dev/null 2>&1 || true
        rm -rf "$TARVEX_PG_DIR"
        TARVEX_PG_DIR=""
    fi
}
