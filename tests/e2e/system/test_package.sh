#!/usr/bin/env bash
# The Debian package, built with CPack from a build folder: its name, its dependencies (read
# from the shared libraries the programs use), its content, and programs that run from it.
#
# Usage: test_package.sh <build folder>
# Exit 77 (skipped) where Debian's packaging tools are missing.
set -uo pipefail
build="${1:?build folder}"
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
content="$(dpkg-deb -c "$deb")"
for file in ./usr/bin/Tellaran ./usr/bin/Yarnit ./usr/share/tellaran/help.html \
    ./usr/share/tellaran/data/data.dat ./usr/share/applications/tellaran.desktop \
    ./usr/share/icons/hicolor/scalable/apps/yarnit.svg ./usr/bin/Ferryit \
    ./usr/share/applications/ferryit.desktop; do
    grep -q " $file\$" <<<"$content" || fail "the package lacks $file"
done

dpkg-deb -x "$deb" "$work/root"
mkdir -p "$work/home"
version="$(env -u DISPLAY HOME="$work/home" "$work/root/usr/bin/Tellaran" --version)"
[ "$version" = "Tellaran 1.0" ] || fail "the packaged engine says: $version"
version="$(env -u DISPLAY HOME="$work/home" "$work/root/usr/bin/Yarnit" --version)"
[ "$version" = "Yarnit 1.0" ] || fail "the packaged chat says: $version"
version="$(env -u DISPLAY HOME="$work/home" "$work/root/usr/bin/Ferryit" --version)"
[ "$version" = "Ferryit 1.0" ] || fail "the packaged file program says: $version"
echo "$(basename "$deb"): Depends: $depends"
echo "PASSED"
