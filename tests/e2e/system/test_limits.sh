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
wait_records_exactly() { # name count seconds
    wait_for "$3" bash -c "[ \"\$(grep -c . '$work/$1/data/requests.dat' 2>/dev/null)\" -eq $2 ]"
}
rss_kb() { awk '/^VmRSS:/ { print $2 }' "/proc/$1/status"; }
value_of() { awk -v n="$1" '$1 == n { v = $2 } END { printf "%d", v }' "$2"; }

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

# Ann and Bob end their call (SIGTERM ends it as Disconnect does); their places on the screen
# go to the computers of the noisy line below.
kill "$ann" "$bob"
wait "$ann" "$bob"

# A call serves any number of programs over its life: 32,768 programs, 200 at a time, connect,
# register and close after a warm-up; the memory each closed one took comes back, and a program
# after them all is served.
desktop_run cat "$load" churn --connections 4000 --batch 200 >/dev/null || fail "the warm-up churn failed"
wait_records_exactly cat 0 20 || fail "the table did not empty after the warm-up churn"
sleep 2
before=$(rss_kb "$engine")
desktop_run cat "$load" churn --connections 32768 --batch 200 >"$work/churn.out" ||
    fail "the churn failed: $(cat "$work/churn.out")"
wait_records_exactly cat 0 20 || fail "the table did not empty after 32,768 programs closed"
sleep 2
after=$(rss_kb "$engine")
growth=$(awk -v b="$before" -v a="$after" 'BEGIN { printf "%.1f", (a - b) / 32.768 }')
figure rss_growth_kb_per_1000_closed "$growth" kB
desktop_spawn cat "$work/after-churn.out" "$load" storm --connections 1 --prefix AFTER --hold 120
late=$spawned
wait_for 20 grep -q '"AFTER000"' "$work/cat/data/requests.dat" ||
    fail "no program was served after 36,768 programs of one run"
kill "$late"
wait_records_exactly cat 0 20

# 20 programs send random bytes with no frame end: the engine stays within its budget (its
# idle size, the 64 MiB of unfinished frames, and 32 MiB more), and gives the memory back once
# they are gone.
sleep 2
idle=$(rss_kb "$engine")
reset_peak_rss "$engine"
desktop_run cat "$load" flood --connections 20 --bytes 33554432 --random --hold 15 >"$work/random.out"
peak=$(peak_rss_mb "$engine")
wait_records_exactly cat 0 20
sleep 2
returned=$(awk -v i="$idle" -v a="$(rss_kb "$engine")" 'BEGIN { printf "%.1f", (a - i) / 1024 }')
budget=$(awk -v i="$idle" 'BEGIN { printf "%.1f", i / 1024 + 64 + 32 }')
figure rss_peak_mb_random_20 "$peak" MB
figure rss_budget_mb_random_20 "$budget" MB
figure rss_above_idle_mb_after_random_20 "$returned" MB
# Built with the sanitizers, the engine's memory is mostly theirs.
if [ "${TELLARAN_SANITIZED:-0}" != 1 ]; then
    awk -v g="$growth" 'BEGIN { exit !(g <= 16) }' ||
        fail "each 1000 closed programs kept $growth kB of the engine's memory"
    awk -v p="$peak" -v b="$budget" 'BEGIN { exit !(p <= b) }' ||
        fail "the engine took $peak MB under random bytes, over its budget of $budget MB"
    awk -v r="$returned" 'BEGIN { exit !(r <= 16) }' ||
        fail "the engine kept $returned MB after the programs sending random bytes closed"
fi
kill "$engine"
wait "$engine"

# A noisy line: bits flipped at random between the two modems, at a bit-error rate of 1e-5,
# then 1e-4, while chat and a bulk transfer cross it. Nothing damaged is delivered, nothing to
# a wrong program, and what is sent once the noise stops arrives.
noise_seconds="${LIMITS_NOISE_SECONDS:-60}"
# A serial cable's rate, without error control; the bulk sender fills 85 % of it, the chat the
# rest but a margin, so that what is sent crosses within the run.
noise_rate="${LIMITS_NOISE_LINE_RATE:-115200}"
bulk_interval=$((1044 * 10000 * 100 / 85 / noise_rate))
desktop_computer eve "8${$}5" "$noise_rate"
desktop_computer fay "8${$}6" "$noise_rate"
for ber in 1e-5 1e-4; do
    desktop_spawn eve "$work/noisyline-$ber.out" "$load" noisyline --listen "8${$}7" \
        --connect "8${$}5" --bit-error-rate "$ber" --noise-seconds "$noise_seconds" --seed 20
    noisyline=$spawned
    desktop_start eve Tellaran
    eve=$spawned
    desktop_answer "$eve" 0 0
    desktop_start fay Tellaran
    fay=$spawned
    desktop_dial "$fay" "8${$}7" 640 0
    desktop_wait_connected "$eve"
    desktop_wait_connected "$fay"
    receivers=()
    for id in CHATNOIS BULKNOIS; do
        desktop_spawn eve "$work/noise-$ber-$id.out" "$load" tagged-receive --id "$id" \
            --idle 15 --timeout $((noise_seconds + 120))
        receivers+=("$spawned")
    done
    wait_records eve 2 10 || fail "the receivers on the noisy line did not register"
    # Both run past the noise; their last payloads cross a clean line.
    desktop_spawn fay "$work/noise-$ber-chat-sent.out" "$load" tagged-send --id CHATNOIS \
        --seconds $((noise_seconds + 5)) --payload 48 --interval 250
    chat=$spawned
    desktop_run fay "$load" tagged-send --id BULKNOIS --seconds $((noise_seconds + 5)) \
        --payload 1000 --interval "$bulk_interval" >"$work/noise-$ber-bulk-sent.out" || fail "the bulk sender failed"
    wait "$chat"
    for pid in "${receivers[@]}"; do wait "$pid"; done
    damaged=0 wrong=0 lost=0
    for id in CHAT BULK; do
        out="$work/noise-$ber-${id}NOIS.out"
        sent=$(value_of tagged_sent "$work/noise-$ber-$(echo "$id" | tr A-Z a-z)-sent.out")
        damaged=$((damaged + $(value_of tagged_damaged "$out")))
        wrong=$((wrong + $(value_of tagged_wrong_dataid "$out")))
        lost=$((lost + sent - $(value_of tagged_intact "$out")))
        [ "$(value_of tagged_last_sequence "$out")" -eq $((sent - 1)) ] ||
            fail "the last $id payload sent after the noise did not arrive"
    done
    dropped=$(grep -o '[0-9]* damaged frames dropped in this call' "$work/eve/Tellaran.log" |
        tail -n 1 | cut -d' ' -f1)
    figure "noise_damaged_delivered_$ber" "$damaged" payloads
    figure "noise_wrong_dataid_$ber" "$wrong" payloads
    figure "noise_payloads_lost_$ber" "$lost" payloads
    figure "noise_frames_dropped_$ber" "${dropped:-0}" frames
    kill "$eve" "$fay"
    wait "$eve" "$fay" "$noisyline"
    grep noise_flipped_bits "$work/noisyline-$ber.out" | sed "s/noise_flipped_bits/noise_flipped_bits_$ber/"
    [ "$damaged" -eq 0 ] || fail "$damaged damaged payloads were delivered at a bit-error rate of $ber"
    [ "$wrong" -eq 0 ] || fail "$wrong payloads went to a wrong program at a bit-error rate of $ber"
done

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
