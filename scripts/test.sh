#!/usr/bin/env bash
# Installs what is missing, builds Lv26 twice (plain, and with AddressSanitizer and
# UndefinedBehaviorSanitizer) and runs every test of both builds with ctest; the plain build's
# install and Debian package are checked in a temporary folder.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)

bash "$top/scripts/install-deps.sh"

export QT_QPA_PLATFORM=offscreen
export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1:strict_string_checks=1
export LSAN_OPTIONS=suppressions=$top/tests/lsan.supp:print_suppressions=0
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1

bash "$top/scripts/build.sh" "$top/build"
(cd "$top/build" && ctest --output-on-failure --parallel "$(nproc)")
# The installed files and the Debian package, in a temporary folder (nothing is installed).
bash "$top/scripts/check-install.sh" "$top/build"

bash "$top/scripts/build.sh" "$top/build-asan" -DLV26_SANITIZE=ON -DLV26_BENCH=OFF
(cd "$top/build-asan" && ctest --output-on-failure --parallel "$(nproc)")
