#!/usr/bin/env bash
# The benchmark of the real programs: two Tellaran processes in two network namespaces, joined
# by their virtual modems, the call set up through their windows under Xvfb, and the local
# programs (tellaran_load) as processes of their own. Figures go to stdout, one a line as
# "name value unit"; progress goes to stderr.
#
# Usage: bench_system.sh <folder of the built programs>
# Exit 77, saying why, where it cannot run (not root, no Xvfb or xdotool).
set -uo pipefail
desktop_bin="${1:?folder of the built programs}"
# shellcheck source=../../tests/e2e/system/desktop.sh
source "$(dirname "$0")/../../tests/e2e/system/desktop.sh"
load="$desktop_bin/tellaran_load"
[ -x "$load" ] || skip "tellaran_load is not built"
desktop_setup >&2
work="$desktop_work"
progress() { echo "bench_system: $*" >&2; }
figure() { echo "$1 $2 $3"; }
value_of() { awk -v n="$1" '$1 == n { print $2 }' "$2"; }
records() { grep -c . "$work/$1/data/requests.dat" 2>/dev/null || echo 0; }
wait_records() { # name count seconds
    wait_for "$3" bash -c "[ \"\$(grep -c . '$work/$1/data/requests.dat' 2>/dev/null)\" -ge $2 ]"
}
cpu_percent() { # pid seconds
    local before
    before=$(cpu_seconds "$1")
    sleep "$2"
    awk -v b="$before" -v a="$(cpu_seconds "$1")" -v s="$2" 'BEGIN { printf "%.2f", (a - b) * 100 / s }'
}
now() { date +%s.%N; }
since() { awk -v s="$1" -v e="$(now)" 'BEGIN { printf "%.3f", e - s }'; }

# Two computers on lines at the default 56000 bit/s.
progress "paced call through the windows"
desktop_computer ann "9${$}1"
desktop_computer bob "9${$}2"
desktop_start ann Tellaran
ann=$spawned
wait_for 20 window_of "$ann" "Mode:" || fail "the mode window did not show"
sleep 1
figure idle_cpu_percent_mode "$(cpu_percent "$ann" 5)" %
desktop_answer "$ann" 0 0
sleep 1
figure idle_cpu_percent_answer "$(cpu_percent "$ann" 10)" %
desktop_start bob Tellaran
bob=$spawned
desktop_open_dialer "$bob" 640 0
sleep 1
figure idle_cpu_percent_dialer "$(cpu_percent "$bob" 5)" %
desktop_dial "$bob" "9${$}1" 640 0
desktop_wait_connected "$ann"
desktop_wait_connected "$bob"
sleep 2
figure idle_cpu_percent_connected "$(cpu_percent "$ann" 10)" %
figure rss_mb_connected "$(awk '/^VmRSS:/ { printf "%.1f", $2 / 1024 }' "/proc/$ann/status")" MB
desktop_start ann Yarnit
chat=$spawned
wait_for 20 window_of "$chat" "Settings" || fail "Yarnit did not show"
sleep 1
figure idle_cpu_percent_yarnit "$(cpu_percent "$chat" 5)" %
kill "$chat"

progress "latency of 16-byte payloads, one every 250 ms"
desktop_spawn bob "$work/pong.out" "$load" pong --id LAT00001 --count 80 --payload 16 --timeout 120
pong=$spawned
wait_records bob 1 10 || fail "the latency receiver did not register"
desktop_run ann "$load" ping --id LAT00001 --count 80 --interval 250 --payload 16 >&2 ||
    fail "the pings could not be sent"
wait "$pong" || fail "not every ping arrived: $(cat "$work/pong.out")"
figure system_latency_p50_ms "$(value_of latency_p50_ms "$work/pong.out")" ms
figure system_latency_p99_ms "$(value_of latency_p99_ms "$work/pong.out")" ms

progress "paced throughput of 1000-byte payloads"
wait_for 10 bash -c "[ \"\$(grep -c . '$work/bob/data/requests.dat')\" -eq 0 ]"
desktop_spawn bob "$work/paced.out" "$load" receive --id EFF00001 --bytes 200000 --timeout 120
receiver=$spawned
wait_records bob 1 10 || fail "the paced receiver did not register"
desktop_run ann "$load" send --id EFF00001 --bytes 200000 --payload 1000 >&2 ||
    fail "the paced sender failed"
wait "$receiver" || fail "the paced payloads did not arrive whole: $(cat "$work/paced.out")"
# A 1000-byte payload takes 1044 bytes on the line: 35 of tags and 9 of check value.
frame_with_check_value=1044
figure system_paced_efficiency_56000 "$(awk -v r="$(value_of receive_bytes_per_second "$work/paced.out")" \
    -v f="$frame_with_check_value" 'BEGIN { printf "%.1f", 100 * r / (56000 / 10 * 1000 / f) }')" %

progress "latency of 16-byte payloads while 1000-byte payloads go as fast as they can"
wait_for 10 bash -c "[ \"\$(grep -c . '$work/bob/data/requests.dat')\" -eq 0 ]"
desktop_spawn bob "$work/bulk.out" "$load" receive --id BLK00001 --bytes 200000 --timeout 120
bulk_receiver=$spawned
desktop_spawn bob "$work/pongbulk.out" "$load" pong --id LAT00002 --count 80 --payload 16 --timeout 150
pong=$spawned
wait_records bob 2 10 || fail "the receivers under bulk did not register"
desktop_spawn ann "$work/bulksend.out" "$load" send --id BLK00001 --bytes 200000 --payload 1000
bulk_sender=$spawned
sleep 2
desktop_run ann "$load" ping --id LAT00002 --count 80 --interval 250 --payload 16 >&2 ||
    fail "the pings under bulk could not be sent"
wait "$pong" || fail "not every ping under bulk arrived: $(cat "$work/pongbulk.out")"
figure system_latency_under_bulk_p50_ms "$(value_of latency_p50_ms "$work/pongbulk.out")" ms
figure system_latency_under_bulk_p99_ms "$(value_of latency_p99_ms "$work/pongbulk.out")" ms
wait "$bulk_sender" || fail "the bulk sender failed: $(cat "$work/bulksend.out")"
wait "$bulk_receiver" || fail "the bulk payloads did not arrive whole: $(cat "$work/bulk.out")"

progress "1000 programs register"
desktop_spawn bob "$work/relay.out" "$load" pong --id RLY00001 --count 5 --payload 16 --timeout 120
relay=$spawned
wait_records bob 1 10 || fail "the relay receiver did not register"
start=$(now)
desktop_spawn bob "$work/storm.out" "$load" storm --connections 1000 --prefix R --hold 600
storm=$spawned
wait_records bob 1001 60 || fail "only $(records bob) programs registered"
figure system_register_1000_s "$(since "$start")" s

progress "1000 programs close with the processor loaded"
burners=()
for _ in $(seq "$(nproc)"); do
    (while :; do :; done) &
    burners+=($!)
done
sleep 1
start=$(now)
kill "$storm"
desktop_run ann "$load" ping --id RLY00001 --count 5 --interval 20 --payload 16 >&2 &
wait_for 60 bash -c "[ \"\$(grep -c . '$work/bob/data/requests.dat')\" -le 1 ]" ||
    fail "the table did not settle: $(records bob) records"
figure system_close_1000_settle_s "$(since "$start")" s
wait "$relay" || fail "the relay frames did not arrive: $(cat "$work/relay.out")"
figure system_relay_during_close_ms "$(value_of latency_max_ms "$work/relay.out")" ms
kill "${burners[@]}"
wait "${burners[@]}" 2>/dev/null

# Two more computers on unpaced lines.
progress "unpaced throughput"
desktop_computer cat "9${$}3" 0
desktop_computer dee "9${$}4" 0
desktop_start cat Tellaran
cat_engine=$spawned
desktop_answer "$cat_engine" 0 400
desktop_start dee Tellaran
dee_engine=$spawned
desktop_dial "$dee_engine" "9${$}3" 640 400
desktop_wait_connected "$cat_engine"
desktop_wait_connected "$dee_engine"
desktop_spawn dee "$work/unpaced.out" "$load" receive --id BIG00001 --bytes 134217728 --timeout 300
receiver=$spawned
wait_records dee 1 10 || fail "the unpaced receiver did not register"
desktop_run cat "$load" send --id BIG00001 --bytes 134217728 --payload 65536 >&2 ||
    fail "the unpaced sender failed"
wait "$receiver" || fail "the unpaced payloads did not arrive whole: $(cat "$work/unpaced.out")"
figure system_unpaced_mbps_1ch "$(awk -v r="$(value_of receive_bytes_per_second "$work/unpaced.out")" \
    'BEGIN { printf "%.2f", r / 1e6 }')" MB/s
