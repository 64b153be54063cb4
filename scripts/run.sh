#!/usr/bin/env bash
# Installs what is missing, builds Lv26 and starts it in a working folder.
# Usage: run.sh [--server] [--fill N] [FOLDER]   (FOLDER defaults to ./lv26-data)
# Empty Func.DB and Dados.DB are created in FOLDER when missing; --fill N then adds N
# generated employees with their weeks.
# --server keeps the tables on a private PostgreSQL server instead: a cluster in lv26-pg/
# beside FOLDER, made on first use and kept, listening on a Unix socket in that folder only
# (no network). The database lv26 and its tables are made when missing; the server is left
# running for the next run (stop it with: pg_ctl -D .../lv26-pg/data stop).
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
fill=0
server=no
while [ $# -gt 0 ]; do
    case $1 in
    --server) server=yes; shift ;;
    --fill) fill=$2; shift 2 ;;
    *) break ;;
    esac
done
folder=${1:-$PWD/lv26-data}

if [ $server = yes ]; then
    LV26_DEPS=all bash "$top/scripts/install-deps.sh"
else
    LV26_DEPS=build bash "$top/scripts/install-deps.sh"
fi
bash "$top/scripts/build.sh" "$top/build" -DLV26_TESTS=OFF -DLV26_BENCH=OFF
tables=$top/build/tools/lv26-tables

mkdir -p "$folder"
folder=$(cd "$folder" && pwd)

# Starts the private server of `folder` when it is not running; sets LV26_DATABASE.
start_server() {
    local pg bin as_user=()
    pg=$(dirname "$folder")/lv26-pg
    bin=$(ls -d /usr/lib/postgresql/*/bin 2>/dev/null | sort -V | tail -n 1)
    [ -n "$bin" ] && [ -x "$bin/initdb" ] || { echo "PostgreSQL is not installed." >&2; exit 1; }
    [ ${#pg} -lt 80 ] || { echo "The path $pg is too long for the server's socket." >&2; exit 1; }
    mkdir -p "$pg"
    if [ "$(id -u)" -eq 0 ]; then
        # The server refuses to run as root.
        as_user=(setpriv --reuid=nobody --regid="$(id -g nobody)" --clear-groups)
        chown nobody:"$(id -g nobody)" "$pg"
    fi
    chmod 0700 "$pg"
    if [ ! -f "$pg/data/PG_VERSION" ]; then
        echo "Making the database cluster in $pg/data." >&2
        "${as_user[@]}" "$bin/initdb" -D "$pg/data" -U lv26 --auth=trust -E UTF8 --locale=C \
            >"$pg/initdb.log"
    fi
    if ! "${as_user[@]}" "$bin/pg_ctl" -D "$pg/data" status >/dev/null 2>&1; then
        "${as_user[@]}" "$bin/pg_ctl" -D "$pg/data" -l "$pg/server.log" -w -s \
            -o "-k $pg -c listen_addresses=''" start
    fi
    if [ -z "$("$bin/psql" -h "$pg" -U lv26 -d postgres -Atc \
        "SELECT 1 FROM pg_database WHERE datname = 'lv26'")" ]; then
        "$bin/createdb" -h "$pg" -U lv26 lv26
    fi
    export LV26_DATABASE="host=$pg user=lv26 dbname=lv26"
    if [ -z "$("$bin/psql" "$LV26_DATABASE" -Atc \
        "SELECT 1 FROM pg_class WHERE relname IN ('func', 'dados') AND relkind = 'r'")" ]; then
        "$tables" create
    fi
    echo "Tables on the server: LV26_DATABASE='$LV26_DATABASE'" >&2
}

if [ $server = yes ]; then
    start_server
    [ "$fill" -gt 0 ] && "$tables" fill "$fill"
else
    unset LV26_DATABASE
    if [ ! -e "$folder/Func.DB" ] && [ ! -e "$folder/Dados.DB" ]; then
        "$tables" create "$folder"
    fi
    if [ "$fill" -gt 0 ]; then
        "$tables" fill "$folder" "$fill"
    fi
fi

cd "$folder"
if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ] && [ -z "${QT_QPA_PLATFORM:-}" ]; then
    echo "No display found: starting Lv26 under a virtual X server (xvfb-run)." >&2
    LV26_DEPS=all bash "$top/scripts/install-deps.sh"
    exec xvfb-run -a "$top/build/src/app/Lv26"
fi
exec "$top/build/src/app/Lv26"
