#!/usr/bin/env bash
# Checks what a build installs and its Debian package. Usage: check-install.sh [--apt] [BUILD]
# (BUILD defaults to build/ and must be built.)
#
# Without --apt nothing on the machine changes: in a temporary folder, `cmake --install` into a
# prefix, the files checked (programs, desktop entry, icons, help), the installed programs run
# on tables made there, then `cpack -G DEB` into that folder and the package checked with
# dpkg-deb (its fields, its dependencies, the same files as the install).
#
# --apt also installs the package with apt, runs the installed programs and purges the package
# again. It needs root (or sudo) and is meant for a fresh machine (CI); it stops without
# touching anything when a package lv26 is already installed.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)

apt=0
if [ "${1:-}" = --apt ]; then
    apt=1
    shift
fi
build=$(cd "${1:-$top/build}" && pwd)

work=$(mktemp -d)
cleanup() { rm -rf "$work"; }
trap cleanup EXIT

fail() {
    echo "check-install: $*" >&2
    exit 1
}

for tool in cpack dpkg-deb dpkg-shlibdeps desktop-file-validate file readelf; do
    command -v "$tool" >/dev/null || fail "$tool is missing (bash scripts/install-deps.sh installs it)"
done
for built in src/app/Lv26 tools/lv26-tables; do
    [ -x "$build/$built" ] || fail "$build/$built missing: build first"
done

# True when the build tree defines the target named $1.
has_target() {
    grep -q "/$1\.dir\$" "$build/CMakeFiles/TargetDirectories.txt"
}

programs=(Lv26)
if has_target lv26-report; then
    programs+=(lv26-report)
fi
icon_sizes=(16 32 48 64 128 256)

# The files of an installed tree rooted at $1 (a prefix: bin/, share/).
check_tree() {
    local root=$1 program size
    for program in "${programs[@]}"; do
        [ -x "$root/bin/$program" ] || fail "$root/bin/$program missing or not executable"
        # Installed programs must not load anything from the build or source tree.
        if readelf -d "$root/bin/$program" | grep -E 'R(UN)?PATH' | grep -qE "$build|$top"; then
            fail "$root/bin/$program has a run path into the build tree"
        fi
    done
    local desktop=$root/share/applications/lv26.desktop
    [ -f "$desktop" ] || fail "$desktop missing"
    desktop-file-validate "$desktop" || fail "$desktop does not validate"
    grep -qx 'Exec=Lv26' "$desktop" || fail "$desktop: Exec is not Lv26"
    grep -qx 'Icon=lv26' "$desktop" || fail "$desktop: Icon is not lv26"
    local icons=$root/share/icons/hicolor
    file "$icons/scalable/apps/lv26.svg" | grep -q 'SVG' || fail "scalable icon missing"
    for size in "${icon_sizes[@]}"; do
        file "$icons/${size}x${size}/apps/lv26.png" | grep -q "PNG image data, $size x $size," ||
            fail "icon ${size}x${size} missing or of another size"
    done
    # The help layer looks for its document in ../share/lv26 from the program.
    local help=$root/bin/../share/lv26/Lv26.html
    [ -s "$help" ] || fail "help document missing: $help"
    grep -q 'Folha de Pagamento' "$help" || fail "$help is not the program's help"
}

# Runs the programs in $1 (a bin/ folder) without a display on tables made in $2.
run_programs() {
    local bin=$1 data=$2
    mkdir -p "$data"
    "$build/tools/lv26-tables" create "$data" >/dev/null
    "$build/tools/lv26-tables" fill "$data" 30 >/dev/null
    # The main window opens on the tables and closes itself through its Fim do Programa button.
    (cd "$data" && env -u DISPLAY -u WAYLAND_DISPLAY QT_QPA_PLATFORM=offscreen \
        LV26_TEST_CLOSE=button timeout 60 "$bin/Lv26" 2>"$data/Lv26.log") ||
        { cat "$data/Lv26.log" >&2; fail "$bin/Lv26 did not start and end cleanly"; }
    if [ -x "$bin/lv26-report" ]; then
        env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM timeout 120 "$bin/lv26-report" \
            --quiet --text "$data/listing.txt" --csv "$data/month.csv" --pdf "$data/listing.pdf" \
            "$data" || fail "$bin/lv26-report failed"
        [ -s "$data/listing.txt" ] || fail "lv26-report wrote no text"
        head -n 1 "$data/month.csv" | grep -qx 'Matricula,Nome,CPF,Sexo,Sal_Hora,HorasNoMes,SalarioMensal' ||
            fail "lv26-report wrote no CSV header"
        [ "$(wc -l <"$data/month.csv")" -eq 31 ] || fail "lv26-report's CSV does not have 30 employees"
        head -c 5 "$data/listing.pdf" | grep -q '%PDF-' || fail "lv26-report wrote no PDF"
    fi
}

# The files below a tree, relative to it, one a line, sorted.
files_below() {
    (cd "$1" && find . -type f -o -type l | sed 's|^\./||' | LC_ALL=C sort)
}

# --- cmake --install into a temporary prefix ---
prefix=$work/prefix
cmake --install "$build" --prefix "$prefix" >/dev/null
check_tree "$prefix"
run_programs "$prefix/bin" "$work/data-prefix"
echo "check-install: cmake --install: ${programs[*]}, desktop entry, icons and help in place"

# --- the Debian package ---
(cd "$build" && cpack -G DEB -B "$work/package" >"$work/cpack.log" 2>&1) ||
    { cat "$work/cpack.log" >&2; fail "cpack -G DEB failed"; }
arch=$(dpkg --print-architecture)
version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$build/CMakeCache.txt")
deb=$work/package/lv26_${version}_$arch.deb
[ -f "$deb" ] || fail "no package $(basename "$deb") (made: $(ls "$work/package"))"

info=$(dpkg-deb --info "$deb")
field() { dpkg-deb --field "$deb" "$1"; }
[ "$(field Package)" = lv26 ] || fail "package name is not lv26"
[ "$(field Version)" = "$version" ] || fail "package version is not $version"
[ "$(field Architecture)" = "$arch" ] || fail "package architecture is not $arch"
for name in Maintainer Section Priority Description; do
    [ -n "$(field "$name")" ] || fail "package lacks its $name"$'\n'"$info"
done
depends=$(field Depends)
for dependency in libqt6core6 libqt6gui6 libqt6widgets6 libqt6printsupport6 libsqlite3-0 \
    libcups2 qt6-qpa-plugins fonts-liberation; do
    grep -qE "(^|, )$dependency( |,|\$)" <<<"$depends" || fail "Depends lacks $dependency: $depends"
done

# The package holds exactly what `cmake --install` installs, under /usr.
contents=$(dpkg-deb --contents "$deb")
grep -q ' \./usr/bin/Lv26$' <<<"$contents" || fail "package lacks /usr/bin/Lv26"
dpkg-deb --extract "$deb" "$work/unpacked"
diff <(files_below "$prefix") <(files_below "$work/unpacked/usr") >"$work/files.diff" ||
    { cat "$work/files.diff" >&2; fail "the package's files differ from the installed files"; }
check_tree "$work/unpacked/usr"
echo "check-install: package $(basename "$deb"): fields, dependencies and files checked"

[ "$apt" -eq 1 ] || exit 0

# --- apt install, run, purge ---
# True when dpkg knows a package lv26 in any state but not-installed (also its config files).
lv26_known() {
    local status
    status=$(dpkg-query -W -f='${db:Status-Status}' lv26 2>/dev/null || true)
    [ -n "$status" ] && [ "$status" != not-installed ]
}
lv26_known && fail "a package lv26 is already on this machine; not touching it"
if [ "$(id -u)" -ne 0 ]; then
    sudo=sudo
else
    sudo=
fi
purge() {
    DEBIAN_FRONTEND=noninteractive $sudo apt-get purge -y -qq -o DPkg::Lock::Timeout=300 lv26 >/dev/null || true
    cleanup
}
trap purge EXIT
# apt takes a local package by its path (absolute, or starting with ./); its download user
# must be able to read it.
chmod 755 "$work" "$work/package"
DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq -o DPkg::Lock::Timeout=300 "$deb" >"$work/apt.log" 2>&1 ||
    { cat "$work/apt.log" >&2; fail "apt-get install of the package failed"; }
[ "$(dpkg-query -W -f='${db:Status-Status}' lv26)" = installed ] || fail "lv26 is not installed"
for program in "${programs[@]}"; do
    [ "$(command -v "$program")" = "/usr/bin/$program" ] || fail "$program is not in /usr/bin"
done
check_tree /usr
run_programs /usr/bin "$work/data-apt"
DEBIAN_FRONTEND=noninteractive $sudo apt-get purge -y -qq -o DPkg::Lock::Timeout=300 lv26 >/dev/null
trap cleanup EXIT
lv26_known && fail "lv26 is still known to dpkg after the purge"
[ ! -e /usr/bin/Lv26 ] || fail "/usr/bin/Lv26 is still there after the purge"
echo "check-install: apt installed, ran and purged $(basename "$deb")"
