#!/usr/bin/env bash
# Installs the Debian packages that building, testing and running Lv26 need, when missing.
# Run as root (or through sudo). Set LV26_DEPS=build to skip the test-only packages.
set -euo pipefail

packages=(
    build-essential cmake clang libclang-rt-14-dev clang-format
    qt6-base-dev qt6-base-dev-tools libqt6svg6 qt6-qpa-plugins
    libsqlite3-dev sqlite3 libcups2-dev libpq-dev
    fonts-liberation file
)
if [ "${LV26_DEPS:-all}" != build ]; then
    packages+=(xvfb xauth emf2svg librsvg2-bin poppler-utils python3-reportlab)
    # The installed layout and the Debian package are checked with these.
    packages+=(desktop-file-utils)
    # The CSV export is opened by a spreadsheet program in its tests (large, but only there).
    packages+=(libreoffice-calc-nogui unzip)
    # The printing tests' own CUPS scheduler, its PostScript filters, and ps2pdf to read
    # the printed files back.
    packages+=(cups ghostscript)
    # A private PostgreSQL cluster for the server backend's tests.
    packages+=(postgresql)
fi

missing=()
for p in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0

if [ "$(id -u)" -ne 0 ]; then
    sudo=sudo
else
    sudo=
fi
echo "Installing: ${missing[*]}"
$sudo apt-get update -qq
DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
