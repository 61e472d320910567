#!/usr/bin/env bash
# The engine under load, with the real programs: two engines joined by unpaced virtual modems
# and local programs as separate processes (tellaran_load). Checks that nothing is lost and
# that memory, descriptors and processor stay bounded, and prints the figures, one a line as
# "name value unit".
#
# Usage: test_limits.sh <folder of the built programs>
# Exit 77 (skipped) when this machine cannot run it: not root, or no ip/Xvfb/xdotool.
set -uo pipefail
desktop_bin="${1:?folder of the built programs}"
# shellcheck source=desktop.sh
source "$(dirname "$0")/desktop.sh"
load="$desktop_bin/tellaran_load"
[ -x "$load" ] || skip "tellaran_load is not built"
desktop_setup
work="$desktop_work"
figure() { echo "$1 $2 $3"; }

wait_records() { # name count seconds
    wait_for "$3" bash -c "[ \"\$(grep -c . '$work/$1/data/requests.dat' 2>/dev/null)\" -ge $2 ]"
}

# Two computers on unpaced lines, connected through their windows.
line_ann="8${$}1"
desktop_computer ann "$line_ann" 0
desktop_computer bob "8${$}2" 0
# One after the other: a new mode window shows at the top left, over whatever is there.
desktop_start ann Tellaran
ann=$spawned
desktop_answer "$ann" 0 0
desktop_start bob Tellaran
bob=$spawned
desktop_dial "$bob" "$line_ann" 640 0
desktop_wait_connected "$ann"
desktop_wait_connected "$bob"
echo "connected"

# 64 MiB sent at once by one program arrive complete; the sender's engine stays small.
desktop_spawn bob "$work/receive-big.out" "$load" receive --id BIG00001 --bytes 67108864 --timeout 300
receiver=$spawned
wait_records bob 1 10 || fail "the receiver did not register"
reset_peak_rss "$ann"
desktop_run ann "$load" send --id BIG00001 --bytes 67108864 --payload 65536 \
    >"$work/send-big.out" 2>&1 || fail "sending 64 MiB failed: $(cat "$work/send-big.out")"
wait "$receiver" || fail "64 MiB did not arrive whole: $(cat "$work/receive-big.out")"
figure rss_peak_mb_64mib "$(peak_rss_mb "$ann")" MB
grep receive_seconds "$work/receive-big.out" | sed 's/receive_seconds/transfer_seconds_64mib/'

# 200 programs each send 15 MiB with no frame end; a good program is served byte-exact
# meanwhile, and the engine's memory stays bounded.
desktop_spawn bob "$work/receive-good.out" "$load" receive --id GOOD0001 --bytes 8388608 --timeout 300
receiver=$spawned
wait_records bob 1 10 || fail "the good receiver did not register"
reset_peak_rss "$ann"
desktop_spawn ann "$work/flood.out" "$load" flood --connections 200 --bytes 15728640 --hold 30
flood=$spawned
sleep 2
desktop_run ann "$load" send --id GOOD0001 --bytes 8388608 --payload 4096 \
    >"$work/send-good.out" 2>&1 || fail "the good program could not send"
wait "$receiver" || fail "the good program's data did not arrive whole: $(cat "$work/receive-good.out")"
wait "$flood"
peak=$(peak_rss_mb "$ann")
figure rss_peak_mb_200_connections "$peak" MB
grep flood_closed_by_engine "$work/flood.out"
# Built with the sanitizers, the engine's memory is mostly theirs.
if [ "${TELLARAN_SANITIZED:-0}" != 1 ]; then
    awk -v p="$peak" 'BEGIN { exit !(p < 200) }' || fail "the engine took $peak MB under the flood"
fi

# A third engine, alone: 2000 programs connect at once and all register.
desktop_computer cat "8${$}3" 0
desktop_start cat Tellaran
engine=$spawned
desktop_answer "$engine" 0 500
start=$(date +%s.%N)
desktop_spawn cat "$work/storm.out" "$load" storm --connections 2000 --prefix S --hold 120
storm=$spawned
wait_records cat 2000 60 || fail "only $(desktop_records cat) of 2000 programs registered"
figure accept_register_2000_seconds "$(awk -v s="$start" -v e="$(date +%s.%N)" 'BEGIN { printf "%.2f", e - s }')" s
kill "$storm"
wait_for 20 bash -c "[ \"\$(grep -c . '$work/cat/data/requests.dat')\" -eq 0 ]" ||
    fail "the table did not empty after the programs closed"

# A fourth engine with few descriptors: more programs than it can take. The sanitizers need
# descriptors of their own to check memory (a pipe for each check), so out of descriptors
# they report errors that are not there: this case runs only on a plain build.
if [ "${TELLARAN_SANITIZED:-0}" = 1 ]; then
    echo "out of descriptors: not run under the sanitizers"
    echo "PASSED"
    exit 0
fi
# A fourth engine with few descriptors: more programs than it can take.
desktop_computer dee "8${$}4" 0
DESKTOP_LIMIT=256 desktop_start dee Tellaran
engine=$spawned
desktop_answer "$engine" 640 500
before=$(cpu_seconds "$engine")
sleep 2
idle=$(awk -v b="$before" -v a="$(cpu_seconds "$engine")" 'BEGIN { printf "%.1f", (a - b) * 100 / 2 }')
desktop_spawn dee "$work/first.out" "$load" storm --connections 150 --prefix A --hold 120
first=$spawned
wait_records dee 150 20 || fail "the first 150 programs did not register"
desktop_spawn dee "$work/late.out" "$load" storm --connections 1 --prefix LATE --register-delay 4 --hold 120
late=$spawned
wait_records dee 150 5
sleep 0.5
desktop_spawn dee "$work/more.out" "$load" storm --connections 300 --prefix B --hold 120
more=$spawned
sleep 1
before=$(cpu_seconds "$engine")
sleep 2
after=$(cpu_seconds "$engine")
percent=$(awk -v b="$before" -v a="$after" 'BEGIN { printf "%.1f", (a - b) * 100 / 2 }')
figure cpu_percent_waiting "$idle" %
figure cpu_percent_out_of_descriptors "$percent" %
# What running out of descriptors costs comes on top of what waiting for a call costs.
awk -v p="$percent" -v i="$idle" 'BEGIN { exit !(p - i < 5) }' ||
    fail "the engine used $percent % of a core out of descriptors ($idle % waiting)"
# A program connected before the descriptors ran out registers meanwhile (4 s after it
# connected). The table file cannot be written without a descriptor; it catches up as soon
# as descriptors come free, from the records the engine kept.
sleep 3
kill "$first" "$more"
wait_for 20 grep -q '"LATE0000"' "$work/dee/data/requests.dat" ||
    fail "a program connected before the descriptors ran out was not served"
# Once descriptors come free, new programs are accepted again.
desktop_spawn dee "$work/new.out" "$load" storm --connections 1 --prefix NEW --hold 120
wait_for 20 grep -q '"NEW00000"' "$work/dee/data/requests.dat" ||
    fail "no new program was accepted after descriptors came free"
echo "PASSED"
