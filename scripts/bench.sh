#!/usr/bin/env bash
# Builds Lv26 and runs the headless benchmarks; each prints its figures and the ratio to a
# baseline measured in the same run. Usage: bench.sh [LARGE]  (employees of the large table,
# default 1000000). The maintenance window's benchmark needs prepared tables: see its source.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
large=${1:-1000000}
LV26_DEPS=build bash "$top/scripts/install-deps.sh"
bash "$top/scripts/build.sh" "$top/build"
export QT_QPA_PLATFORM=offscreen
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work"
"$top/build/bench/engine/bench_Cursor" "$large"
"$top/build/bench/data/bench_Data" "$large"
"$top/build/bench/report/bench_PageStore"
"$top/build/bench/report/bench_Generation"
"$top/build/bench/data/bench_Data" totalhoras 100000
"$top/build/bench/report/bench_Preview" 100000 --first-page-only
"$top/build/bench/report/bench_Play"
"$top/build/bench/report/bench_Export" 100000
