#!/usr/bin/env bash
# Runs a command against a throwaway PostgreSQL cluster: created in a
# temporary folder, listening only on a Unix socket there, started (as the
# postgres user when we are root, since the server refuses to run as root)
# and removed afterwards, whatever the command's outcome.
#
#   scripts/pg-cluster.sh ctest --test-dir build
#
# The command sees KELDO_TEST_PG="host=<socket dir> port=<port> dbname=keldo_test user=<user>".
set -euo pipefail

bindir=$(ls -d /usr/lib/postgresql/*/bin 2>/dev/null | sort -V | tail -n 1)
if [ -z "$bindir" ]; then
    echo "pg-cluster: PostgreSQL server binaries not found" >&2
    exit 1
fi

work=$(mktemp -d /tmp/keldo-pg.XXXXXX)
port=${KELDO_PG_PORT:-54329}
runas=()
user=$(id -un)
if [ "$(id -u)" = 0 ]; then
    user=postgres
    chown postgres "$work"
    runas=(runuser -u postgres --)
fi

cleanup() {
    "${runas[@]}" "$bindir/pg_ctl" -D "$work/data" -m immediate stop >/dev/null 2>&1 || true
    rm -rf "$work"
}
trap cleanup EXIT

"${runas[@]}" "$bindir/initdb" -D "$work/data" -U "$user" --auth=trust --encoding=UTF8 \
    --locale=C.UTF-8 >"$work/initdb.log" 2>&1 || { cat "$work/initdb.log" >&2; exit 1; }
"${runas[@]}" "$bindir/pg_ctl" -D "$work/data" -l "$work/server.log" -w \
    -o "-k $work -c listen_addresses='' -p $port -c fsync=off -c max_connections=200" start \
    >/dev/null || { cat "$work/server.log" >&2; exit 1; }
"${runas[@]}" "$bindir/createdb" -h "$work" -p "$port" -U "$user" keldo_test

export KELDO_TEST_PG="host=$work port=$port dbname=keldo_test user=$user"
set +e
"$@"
status=$?
set -e
exit $status
