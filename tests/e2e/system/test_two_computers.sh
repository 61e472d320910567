#!/usr/bin/env bash
# The whole system as a person uses it: the real Tellaran and Yarnit programs of two
# "computers", each in its own network namespace, under a virtual X display, driven with
# xdotool. Ann answers, Bob dials her line, they chat, Bob disconnects and both engines end
# with their connection time stored.
#
# Usage: test_two_computers.sh <folder of the built programs>
# Exit 77 (skipped) when this machine cannot run it: no namespaces, or no ip/Xvfb/xdotool.
set -uo pipefail
desktop_bin="${1:?folder of the built programs}"
# shellcheck source=desktop.sh
source "$(dirname "$0")/desktop.sh"
desktop_setup
work="$desktop_work"

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

# Phone numbers of their own, so that lines left by another run cannot answer.
line_ann="7${$}1"
desktop_computer ann "$line_ann"
desktop_computer bob "7${$}2"
desktop_start ann Tellaran
ann=$spawned
desktop_answer "$ann" 0 0
shot answering
desktop_start bob Tellaran
bob=$spawned
desktop_dial "$bob" "$line_ann" 640 0
shot dialing
desktop_wait_connected "$ann"
desktop_wait_connected "$bob"
echo "connected"
shot connected

desktop_start ann Yarnit
annChat=$spawned
desktop_start bob Yarnit
bobChat=$spawned
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
