#!/usr/bin/env bash
# Soak run of the real programs with modems that behave like awkward real ones: both virtual
# modems reply 300 ms late and answer AT%C3 and ATL with ERROR. Each try starts two fresh
# Tellaran processes in two network namespaces under Xvfb: Ann answers, Bob dials from his
# dialer, a few payloads cross, Bob disconnects and both engines end. A try passes when the
# call came up, every payload crossed, both ended, and no box showed before the disconnect.
# Figures go to stdout as "name value unit"; each try's outcome goes to stderr.
#
# Usage: soak_late_modems.sh <folder of the built programs> [tries, 10 by default]
# Exit 77, saying why, where it cannot run (not root, no Xvfb or xdotool); 1 when a try failed.
set -uo pipefail
desktop_bin="${1:?folder of the built programs}"
tries="${2:-10}"
# shellcheck source=../../tests/e2e/system/desktop.sh
source "$(dirname "$0")/../../tests/e2e/system/desktop.sh"
load="$desktop_bin/tellaran_load"
[ -x "$load" ] || skip "tellaran_load is not built"
desktop_setup >&2
work="$desktop_work"
options="reply-delay=300 reject=AT%C3,ATL"

progress() { echo "soak: $*" >&2; }
now() { date +%s.%N; }
# Message boxes carry the program's own title.
box_of() { window_of "$1" "Tellaran"; }
boxes=0
# Counts the boxes either engine shows now (each is looked for once).
watch_boxes() { # pid...
    local pid
    for pid in "$@"; do
        [ -n "$(box_of "$pid")" ] && return 0
    done
    return 1
}
# Waits up to $1 seconds for window $3 of program $2, failing early when a box shows.
wait_window() { # seconds pid title other-pid
    local _
    for _ in $(seq $(($1 * 10))); do
        [ -n "$(window_of "$2" "$3")" ] && return 0
        if watch_boxes "$2" "$4"; then
            boxes=$((boxes + 1))
            return 1
        fi
        sleep 0.1
    done
    return 1
}

# The programs of the try under way, to end them if it fails half-way.
try_pids=()
try_once() { # number
    local n="$1" ann bob line start pong
    line="6${$}${n}1"
    desktop_computer "ann$n" "$line"
    desktop_computer "bob$n" "6${$}${n}2"
    for who in "ann$n" "bob$n"; do
        local folder="$work/$who"
        printf '1,"modem:%s %s"\r\n' "$(sed -n 's/^1,"modem:\([^"]*\)".*/\1/p' \
            "$folder/data/ports.dat")" "$options" >"$folder/data/ports.dat"
    done
    desktop_start "ann$n" Tellaran --log "$work/ann$n/modem.log"
    ann=$spawned
    try_pids+=("$ann")
    desktop_answer "$ann" 0 0
    desktop_start "bob$n" Tellaran --log "$work/bob$n/modem.log"
    bob=$spawned
    try_pids+=("$bob")
    desktop_open_dialer "$bob" 640 0
    # Ann's modem is told to answer once her start-up has had its replies.
    wait_for 10 grep -q "to the modem: ATE1S0=1" "$work/ann$n/modem.log" ||
        { echo "Ann's answer command did not go out"; return 1; }
    local dialer
    dialer="$(window_of "$bob" "Tellaran Dialler")"
    click "$dialer" 425 75
    write "$dialer" "$line"
    start=$(now)
    click "$dialer" 423 253                           # Go !
    wait_window 40 "$bob" "Control Panel" "$ann" || { echo "Bob did not connect"; return 1; }
    wait_window 20 "$ann" "Control Panel" "$bob" || { echo "Ann did not connect"; return 1; }
    connect_s=$(awk -v s="$start" -v e="$(now)" 'BEGIN { printf "%.2f", e - s }')

    desktop_spawn "bob$n" "$work/pong$n.out" "$load" pong --id SOAK0001 --count 5 --payload 16 \
        --timeout 60
    pong=$spawned
    try_pids+=("$pong")
    wait_for 10 bash -c "[ \"\$(grep -c . '$work/bob$n/data/requests.dat' 2>/dev/null)\" -ge 1 ]" ||
        { echo "the receiver did not register"; return 1; }
    desktop_run "ann$n" "$load" ping --id SOAK0001 --count 5 --interval 100 --payload 16 >&2 ||
        { echo "the payloads could not be sent"; return 1; }
    wait "$pong" || { echo "not every payload crossed: $(cat "$work/pong$n.out")"; return 1; }
    if watch_boxes "$ann" "$bob"; then
        boxes=$((boxes + 1))
        echo "a box showed during the call"
        return 1
    fi

    # Both status windows open at the top left; a click lands on whichever is on top.
    place "$(window_of "$ann" "Control Panel")" 0 0
    place "$(window_of "$bob" "Control Panel")" 640 0
    sleep 1
    click "$(window_of "$bob" "Control Panel")" 536 18   # Disconnect
    wait_for 10 box_of "$bob" || { echo "Bob was not asked to disconnect"; return 1; }
    press "$(box_of "$bob")" Return                      # Yes
    wait_for 15 bash -c "! kill -0 $bob" || { echo "Bob's engine did not end"; return 1; }
    wait_for 15 box_of "$ann" || { echo "Ann was not told of the hang-up"; return 1; }
    press "$(box_of "$ann")" Return
    wait_for 15 bash -c "! kill -0 $ann" || { echo "Ann's engine did not end"; return 1; }
    for who in "ann$n" "bob$n"; do
        grep -q "the modem did not accept AT%C3" "$work/$who/modem.log" ||
            { echo "$who: the refused AT%C3 is not in the log"; return 1; }
    done
    return 0
}

passed=0
connect_times=()
for n in $(seq "$tries"); do
    connect_s=""
    try_pids=()
    if try_once "$n" >"$work/try$n.txt" 2>&1; then
        passed=$((passed + 1))
        connect_times+=("$connect_s")
        progress "try $n passed, connected in ${connect_s} s"
    else
        progress "try $n FAILED: $(tail -n 1 "$work/try$n.txt")"
        for log in "$work/ann$n/modem.log" "$work/bob$n/modem.log"; do
            [ -f "$log" ] && { echo "--- $log" >&2; tail -n 30 "$log" >&2; }
        done
    fi
    for pid in "${try_pids[@]}"; do kill "$pid" 2>/dev/null; done
done

echo "soak_tries $tries tries"
echo "soak_tries_passed $passed tries"
echo "soak_boxes_seen $boxes boxes"
if [ "${#connect_times[@]}" -gt 0 ]; then
    printf '%s\n' "${connect_times[@]}" | sort -n | awk '
        { t[NR] = $1; sum += $1 }
        END {
            printf "soak_connect_min_s %.2f s\n", t[1]
            printf "soak_connect_median_s %.2f s\n", (NR % 2) ? t[(NR + 1) / 2] : (t[NR / 2] + t[NR / 2 + 1]) / 2
            printf "soak_connect_max_s %.2f s\n", t[NR]
        }'
fi
[ "$passed" -eq "$tries" ]
