#!/usr/bin/env bash
# Builds every libFuzzer target (fuzz/*_fuzzer.cpp) with clang in build-fuzz and runs each for
# a bounded time on a corpus seeded from the repository.
#
#   scripts/fuzz.sh [SECONDS] [TARGET...]     default: 60 seconds, every *_fuzzer target
#
# Seeds of a target: the files named by the "Seeds: <glob>" line at the top of its source
# (relative to the repository), plus whatever the target writes itself when run with
# LV26_FUZZ_WRITE_SEEDS=<dir> (targets that do not know it run no input and exit).
# Crashes, leaks and timeouts are saved under build-fuzz/artifacts/; the script exits 1 if
# any target failed.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
build="$top/build-fuzz"
seconds=${1:-${FUZZ_SECONDS:-60}}
[ $# -gt 0 ] && shift
jobs=${FUZZ_JOBS:-$(nproc)}

if [ $# -gt 0 ]; then
    targets=("$@")
else
    targets=()
    for src in "$top"/fuzz/*_fuzzer.cpp; do
        targets+=("$(basename "$src" .cpp)")
    done
fi

CC=clang CXX=clang++ cmake -S "$top" -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DLV26_FUZZ=ON -DLV26_TESTS=OFF -DLV26_BENCH=OFF >/dev/null
for t in "${targets[@]}"; do
    cmake --build "$build" --target "$t" -j "$jobs"
done

export QT_QPA_PLATFORM=offscreen
export ASAN_OPTIONS=detect_leaks=1:abort_on_error=0
export LSAN_OPTIONS=suppressions=$top/tests/lsan.supp:print_suppressions=0
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1

failed=()
for t in "${targets[@]}"; do
    corpus="$build/corpus/$t"
    artifacts="$build/artifacts"
    mkdir -p "$corpus" "$artifacts"
    LV26_FUZZ_WRITE_SEEDS="$corpus" "$build/fuzz/$t" -runs=0 >/dev/null 2>&1 || true
    seeds=$(sed -n 's|^// Seeds: \([^ ]*\).*|\1|p' "$top/fuzz/$t.cpp" | head -n 1)
    if [ -n "$seeds" ]; then
        for f in $top/$seeds; do
            [ -f "$f" ] && cp "$f" "$corpus/"
        done
    fi
    echo "== $t: $(ls "$corpus" | wc -l) inputs, $seconds s"
    if ! "$build/fuzz/$t" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 \
        -print_final_stats=1 -artifact_prefix="$artifacts/$t-" "$corpus" 2>"$build/$t.log"; then
        failed+=("$t")
        tail -n 40 "$build/$t.log"
    else
        grep -E '^stat::number_of_executed_units|^Done' "$build/$t.log" || true
    fi
done

if [ ${#failed[@]} -gt 0 ]; then
    echo "failed: ${failed[*]} (see $build/<target>.log and $build/artifacts)"
    exit 1
fi
echo "all fuzz targets ran clean"
