#!/usr/bin/env bash
# Ferryit's figures with the real programs: two Tellaran engines in two network namespaces,
# joined by their virtual modems, the call set up through their windows under Xvfb, and a
# Ferryit on each side. Figures go to stdout, one a line as "name value unit"; progress goes
# to stderr.
#
#   ferry_efficiency_56000   a 1 MiB random file at 56000 bit/s, against the wire-format bound
#   ferry_resume_lost_kib    bytes sent twice when the call drops mid-file and the file is
#                            sent again on the next call
#   ferry_rss_mb             the sending Ferryit's peak memory, 256 MiB over an unpaced line
#
# Usage: bench_ferry.sh <folder of the built programs>
# Exit 77, saying why, where it cannot run (not root, no Xvfb or xdotool).
set -uo pipefail
desktop_bin="${1:?folder of the built programs}"
# shellcheck source=../../tests/e2e/system/desktop.sh
source "$(dirname "$0")/../../tests/e2e/system/desktop.sh"
[ -x "$desktop_bin/Ferryit" ] || skip "Ferryit is not built"
desktop_setup >&2
work="$desktop_work"

# The line and the wire format. Each link frame costs the engines' framing around its
# payload: "<modem>", "<DataID>" twice and "<xodem>" CR. An engine that puts a check value in
# front of each frame adds its bytes here.
LINE_RATE=56000
LINK_FRAME_OVERHEAD=44
# File bytes in each of Ferryit's data messages (one link frame each).
FERRY_CHUNK=1024

progress() { echo "bench_ferry: $*" >&2; }
figure() { echo "$1 $2 $3"; }
now() { date +%s.%N; }
size_of() { stat -c %s "$1" 2>/dev/null || echo 0; }

# ferry_computer NAME LINE [RATE]: a computer whose Ferryit saves into NAME/inbox.
ferry_computer() {
    desktop_computer "$@"
    local folder="$work/$1"
    cp "$desktop_bin/Ferryit" "$folder/"
    mkdir -p "$folder/inbox"
    printf '"%s"\r\n' "$folder/inbox" >"$folder/ferryit.dat"
}
# ferry_start NAME [FILE...]: Ferryit on NAME, logging its transfers into $ferry_log; pid
# into $spawned.
ferry_start() {
    local name="$1"
    shift
    ferry_log="$work/$name/ferryit-$(date +%s%N).log"
    desktop_spawn "$name" "$ferry_log" \
        env QT_LOGGING_RULES="tellaran.ferry.debug=true" "$work/$name/Ferryit" "$@"
    wait_for 20 window_of "$spawned" "Ferryit" || fail "Ferryit did not show on $name"
}
# ferry_accept_all PID NAME: ticks "Accept all files during this call" (Alt+L) in NAME's
# Ferryit once it is registered with its engine.
ferry_accept_all() {
    wait_for 20 bash -c "grep -q ferryit1 '$work/$2/data/requests.dat' 2>/dev/null" ||
        fail "Ferryit on $2 did not register"
    press "$(window_of "$1" "Ferryit")" alt+l
}
# call ANSWERING DIALING LINE: engines started and the call set up through their windows;
# their pids into $answering and $dialing.
call() {
    desktop_start "$1" Tellaran
    answering=$spawned
    desktop_answer "$answering" 0 0
    desktop_start "$2" Tellaran
    dialing=$spawned
    desktop_dial "$dialing" "$3" 640 0
    desktop_wait_connected "$answering"
    desktop_wait_connected "$dialing"
}
# watch_transfer FOLDER NAME SECONDS: waits for FOLDER/NAME; prints the seconds from its
# first received byte and the bytes received since.
watch_transfer() {
    local part="$1/$2.part" start="" first=0
    for _ in $(seq $(($3 * 20))); do
        if [ -z "$start" ] && [ "$(size_of "$part")" -gt 0 ]; then
            start=$(now)
            first=$(size_of "$part")
        fi
        if [ -f "$1/$2" ]; then
            awk -v s="$start" -v e="$(now)" -v b="$(($(size_of "$1/$2") - first))" \
                'BEGIN { printf "%.3f %d\n", e - s, b }'
            return 0
        fi
        sleep 0.05
    done
    return 1
}
# From Ferryit's log (LOG NAME): the bytes of NAME sent before it ended, and where the last
# attempt started.
sent_before_drop() { sed -n "s/^tellaran.ferry: sending $2 ended after \([0-9]*\) bytes sent.*/\1/p" "$1" | tail -n 1; }
resumed_from() { sed -n "s/^tellaran.ferry: sending $2 of [0-9]* bytes from offset \([0-9]*\)$/\1/p" "$1" | tail -n 1; }

progress "a call at $LINE_RATE bit/s"
ferry_computer ann "6${$}1"
ferry_computer bob "6${$}2"
head -c $((1 << 20)) /dev/urandom >"$work/ann/random.bin"
head -c $((512 << 10)) /dev/urandom >"$work/ann/resume.bin"
call ann bob "6${$}1"
ferry_start bob
bob_ferry=$spawned
place "$(window_of "$bob_ferry" "Ferryit")" 640 300
ferry_accept_all "$bob_ferry" bob
progress "1 MiB of random bytes"
ferry_start ann "$work/ann/random.bin" "$work/ann/resume.bin"
ann_ferry=$spawned
ann_log="$ferry_log"
read -r seconds bytes < <(watch_transfer "$work/bob/inbox" random.bin 600) ||
    fail "the 1 MiB file did not arrive"
cmp -s "$work/ann/random.bin" "$work/bob/inbox/random.bin" || fail "the 1 MiB file arrived changed"
figure ferry_efficiency_56000 "$(awk -v b="$bytes" -v s="$seconds" -v r="$LINE_RATE" \
    -v c="$FERRY_CHUNK" -v o="$LINK_FRAME_OVERHEAD" \
    'BEGIN { printf "%.1f", 100 * b / s / (r / 10 * c / (c + o)) }')" %
figure ferry_efficiency_raw_line_56000 "$(awk -v b="$bytes" -v s="$seconds" -v r="$LINE_RATE" \
    'BEGIN { printf "%.1f", 100 * b / s / (r / 10) }')" %

progress "the call drops half-way through the next file"
wait_for 120 bash -c "[ \$(stat -c %s '$work/bob/inbox/resume.bin.part' 2>/dev/null || echo 0) -ge $((200 << 10)) ]" ||
    fail "the second file did not start"
kill -KILL "$dialing"
wait "$dialing" 2>/dev/null
wait_for 20 window_of "$answering" "Tellaran" || fail "Ann was not told of the hang-up"
press "$(window_of "$answering" "Tellaran")" Return
wait_for 20 bash -c "! kill -0 $answering" || fail "Ann's engine did not end"
wait_for 20 bash -c "grep -q 'sending resume.bin ended' '$ann_log'" ||
    fail "Ann's Ferryit did not see the call end: $(tail -n 5 "$ann_log")"
sent=$(sent_before_drop "$ann_log" resume.bin)
kill "$ann_ferry"
progress "the next call: Bob reconnects, Ann sends the file again"
call ann bob "6${$}1"
press "$(window_of "$bob_ferry" "Ferryit")" alt+r
ferry_accept_all "$bob_ferry" bob
ferry_start ann "$work/ann/resume.bin"
ann_log="$ferry_log"
watch_transfer "$work/bob/inbox" resume.bin 600 >/dev/null || fail "the resumed file did not arrive"
cmp -s "$work/ann/resume.bin" "$work/bob/inbox/resume.bin" || fail "the resumed file arrived changed"
from=$(resumed_from "$ann_log" resume.bin)
{ [ -n "$sent" ] && [ -n "$from" ]; } || fail "the log does not tell what was sent: $(cat "$ann_log")"
progress "sent $sent bytes before the drop, resumed at $from"
figure ferry_resume_lost_kib "$(awk -v s="$sent" -v f="$from" 'BEGIN { printf "%.1f", (s - f) / 1024 }')" KiB
kill "$answering" "$dialing" "$bob_ferry" 2>/dev/null

progress "256 MiB over an unpaced line"
ferry_computer cat "6${$}3" 0
ferry_computer dee "6${$}4" 0
head -c $((256 << 20)) /dev/urandom >"$work/cat/big.bin"
call cat dee "6${$}3"
ferry_start dee
dee_ferry=$spawned
ferry_accept_all "$dee_ferry" dee
ferry_start cat "$work/cat/big.bin"
cat_ferry=$spawned
read -r seconds bytes < <(watch_transfer "$work/dee/inbox" big.bin 1200) ||
    fail "the 256 MiB file did not arrive"
figure ferry_rss_mb "$(peak_rss_mb "$cat_ferry")" MB
figure ferry_rss_mb_receiving "$(peak_rss_mb "$dee_ferry")" MB
figure ferry_unpaced_mbps "$(awk -v b="$bytes" -v s="$seconds" 'BEGIN { printf "%.2f", b / s / 1e6 }')" MB/s
cmp -s "$work/cat/big.bin" "$work/dee/inbox/big.bin" || fail "the 256 MiB file arrived changed"
