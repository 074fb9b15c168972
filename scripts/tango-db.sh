#!/usr/bin/env bash
# Runs a command beside a Tango database of its own: MariaDB and DataBaseds
# started in a temporary folder, TANGO_HOST naming them; both stopped and the
# folder removed when the command ends, however it ends. As root it runs in
# network, mount and PID namespaces of its own, so its ports meet no other
# program's and nothing it started outlives it.
#   scripts/tango-db.sh COMMAND [ARG...]
set -euo pipefail

if [ "$(id -u)" -eq 0 ] && [ -z "${TALMIR880_TANGO_DB_PRIVATE:-}" ] &&
  unshare --net true 2>/dev/null; then
  export TALMIR880_TANGO_DB_PRIVATE=1
  exec unshare --net --mount --pid --fork --kill-child --mount-proc bash "$0" "$@"
fi
if [ -n "${TALMIR880_TANGO_DB_PRIVATE:-}" ]; then
  ip link set lo up
  port=10000
else
  port=$(python3 -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')
fi

schema=/usr/share/dbconfig-common/data/tango-db/install/mysql
for need in mariadb-install-db mariadbd mariadb tango_admin; do
  command -v "$need" >/dev/null || PATH=$PATH:/usr/sbin command -v "$need" >/dev/null ||
    { echo "tango-db.sh: $need not found (scripts/deps.sh installs it)" >&2; exit 1; }
done
[ -r "$schema" ] || { echo "tango-db.sh: no $schema (scripts/deps.sh installs tango-db)" >&2; exit 1; }
export PATH=$PATH:/usr/sbin

dir=$(mktemp -d "${TMPDIR:-/tmp}/talmir880-tango-db.XXXXXX")
mariadb_pid=
databaseds_pid=
stop_all() {
  local status=$?
  # A Tango server ends cleanly on SIGINT (on SIGTERM DataBaseds aborts).
  for pid in $databaseds_pid $mariadb_pid; do
    if [ "$pid" = "$databaseds_pid" ]; then kill -INT "$pid" 2>/dev/null || true; else kill "$pid" 2>/dev/null || true; fi
    # Bounded: what will not end by itself is killed.
    for _ in $(seq 50); do kill -0 "$pid" 2>/dev/null || break; sleep 0.1; done
    kill -9 "$pid" 2>/dev/null || true
    wait "$pid" 2>/dev/null || true
  done
  rm -rf "$dir"
  exit "$status"
}
trap stop_all EXIT
trap 'exit 130' INT
trap 'exit 143' TERM

failed() {
  echo "tango-db.sh: $1" >&2
  cat "$dir"/*.log >&2 2>/dev/null || true
  exit 1
}

mariadb-install-db --no-defaults --datadir="$dir/data" --user=root \
  --auth-root-authentication-method=normal --skip-test-db >"$dir/install.log" 2>&1 ||
  failed "MariaDB's data folder could not be made"
mariadbd --no-defaults --datadir="$dir/data" --user=root --skip-networking \
  --socket="$dir/mysqld.sock" --pid-file="$dir/mysqld.pid" --log-error="$dir/mariadb.log" \
  >>"$dir/mariadb.log" 2>&1 &
mariadb_pid=$!
# DataBaseds and the clients find the server through the [client] group.
printf '[client]\nsocket=%s\nuser=root\n' "$dir/mysqld.sock" >"$dir/.my.cnf"
sql() { HOME=$dir mariadb "$@"; }
for _ in $(seq 100); do
  sql -e 'select 1' >/dev/null 2>&1 && break
  kill -0 "$mariadb_pid" 2>/dev/null || failed "MariaDB ended at start"
  sleep 0.1
done
sql -e 'create database tango' || failed "MariaDB does not answer"
(cd /usr/share/tango-db && HOME=$dir mariadb tango <"$schema") || failed "the Tango schema did not load"

HOME=$dir /usr/lib/tango/DataBaseds 2 -ORBendPoint "giop:tcp:127.0.0.1:$port" >"$dir/databaseds.log" 2>&1 &
databaseds_pid=$!
export TANGO_HOST=127.0.0.1:$port
tango_admin --ping-database 20 || failed "DataBaseds does not answer on $TANGO_HOST"

status=0
"$@" || status=$?
exit "$status"
