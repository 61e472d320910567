#!/usr/bin/env bash
# Installing, as a user would: cmake --install into a temporary DESTDIR gives the expected
# tree and valid .desktop entries; the installed programs, run with a HOME of their own, keep
# their data in the per-user folder (the engine's first run included) and never write into
# the install tree, which is made read-only; a portable copy of the built programs still keeps
# its data beside itself.
#
# Usage: TELLARAN_PROGRAMS="Tellaran Yarnit" test_install.sh <build folder> <folder of the built programs>
# Exit 77 (skipped) without desktop-file-validate. The first runs through the windows need
# Xvfb and xdotool; without them only what runs offscreen is checked.
set -uo pipefail
build="${1:?build folder}"
desktop_bin="${2:?folder of the built programs}"
: "${TELLARAN_PROGRAMS:?the packaged programs, as CMake lists them}"
# shellcheck source=desktop.sh
source "$(dirname "$0")/desktop.sh"
trap 'chmod -R u+w "$desktop_work" 2>/dev/null; desktop_cleanup' EXIT
command -v desktop-file-validate >/dev/null ||
    skip "desktop-file-validate is not installed (desktop-file-utils)"

root="$desktop_work/root"
DESTDIR="$root" cmake --install "$build" --prefix /usr >"$desktop_work/install.log" 2>&1 ||
    fail "cmake --install failed: $(cat "$desktop_work/install.log")"
expected="$(for program in $TELLARAN_PROGRAMS; do
    name="${program,,}"
    echo "./usr/bin/$program"
    echo "./usr/share/applications/$name.desktop"
    for size in 16 24 32 48; do echo "./usr/share/icons/hicolor/${size}x$size/apps/$name.png"; done
    echo "./usr/share/icons/hicolor/scalable/apps/$name.svg"
    echo "./usr/share/man/man1/$program.1.gz"
done
printf '%s\n' ./usr/share/doc/tellaran/changelog.gz ./usr/share/doc/tellaran/copyright \
    ./usr/share/tellaran/data/data.dat ./usr/share/tellaran/data/ports.dat \
    ./usr/share/tellaran/data/programs.dat ./usr/share/tellaran/help.html)"
expected="$(sort <<<"$expected")"
actual="$(cd "$root" && find . -type f -o -type l | sort)"
[ "$actual" = "$expected" ] || fail "the install tree is not as expected:
$actual"
for entry in "$root"/usr/share/applications/*.desktop; do
    report="$(desktop-file-validate "$entry" 2>&1)" || fail "$entry: $report"
    [ -z "$report" ] || fail "$entry: $report"
done
echo "install tree and .desktop entries: ok"

# From here on nothing may change in the tree; as root, read-only alone would not stop a write.
chmod -R a-w "$root"
snapshot() { (cd "$root" && find . -printf '%p %y %s %m %T@\n' | sort && find . -type f -exec md5sum {} + | sort); }
before="$(snapshot)"

run_offscreen() { # home program args...: runs to its end
    local home="$1"
    shift
    env -u XDG_DATA_HOME -u XDG_CONFIG_HOME HOME="$home" QT_QPA_PLATFORM=offscreen "$@"
}
start_offscreen() { # home log program: in the background, pid into $started
    env -u XDG_DATA_HOME -u XDG_CONFIG_HOME HOME="$1" QT_QPA_PLATFORM=offscreen "$3" >"$2" 2>&1 &
    started=$!
    desktop_pids+=("$started")
}
stop() { kill "$1" 2>/dev/null; wait "$1" 2>/dev/null; }
have_display=no
command -v Xvfb >/dev/null && command -v xdotool >/dev/null && have_display=yes
if [ "$have_display" = yes ]; then
    desktop_display
else
    echo "no Xvfb or xdotool: the first runs through the windows are not checked"
fi

# first_run HOME ENGINE DATA: the engine on the display; the three set-up boxes are answered,
# and the set-up must create the phone book in DATA and open the settings dialog.
first_run() {
    local home="$1" engine="$2" data="$3"
    env -u XDG_DATA_HOME -u XDG_CONFIG_HOME HOME="$home" QT_QPA_PLATFORM=xcb "$engine" \
        >"$desktop_work/first-run.log" 2>&1 &
    local pid=$!
    desktop_pids+=("$pid")
    for box in 1 2 3; do
        wait_for 20 window_of "$pid" "Tellaran Setup" ||
            fail "set-up box $box did not show: $(cat "$desktop_work/first-run.log")"
        press "$(window_of "$pid" "Tellaran Setup")" Return
        sleep 0.5
    done
    wait_for 10 test -f "$data/addresses.dat" || fail "the set-up did not create $data/addresses.dat"
    wait_for 10 window_of "$pid" "Options" || fail "the set-up did not open the settings dialog"
    stop "$pid"
}

# The installed engine: its data go to the per-user folder, seeded with the delivered files.
home="$desktop_work/home"
mkdir -p "$home"
data="$home/.local/share/Tellaran/data"
# --ports only asks: before the first start it reports the delivered map, and makes nothing.
ports="$(run_offscreen "$home" "$root/usr/bin/Tellaran" --ports)" || fail "--ports failed: $ports"
[ "$(head -n 1 <<<"$ports")" = "Port map $root/usr/share/tellaran/data/ports.dat" ] ||
    fail "before its first start, the installed engine reports another port map: $ports"
[ ! -e "$home/.local" ] || fail "--ports created $(find "$home/.local")"
start_offscreen "$home" "$desktop_work/engine.log" "$root/usr/bin/Tellaran"
engine=$started
wait_for 10 test -f "$data/data.dat" || fail "the installed engine did not seed $data"
for file in data.dat ports.dat programs.dat; do
    cmp -s "$data/$file" "$root/usr/share/tellaran/data/$file" || fail "$data/$file was not delivered"
    [ -w "$data/$file" ] || [ "$(id -u)" -eq 0 ] || fail "$data/$file cannot be written by its user"
done
ports="$(run_offscreen "$home" "$root/usr/bin/Tellaran" --ports)" || fail "--ports failed: $ports"
[ "$(head -n 1 <<<"$ports")" = "Port map $data/ports.dat" ] ||
    fail "the installed engine reads another port map: $ports"
sleep 3 # the splash screen hands over to the mode window, whose set-up box then waits
kill -0 "$engine" 2>/dev/null || fail "the installed engine ended: $(cat "$desktop_work/engine.log")"
stop "$engine"
if [ "$have_display" = yes ]; then
    first_run "$home" "$root/usr/bin/Tellaran" "$data"
    echo "installed engine: first run in $data"
fi

start_offscreen "$home" "$desktop_work/yarnit.log" "$root/usr/bin/Yarnit"
chat=$started
wait_for 10 test -f "$home/.local/share/Yarnit/chat.dat" ||
    fail "the installed Yarnit did not keep chat.dat in its per-user folder"
stop "$chat"
start_offscreen "$home" "$desktop_work/ferryit.log" "$root/usr/bin/Ferryit"
files=$started
wait_for 10 test -d "$home/.local/share/Ferryit" ||
    fail "the installed Ferryit did not make its per-user folder"
stop "$files"
[ "$(snapshot)" = "$before" ] || fail "something was written into the install tree"
echo "installed programs: per-user data, install tree untouched"

# A portable copy keeps everything beside itself, and nothing in the user's folders.
portable="$desktop_work/portable"
mkdir -p "$portable"
cp -r "$desktop_bin/Tellaran" "$desktop_bin/Yarnit" "$desktop_bin/help.html" "$desktop_bin/data" \
    "$portable/"
rm -f "$portable/data/addresses.dat"
home2="$desktop_work/home2"
mkdir -p "$home2"
start_offscreen "$home2" "$desktop_work/portable-yarnit.log" "$portable/Yarnit"
chat=$started
wait_for 10 test -f "$portable/chat.dat" || fail "the portable Yarnit did not keep chat.dat beside it"
stop "$chat"
[ "$have_display" = yes ] && first_run "$home2" "$portable/Tellaran" "$portable/data"
[ -z "$(ls -A "$home2")" ] || fail "the portable copy wrote into the user's folder: $(ls -A "$home2")"
echo "portable copy: data beside the program"
echo "PASSED"
