#!/usr/bin/env bash
# Builds the program and runs one job on the demo rows (sql/demo-data.sql.in, dated around
# today): a demo/ program folder with the executable and a config.txt, the mail server the pickup
# folder demo/outbox. Then prints the e-mails the run produced.
#
#   scripts/demo.sh               SQLite: a fresh database file demo/fleet.db
#   scripts/demo.sh postgresql    a PostgreSQL server of the demo's own
#   scripts/demo.sh mariadb       a MariaDB server of the demo's own
#   scripts/demo.sh ENGINE --fleet   the run with the fleet passes as well
#   scripts/demo.sh ENGINE --ledger  the run keeping each message once in the ledger
#                                    (docs/ledger.md), then the ledger as --history shows it
#
# A server is made in a temporary folder and reached only through its Unix socket, in a folder
# only the server's user may enter (no TCP port). It is set up as docs/setup-postgresql.md and
# docs/setup-mariadb.md say: the schema, the login corvane with a password of its own written in
# config.txt, the grants of sql/setup-*.sql, and the ledger's table (sql/ledger-*.sql). It is
# stopped and its folder removed when the demo ends, also when it fails.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
engine=${1:-sqlite}
shift || true
case $engine in
  sqlite) scripts/install-deps.sh build ;;
  postgresql | mariadb) scripts/install-deps.sh build "$engine" ;;
  *) echo "usage: scripts/demo.sh [sqlite|postgresql|mariadb] [--fleet]" >&2; exit 64 ;;
esac

# CORVANE_DEMO_EXECUTABLE names one built already (the test command's); else it is built here.
executable=${CORVANE_DEMO_EXECUTABLE:-}
if [ -z "$executable" ]; then
  cmake -S . -B build-demo -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCORVANE_BUILD_TESTS=OFF \
    -DCORVANE_BUILD_BENCH=OFF >/dev/null
  cmake --build build-demo --target corvane-email-handler
  executable=build-demo/src/run/corvane-email-handler
fi

rm -rf demo
mkdir -p demo/outbox
cp "$executable" demo/

# A server engine's server runs as its own system user when we are root (neither runs as root).
as_user() {
  local user=$1; shift
  if [ "$(id -u)" -eq 0 ]; then runuser -u "$user" -- "$@"; else "$@"; fi
}
server_folder() {  # a folder of the server's user, only it may enter
  mkdir -m 700 "$1"
  [ "$(id -u)" -ne 0 ] || chown "$2:" "$1"
}
secret() { od -An -N16 -tx1 /dev/urandom | tr -d ' \n'; }

work=""
server=""  # the engine whose server is running
cleanup() {
  if [ -n "$server" ]; then "stop_$server" || true; fi
  if [ -n "$work" ]; then rm -rf "$work"; fi
}
trap cleanup EXIT
trap 'exit 130' INT
trap 'exit 143' TERM

pg_bin=/usr/lib/postgresql/15/bin
start_postgresql() {
  local admin_secret
  admin_secret=$(secret)
  server_folder "$work/data" postgres
  server_folder "$work/sockets" postgres
  (umask 077 && printf '%s' "$admin_secret" >"$work/admin-password")
  [ "$(id -u)" -ne 0 ] || chown postgres: "$work/admin-password"
  as_user postgres "$pg_bin/initdb" -D "$work/data" -U postgres -A scram-sha-256 \
    --pwfile="$work/admin-password" -E UTF8 --locale=C.UTF-8 --no-sync >/dev/null
  rm -f "$work/admin-password"
  server=postgresql
  as_user postgres "$pg_bin/pg_ctl" -D "$work/data" -l "$work/data/server.log" -w -s -o \
    "-c listen_addresses= -k $work/sockets -c unix_socket_permissions=0700 -c fsync=off" start ||
    { cat "$work/data/server.log" >&2; return 1; }
  admin() {
    PGPASSWORD=$admin_secret psql -X -q -v ON_ERROR_STOP=1 -h "$work/sockets" -U postgres "$@"
  }
  # The login's password travels on standard input, never on a command line.
  admin -d postgres <<SQL
\\set password '$password'
CREATE DATABASE fleet ENCODING 'UTF8';
CREATE ROLE corvane LOGIN PASSWORD :'password';
SQL
  admin -d fleet -f sql/schema-postgres.sql
  /usr/bin/python3 scripts/demo-data.py postgresql | admin -d fleet
  admin -d fleet -f sql/setup-postgres.sql
  admin -d fleet -v login=corvane -f sql/ledger-postgres.sql
  connect="Driver={PostgreSQL Unicode};Server=$work/sockets;Port=5432;Database=fleet;UID=corvane;PWD=$password;BoolsAsChar=0;"
}
stop_postgresql() {
  as_user postgres "$pg_bin/pg_ctl" -D "$work/data" -m fast -w -s stop
}

mariadb_pid=""
start_mariadb() {
  local socket=$work/sockets/mysqld.sock user=()
  server_folder "$work/data" mysql
  server_folder "$work/sockets" mysql
  server_folder "$work/tmp" mysql
  [ "$(id -u)" -ne 0 ] || user=(--user=mysql)
  # The administrator is root, let in through the socket as the operating-system user running
  # this script; no other account but the demo's login.
  mariadb-install-db --no-defaults --datadir="$work/data" "${user[@]}" --skip-test-db \
    --skip-name-resolve --auth-root-authentication-method=socket \
    --auth-root-socket-user="$(id -un)" --innodb-log-file-size=8M >/dev/null
  TMPDIR=$work/tmp mariadbd --no-defaults --datadir="$work/data" "${user[@]}" --socket="$socket" \
    --pid-file="$work/sockets/mysqld.pid" --skip-networking --skip-name-resolve \
    --innodb-buffer-pool-size=32M --innodb-log-file-size=8M 2>"$work/server.log" &
  mariadb_pid=$!
  server=mariadb
  admin() { mariadb --no-defaults -uroot --socket="$socket" "$@"; }
  for _ in $(seq 600); do
    admin -e 'SELECT 1' >/dev/null 2>&1 && break
    kill -0 "$mariadb_pid" 2>/dev/null || { cat "$work/server.log" >&2; return 1; }
    sleep 0.1
  done
  admin <<SQL
CREATE DATABASE fleet CHARACTER SET utf8mb4 COLLATE utf8mb4_unicode_520_ci;
CREATE USER corvane@localhost IDENTIFIED BY '$password';
SQL
  admin fleet <sql/schema-mariadb.sql
  /usr/bin/python3 scripts/demo-data.py mariadb | admin fleet
  admin fleet <sql/setup-mariadb.sql
  admin fleet <sql/ledger-mariadb.sql
  connect="Driver={MariaDB Unicode};Server=localhost;Socket=$socket;Database=fleet;UID=corvane;PWD=$password;"
}
stop_mariadb() {  # a clean shutdown, bounded: then it is killed
  kill -TERM "$mariadb_pid" 2>/dev/null || return 0
  for _ in $(seq 600); do kill -0 "$mariadb_pid" 2>/dev/null || return 0; sleep 0.1; done
  kill -KILL "$mariadb_pid"
}

env_odbc=()
if [ "$engine" = sqlite ]; then
  sqlite3 demo/fleet.db <sql/schema-sqlite.sql
  /usr/bin/python3 scripts/demo-data.py sqlite | sqlite3 demo/fleet.db
  sqlite3 demo/fleet.db <sql/ledger-sqlite.sql
  connect="Provider=SQLite;Data Source=fleet.db;"
else
  work=$(mktemp -d "${TMPDIR:-/tmp}/corvane-demo.XXXXXX")
  chmod 711 "$work"  # the server's user passes through to its own folders
  password=$(secret)
  "start_$engine"
  # The drivers as Debian registers them, without the communication log Debian's odbcinst.ini
  # turns on for psqlODBC (a file in /tmp for every connection).
  mkdir "$work/odbc"
  printf '[PostgreSQL Unicode]\nDriver=psqlodbcw.so\n[MariaDB Unicode]\nDriver=libmaodbc.so\n' \
    >"$work/odbc/odbcinst.ini"
  : >"$work/odbc/odbc.ini"
  env_odbc=(ODBCSYSINI="$work/odbc" ODBCINI="$work/odbc/odbc.ini")
fi

# Item 3: the database; item 11: who gets the tour-drop alerts; item 13: how many days ahead.
(umask 077 && cat >demo/config.txt <<CONFIG
Corvane Email Handler
Database,"$connect"
Unused,
Unused,
Unused,
TourAlertTo,dispatch@corvanetours.com
TourAlertDays,7
CONFIG
)

# Run it as cron would: from /, with next to no environment.
status=0
(cd / && env -i PATH=/usr/bin:/bin "${env_odbc[@]}" "$root/demo/corvane-email-handler" "$@") ||
  status=$?
echo "corvane-email-handler ended with status $status"
echo
for option in "$@"; do
  if [ "$option" = --ledger ]; then
    echo "The ledger (--history):"
    (cd / && env -i PATH=/usr/bin:/bin "${env_odbc[@]}" "$root/demo/corvane-email-handler" --history)
    echo
  fi
done
/usr/bin/python3 "$root/scripts/show-mail.py" "$root"/demo/outbox/*.eml
exit "$status"
