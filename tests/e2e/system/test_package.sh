#!/usr/bin/env bash
# The Debian package, built with CPack from a build folder: its name, its dependencies (read
# from the shared libraries the programs use), its content, Debian's own checks (lintian),
# and programs that run from it.
#
# Usage: TELLARAN_PROGRAMS="Tellaran Yarnit" test_package.sh <build folder>
# Exit 77 (skipped) where Debian's packaging tools are missing.
set -uo pipefail
build="${1:?build folder}"
: "${TELLARAN_PROGRAMS:?the packaged programs, as CMake lists them}"
skip() { echo "SKIPPED: $*"; exit 77; }
fail() { echo "FAILED: $*"; exit 1; }
for tool in cpack dpkg-deb dpkg-shlibdeps dpkg; do
    command -v "$tool" >/dev/null || skip "$tool is not installed (dpkg-dev)"
done
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT

cpack --config "$build/CPackConfig.cmake" -B "$work/out" >"$work/cpack.log" 2>&1 ||
    fail "cpack failed: $(cat "$work/cpack.log")"
deb="$work/out/tellaran_1.0_$(dpkg --print-architecture).deb"
[ -f "$deb" ] || fail "no package $(basename "$deb"): $(ls "$work/out")"
[ "$(dpkg-deb -f "$deb" Package)" = tellaran ] || fail "the package is not named tellaran"
depends="$(dpkg-deb -f "$deb" Depends)"
for library in libqt6core6 libqt6gui6 libqt6widgets6 libqt6network6 libqt6serialport6 libqt6svg6 libc6; do
    grep -q "$library" <<<"$depends" || fail "the package does not depend on $library: $depends"
done
# Without XWayland the windows need Qt's Wayland plugin.
grep -q qt6-wayland <<<"$(dpkg-deb -f "$deb" Recommends)" || fail "qt6-wayland is not recommended"
description="$(dpkg-deb -f "$deb" Description)"
! grep -q '^ ;' <<<"$description" || fail "the description has stray semicolons: $description"

content="$(dpkg-deb -c "$deb")"
files=(./usr/share/tellaran/help.html ./usr/share/tellaran/data/data.dat
    ./usr/share/doc/tellaran/copyright ./usr/share/doc/tellaran/changelog.gz)
for program in $TELLARAN_PROGRAMS; do
    name="${program,,}"
    files+=("./usr/bin/$program" "./usr/share/applications/$name.desktop"
        "./usr/share/man/man1/$program.1.gz" "./usr/share/icons/hicolor/scalable/apps/$name.svg")
    for size in 16 24 32 48; do files+=("./usr/share/icons/hicolor/${size}x$size/apps/$name.png"); done
done
for file in "${files[@]}"; do
    grep -q " $file\$" <<<"$content" || fail "the package lacks $file"
done

dpkg-deb -x "$deb" "$work/root"
for program in $TELLARAN_PROGRAMS; do
    name="${program,,}"
    for size in 16 24 32 48; do
        picture="$work/root/usr/share/icons/hicolor/${size}x$size/apps/$name.png"
        grep -q "PNG image data, $size x $size," <<<"$(file "$picture")" ||
            fail "$picture is not $size px: $(file "$picture")"
    done
done

# Debian's checks: no error, and no warning but the ones the project has decided on.
if command -v lintian >/dev/null; then
    lintian --fail-on none "$deb" >"$work/lintian.txt" 2>&1
    echo "lintian:"
    sed 's/^/  /' "$work/lintian.txt"
    grep -q '^E:' "$work/lintian.txt" && fail "lintian reports errors"
    grep -q '^W:' "$work/lintian.txt" && fail "lintian reports warnings"
else
    echo "lintian is not installed: Debian's checks were not run"
fi

mkdir -p "$work/home"
run() { env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM -u XDG_DATA_HOME HOME="$work/home" "$@"; }
version="$(run "$work/root/usr/bin/Tellaran" --version)"
[ "$version" = "Tellaran 1.0" ] || fail "the packaged engine says: $version"
version="$(run "$work/root/usr/bin/Yarnit" --version)"
[ "$version" = "Yarnit 1.0" ] || fail "the packaged chat says: $version"
version="$(run "$work/root/usr/bin/Ferryit" --version)"
[ "$version" = "Ferryit 1.0" ] || fail "the packaged file program says: $version"
# A question creates nothing; with no display there is one line and exit code 1.
run "$work/root/usr/bin/Tellaran" --ports >/dev/null || fail "--ports failed"
error="$(run "$work/root/usr/bin/Tellaran" 2>&1)"
status=$?
[ "$status" -eq 1 ] && [ "$(wc -l <<<"$error")" -eq 1 ] ||
    fail "without a display the engine ends with $status: $error"
[ -z "$(ls -A "$work/home")" ] || fail "the packaged engine wrote $(find "$work/home")"
echo "$(basename "$deb"): Depends: $depends"
echo "PASSED"
