#!/usr/bin/env bash
# Installs what is missing, builds Lv26 and starts it in a working folder.
# Usage: run.sh [--fill N] [FOLDER]   (FOLDER defaults to ./lv26-data)
# Empty Func.DB and Dados.DB are created in FOLDER when missing; --fill N then adds N
# generated employees with their weeks.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
fill=0
if [ "${1:-}" = --fill ]; then
    fill=$2
    shift 2
fi
folder=${1:-$PWD/lv26-data}

LV26_DEPS=build bash "$top/scripts/install-deps.sh"
bash "$top/scripts/build.sh" "$top/build" -DLV26_TESTS=OFF -DLV26_BENCH=OFF

mkdir -p "$folder"
if [ ! -e "$folder/Func.DB" ] && [ ! -e "$folder/Dados.DB" ]; then
    "$top/build/tools/lv26-tables" create "$folder"
fi
if [ "$fill" -gt 0 ]; then
    "$top/build/tools/lv26-tables" fill "$folder" "$fill"
fi

cd "$folder"
if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ] && [ -z "${QT_QPA_PLATFORM:-}" ]; then
    echo "No display found: starting Lv26 under a virtual X server (xvfb-run)." >&2
    LV26_DEPS=all bash "$top/scripts/install-deps.sh"
    exec xvfb-run -a "$top/build/src/app/Lv26"
fi
exec "$top/build/src/app/Lv26"
