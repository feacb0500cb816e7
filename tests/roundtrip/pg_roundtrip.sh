#!/bin/bash
# The PostgreSQL round trip: a private server in a temporary directory
# (Unix socket only, no TCP port), every SCOTT table of the sample database
# unloaded with TARGET POSTGRESQL, loaded by psql -f <table>_pg.sql, and read
# back row by row against the forge's manifest (check_loads.py).  The server
# is stopped and its directory removed however the test ends.  PostgreSQL
# refuses to run as root: as root the server runs as the package's user
# `postgres`.  Exits 77 (skipped) when the PostgreSQL programs are missing.
#   pg_roundtrip.sh ZOR FORGE
set -u
ZOR=$1
FORGE=$2
here=$(cd "$(dirname "$0")" && pwd)
bindir=$(ls -d /usr/lib/postgresql/*/bin 2>/dev/null | sort -V | tail -1)
if [ -z "$bindir" ] || [ ! -x "$bindir/initdb" ] || [ ! -x "$bindir/pg_ctl" ] || ! command -v psql >/dev/null ||
   ! command -v python3 >/dev/null; then
  echo "SKIPPED: no PostgreSQL server programs (initdb, pg_ctl), psql or python3;" \
       "tools/install-deps.sh installs the postgresql package"
  exit 77
fi

work=$(mktemp -d)
as_server() {
  if [ "$(id -u)" -eq 0 ]; then runuser -u postgres -- "$@"; else "$@"; fi
}
stop_server() {
  if [ -f "$work/data/postmaster.pid" ]; then
    as_server "$bindir/pg_ctl" -D "$work/data" -m immediate -w stop >/dev/null 2>&1
  fi
  rm -rf "$work"
}
trap stop_server EXIT
trap 'exit 1' INT TERM HUP

mkdir "$work/data" "$work/socket"
if [ "$(id -u)" -eq 0 ]; then
  chmod 711 "$work"
  chown postgres "$work/data" "$work/socket"
fi
if ! as_server "$bindir/initdb" -D "$work/data" -A trust -U postgres -E UTF8 --locale=C >"$work/initdb.log" 2>&1; then
  echo "initdb failed:"; cat "$work/initdb.log"; exit 1
fi
if ! as_server "$bindir/pg_ctl" -D "$work/data" -l "$work/socket/server.log" -w \
     -o "-c listen_addresses='' -c unix_socket_directories='$work/socket' -c fsync=off" start >/dev/null; then
  echo "the server did not start:"; cat "$work/socket/server.log"; exit 1
fi
export PGHOST=$work/socket PGUSER=postgres
python3 "$here/check_loads.py" postgres "$ZOR" "$FORGE" || exit 1

# The tables of the column-properties transcript (invisible, TDE-encrypted
# and added columns): each script loads, and the rows read back are those
# the unload meant.
cases=$here/../e2e/cases/unload_table_column_properties
mkdir "$work/columns"
cp "$cases/files/db.txt" "$work/columns/"
cd "$work/columns" || exit 1
"$FORGE" db.txt . >/dev/null || exit 1
tables="VIS ENC ADDED NODEF TWOADDS"
{ echo "OPEN db.cfg"; echo 'UNLOAD TABLE DICT$;'; echo "SET TARGET POSTGRESQL"
  for t in $tables; do echo "UNLOAD TABLE SCOTT.$t;"; done; echo "EXIT"; } | "$ZOR" >zor.log 2>&1
for t in $tables; do
  psql -q -v ON_ERROR_STOP=1 -f "${t}_pg.sql" >>psql.log 2>&1 || { echo "loading $t failed:"; cat psql.log; exit 1; }
  echo "$t"; psql -At -c "SELECT * FROM \"$t\" ORDER BY 1"
done >loaded.txt
diff -u "$here/column_properties.expected" loaded.txt || exit 1
