#!/usr/bin/env bash
# A private PostgreSQL server for the tests:   pg-test-server.sh FOLDER [--keep]
# Makes a cluster in FOLDER/data when there is none (FOLDER: an empty folder that the caller
# owns and removes afterwards), runs it listening only on a Unix socket in FOLDER (no TCP),
# and prints one line, the libpq connection string of its database "postgres" as the
# superuser lv26, once it accepts connections. The server runs as the invoking user, or as
# nobody when that is root. Nothing outside FOLDER is written.
#
# Stop it with SIGTERM or SIGINT (a fast shutdown); it also stops when the server itself is
# killed. On stopping, the cluster is removed unless --keep was given; a later start on the
# same FOLDER with --keep runs the kept cluster again. When the process that started it ends,
# however it ends, the server stops and FOLDER is removed whole, --keep or not, since no one
# is left to remove it.
# Exit status 3: PostgreSQL cannot run here (the reason is on standard error); 1: the set-up
# failed; otherwise 0.
set -uo pipefail
export LC_ALL=C LANG=C

unavailable() {
    echo "PostgreSQL unavailable: $*" >&2
    exit 3
}
failed() {
    echo "PostgreSQL set-up failed: $*" >&2
    exit 1
}

[ $# -ge 1 ] && [ -d "$1" ] || failed "usage: $0 FOLDER [--keep]"
top=$(cd "$1" && pwd) || failed "cannot enter $1"
keep=no
[ "${2:-}" = --keep ] && keep=yes

bin=$(ls -d /usr/lib/postgresql/*/bin 2>/dev/null | sort -V | tail -n 1)
[ -n "$bin" ] && [ -x "$bin/postgres" ] && [ -x "$bin/initdb" ] ||
    unavailable "the server programs (initdb, postgres) are not installed"
command -v setpriv >/dev/null || unavailable "setpriv not installed"

# Ends with the process that started it, even one that is killed: the kernel sends this
# script SIGHUP, which stops the server and removes FOLDER below.
if [ -z "${LV26_PG_SERVER_WATCHED:-}" ]; then
    LV26_PG_SERVER_WATCHED=1 exec setpriv --pdeathsig HUP "$BASH" "$0" "$@"
fi

# The server's socket path holds at most 107 bytes.
[ ${#top} -lt 80 ] || failed "the path of $top is too long for a socket"

as_user=()
if [ "$(id -u)" -eq 0 ]; then
    id nobody >/dev/null 2>&1 || unavailable "no user nobody to run the server as"
    as_user=(--reuid=nobody --regid="$(id -g nobody)" --clear-groups)
    chown -R nobody:"$(id -g nobody)" "$top" || failed "cannot give $top to nobody"
fi
chmod 0700 "$top" || failed "cannot close $top to others"

data=$top/data
if [ ! -f "$data/PG_VERSION" ]; then
    out=$(setpriv "${as_user[@]}" "$bin/initdb" -D "$data" -U lv26 --auth=trust -E UTF8 \
        --locale=C --no-sync 2>&1) || failed "initdb: $out"
fi

# Fast and forgetful: the test data need no durability.
setpriv "${as_user[@]}" --pdeathsig KILL "$bin/postgres" -D "$data" -k "$top" -p 5432 \
    -c listen_addresses= -c fsync=off -c synchronous_commit=off -c full_page_writes=off \
    -c max_connections=40 >"$top/server.log" 2>&1 &
server=$!

stop() {
    kill -INT "$server" 2>/dev/null
    wait "$server" 2>/dev/null
    [ $keep = yes ] || rm -rf "$data"
    exit 0
}
orphaned() {
    keep=no
    kill -INT "$server" 2>/dev/null
    wait "$server" 2>/dev/null
    rm -rf "$top"
    exit 0
}
trap stop TERM INT
trap orphaned HUP

for _ in $(seq 1 300); do
    if ! kill -0 "$server" 2>/dev/null; then
        wait "$server"
        failed "the server did not start: $(tail -n 5 "$top/server.log")"
    fi
    "$bin/pg_isready" -q -h "$top" -p 5432 && break
    sleep 0.1
done
"$bin/pg_isready" -q -h "$top" -p 5432 || { kill -KILL "$server"; failed "the server did not answer"; }

echo "host=$top port=5432 user=lv26 dbname=postgres"
wait "$server"
stop
