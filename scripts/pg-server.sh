#!/usr/bin/env bash
# A throw-away PostgreSQL server for the tests and benchmarks:
#   scripts/pg-server.sh start DIR   initdb in DIR, start on a free loopback port with its socket
#                                    in DIR; writes the connection string to DIR/conninfo
#   scripts/pg-server.sh stop DIR    stops the server and removes DIR
#   scripts/pg-server.sh resume DIR  as start, but a server kept in DIR by pause keeps its data
#   scripts/pg-server.sh pause DIR   stops the server and keeps DIR (a benchmark's cached data)
# The server refuses to run as root: as root it runs as the "postgres" system user.
set -euo pipefail
action=${1:?start or stop}
dir=${2:?folder}

bindir=$(ls -d /usr/lib/postgresql/*/bin 2>/dev/null | sort -V | tail -n 1)
if [[ -z "$bindir" ]]; then
  echo "pg-server: PostgreSQL server programs not found (scripts/setup.sh installs them)" >&2
  exit 1
fi

# From /, since the server's user may not be allowed into the folder the tests run in.
as_server() {
  if [[ $(id -u) -eq 0 ]]; then
    (cd / && runuser -u postgres -- "$@")
  else
    "$@"
  fi
}

case "$action" in
  start | resume)
    # A server left behind by a run that was killed goes first.
    if [[ -f "$dir/data/postmaster.pid" ]]; then
      as_server "$bindir/pg_ctl" -D "$dir/data" -m immediate -w stop >/dev/null 2>&1 || true
    fi
    if [[ "$action" == start || ! -f "$dir/data/PG_VERSION" ]]; then
      rm -rf "$dir"
      mkdir -p "$dir"
      [[ $(id -u) -eq 0 ]] && chown postgres: "$dir"
      as_server "$bindir/initdb" -D "$dir/data" -U kvt --auth=trust --locale=C -E UTF8 >"$dir/initdb.log" 2>&1 ||
        { cat "$dir/initdb.log" >&2; exit 1; }
    fi
    # A port nobody listens on; another program may still take it before the server does,
    # so a failed start tries the next one.
    for attempt in 1 2 3 4 5 6 7 8; do
      port=$((20000 + (RANDOM % 20000)))
      if (exec 3<>"/dev/tcp/127.0.0.1/$port") 2>/dev/null; then continue; fi
      if as_server "$bindir/pg_ctl" -D "$dir/data" -l "$dir/server.log" -w -t 30 \
        -o "-p $port -k $dir -c listen_addresses=127.0.0.1 -c fsync=off -c max_connections=40" \
        start >/dev/null; then
        echo "host=127.0.0.1 port=$port user=kvt dbname=postgres" >"$dir/conninfo"
        echo "$port" >"$dir/port"
        exit 0
      fi
    done
    cat "$dir/server.log" >&2
    exit 1
    ;;
  pause)
    if [[ -d "$dir/data" ]]; then
      as_server "$bindir/pg_ctl" -D "$dir/data" -m fast -w stop >/dev/null 2>&1 || true
    fi
    ;;
  stop)
    if [[ -d "$dir/data" ]]; then
      as_server "$bindir/pg_ctl" -D "$dir/data" -m immediate -w stop >/dev/null 2>&1 || true
    fi
    rm -rf "$dir"
    ;;
  *)
    echo "usage: $0 start|stop|resume|pause DIR" >&2
    exit 2
    ;;
esac
