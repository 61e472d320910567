#!/usr/bin/env bash
# The whole system as a person uses it: the real Tellaran and Yarnit programs of two
# "computers", each in its own network namespace, under a virtual X display, driven with
# xdotool. Ann answers, Bob dials her line, they chat, Bob disconnects and both engines end
# with their connection time stored.
#
# Usage: test_two_computers.sh <folder of the built programs>
# Exit 77 (skipped) when this machine cannot run it: not root, or no ip/Xvfb/xdotool.
set -uo pipefail
bin="${1:?folder of the built programs}"

skip() { echo "SKIPPED: $*"; exit 77; }
[ "$(id -u)" -eq 0 ] || skip "needs root for network namespaces"
for tool in ip Xvfb xdotool; do
    command -v "$tool" >/dev/null || skip "$tool is not installed"
done

work="$(mktemp -d)"
tag="tellaran-test$$"
display=""
pids=()
cleanup() {
    for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null; done
    wait 2>/dev/null
    for name in ann bob; do ip netns delete "$tag-$name" 2>/dev/null; done
    rm -rf "$work"
}
trap cleanup EXIT
fail() {
    echo "FAILED: $*"
    if command -v import >/dev/null; then
        import -window root /tmp/test_two_computers-failure.png 2>/dev/null &&
            echo "screen at the failure: /tmp/test_two_computers-failure.png"
    fi
    for log in "$work"/*/*.log; do echo "--- $log"; cat "$log"; done
    exit 1
}
# Screenshots of the steps, into $TELLARAN_TEST_SHOTS when that names a folder.
shot() {
    [ -n "${TELLARAN_TEST_SHOTS:-}" ] || return 0
    import -window root "$TELLARAN_TEST_SHOTS/$1.png" 2>/dev/null
    for w in $(xdotool search --onlyvisible --name . 2>/dev/null); do
        echo "$w $(xdotool getwindowpid "$w" 2>/dev/null) [$(xdotool getwindowname "$w")]" \
            "$(xdotool getwindowgeometry "$w" | tr '\n' ' ')"
    done >"$TELLARAN_TEST_SHOTS/$1.txt"
    return 0
}
# Polls a command for up to $1 seconds.
wait_for() {
    local seconds="$1"
    shift
    for _ in $(seq $((seconds * 10))); do
        "$@" >/dev/null 2>&1 && return 0
        sleep 0.1
    done
    return 1
}
# The visible window of a program (by process id) whose title is $2.
window_of() { xdotool search --all --onlyvisible --pid "$1" --name "^$2\$" 2>/dev/null | head -n 1; }
# Windows open at the top left with no window manager; each program gets its own place.
place() { xdotool windowmove "$1" "$2" "$3"; sleep 0.2; }
# With no window manager, a click does not move the keyboard focus: give it explicitly.
focus() { xdotool windowfocus "$1"; sleep 0.2; }
click() { focus "$1"; xdotool mousemove --window "$1" "$2" "$3" click 1; sleep 0.3; }
# Keys and text for one window. The key release may find the window gone (a box closes on
# the press), so it is sent again to whatever has the focus.
press() {
    local window="$1"
    shift
    focus "$window"
    xdotool key --window "$window" "$@" 2>/dev/null
    xdotool keyup "$@" 2>/dev/null
    sleep 0.2
}
write() { focus "$1"; xdotool type --window "$1" --delay 30 "$2"; }

for n in $(seq 90 119); do
    if [ ! -e "/tmp/.X$n-lock" ]; then display=":$n"; break; fi
done
[ -n "$display" ] || skip "no free X display number"
# No key repeat: a key whose release goes astray (its window closed) must not type on.
Xvfb "$display" -screen 0 1280x1024x24 -nolisten tcp -ardelay 600000 >"$work/xvfb.log" 2>&1 &
pids+=($!)
export DISPLAY="$display"
wait_for 10 xdotool getmouselocation || fail "Xvfb did not start"

# Phone numbers of their own, so that lines left by another run cannot answer.
declare -A line=([ann]="7${$}1" [bob]="7${$}2")
for name in ann bob; do
    mkdir -p "$work/$name/data"
    cp "$bin/Tellaran" "$bin/Yarnit" "$work/$name/"
    cp "$bin/data/data.dat" "$work/$name/data/"
    : >"$work/$name/data/addresses.dat"
    : >"$work/$name/data/programs.dat"
    printf '1,"modem:%s"\r\n' "${line[$name]}" >"$work/$name/data/ports.dat"
    ip netns add "$tag-$name" || skip "cannot create network namespaces here"
    ip netns exec "$tag-$name" ip link set lo up
done

start() { # name program
    ip netns exec "$tag-$1" "$work/$1/$2" >"$work/$1/$2.log" 2>&1 &
    pids+=($!)
    echo $!
}
ann=$(start ann Tellaran)
bob=$(start bob Tellaran)

wait_for 15 window_of "$ann" "Mode:" || fail "Ann's mode window did not show"
wait_for 15 window_of "$bob" "Mode:" || fail "Bob's mode window did not show"
place "$(window_of "$ann" "Mode:")" 0 0
place "$(window_of "$bob" "Mode:")" 640 0
shot modes
click "$(window_of "$ann" "Mode:")" 67 101          # Answer Mode
shot answering
wait_for 10 window_of "$ann" "Tellaran Call receiver" || fail "Ann's answer window did not show"
click "$(window_of "$bob" "Mode:")" 67 65           # Call Mode
shot call-mode
wait_for 10 window_of "$bob" "Tellaran Dialler" || fail "Bob's dialer did not show"
dialer="$(window_of "$bob" "Tellaran Dialler")"
place "$dialer" 640 300
click "$dialer" 425 75                               # the number field
write "$dialer" "${line[ann]}"
shot number-typed
click "$dialer" 423 253                              # Go !
shot dialing

wait_for 20 window_of "$ann" "Control Panel" || fail "Ann's engine did not connect"
wait_for 20 window_of "$bob" "Control Panel" || fail "Bob's engine did not connect"
echo "connected"
shot connected

annChat=$(start ann Yarnit)
bobChat=$(start bob Yarnit)
for who in annChat bobChat; do
    pid="${!who}"
    wait_for 10 window_of "$pid" "Settings" || fail "$who: nickname window did not show"
    settings="$(window_of "$pid" "Settings")"
    [ "$who" = annChat ] && place "$settings" 0 500 || place "$settings" 640 500
    click "$settings" 165 30
    press "$settings" ctrl+a
    write "$settings" "${who%Chat}"
    click "$settings" 122 66                         # Save
    wait_for 10 window_of "$pid" "Chat" || fail "$who: chat window did not show"
done
place "$(window_of "$annChat" "Chat")" 0 400
place "$(window_of "$bobChat" "Chat")" 640 400
shot chats-up
for pid in "$annChat" "$bobChat"; do
    chat="$(window_of "$pid" "Chat")"
    click "$chat" 160 253
    press "$chat" F2                                 # Connection > Connect
    sleep 1
done

sleep 1
chat="$(window_of "$annChat" "Chat")"
click "$chat" 160 253
write "$chat" "hello Bob"
press "$chat" Return
sleep 2
# Bob saves his conversation where the save dialog proposes: Conversation.txt beside Yarnit.
saved="$work/bob/Conversation.txt"
chat="$(window_of "$bobChat" "Chat")"
click "$chat" 160 253
press "$chat" ctrl+s
wait_for 10 window_of "$bobChat" "Save Conversation As..." || fail "no save dialog"
press "$(window_of "$bobChat" "Save Conversation As...")" Return
wait_for 10 grep -q "ann- hello Bob" "$saved" ||
    fail "Ann's line did not reach Bob's chat: $(cat "$saved" 2>/dev/null)"
echo "chat crossed"
shot chat-crossed

# Bob disconnects and answers Yes; both engines end with their time stored.
sleep 1
panel="$(window_of "$bob" "Control Panel")"
place "$(window_of "$ann" "Control Panel")" 0 0
place "$panel" 640 0
shot before-disconnect
click "$panel" 536 18                                # Disconnect
shot after-disconnect
wait_for 10 window_of "$bob" "Tellaran" || fail "Bob was not asked to disconnect"
press "$(window_of "$bob" "Tellaran")" Return     # Yes
wait_for 10 bash -c "! kill -0 $bob" || fail "Bob's engine did not end"
wait_for 10 window_of "$ann" "Tellaran" || fail "Ann was not told of the hang-up"
press "$(window_of "$ann" "Tellaran")" Return     # "Remote computer disconnected"
wait_for 10 bash -c "! kill -0 $ann" || fail "Ann's engine did not end"
for name in ann bob; do
    time=$(tail -n 1 "$work/$name/data/data.dat" | tr -d '"\r')
    [ "$time" != "00:00:00" ] || fail "$name's connection time was not stored"
    echo "$name stored $time"
done
echo "PASSED"
