# Shared by the whole-system scripts: a virtual X display, "computers" in network namespaces
# running the real programs, and the clicks that set up a call through the windows.
# Source it, then call desktop_setup; desktop_cleanup runs on exit.
# shellcheck shell=bash

desktop_work="$(mktemp -d)"
desktop_tag="tellaran-sys$$"
desktop_pids=()
desktop_names=()
# How the "computers" get networks of their own: "netns" (as root, with ip netns) or "userns"
# (unprivileged user and network namespaces, each kept by a holder process, entered with
# nsenter).
desktop_ns_mode=netns
declare -A desktop_holders=()

skip() { echo "SKIPPED: $*"; exit 77; }
fail() {
    echo "FAILED: $*"
    for log in "$desktop_work"/*/*.log; do
        [ -f "$log" ] && { echo "--- $log"; tail -n 40 "$log"; }
    done
    exit 1
}
desktop_cleanup() {
    # The programs first, and Xvfb last, so that none of them ends half-way through a write.
    for pid in "${desktop_pids[@]}"; do kill "$pid" 2>/dev/null; done
    for pid in "${desktop_pids[@]}"; do wait "$pid" 2>/dev/null; done
    if [ "$desktop_ns_mode" = netns ]; then
        for name in "${desktop_names[@]}"; do ip netns delete "$desktop_tag-$name" 2>/dev/null; done
    fi
    rm -rf "$desktop_work"
}
trap desktop_cleanup EXIT

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

# Checks the tools, then starts Xvfb. The namespaces need root, or a system that lets users
# make their own.
desktop_setup() {
    desktop_namespaces
    desktop_display
}
desktop_namespaces() {
    command -v ip >/dev/null || skip "ip is not installed"
    if [ "$(id -u)" -eq 0 ]; then
        desktop_ns_mode=netns
    elif unshare --user --map-root-user --net true 2>/dev/null; then
        command -v nsenter >/dev/null || skip "nsenter is not installed"
        desktop_ns_mode=userns
        # Inside, the user is root (0), and the exchange folder would follow that id: give
        # the computers one of their own.
        export XDG_RUNTIME_DIR="$desktop_work/runtime"
        mkdir -p -m 700 "$XDG_RUNTIME_DIR"
    else
        skip "needs root, or unprivileged user and network namespaces"
    fi
}
# Starts Xvfb and exports its DISPLAY.
desktop_display() {
    for tool in Xvfb xdotool; do
        command -v "$tool" >/dev/null || skip "$tool is not installed"
    done
    # Xvfb picks a free display number itself and writes it out once it is ready, so that
    # scripts running side by side never race for one.
    # No key repeat: a key whose release goes astray (its window closed) must not type on.
    Xvfb -displayfd 3 -screen 0 1280x1024x24 -nolisten tcp -ardelay 600000 \
        3>"$desktop_work/display" >"$desktop_work/xvfb.log" 2>&1 &
    desktop_pids+=($!)
    wait_for 10 test -s "$desktop_work/display" || fail "Xvfb did not start"
    export DISPLAY=":$(head -n 1 "$desktop_work/display")"
    wait_for 10 xdotool getmouselocation || fail "Xvfb did not start"
}

# desktop_computer NAME LINE [RATE]: a program folder with the built programs and a network
# namespace; port 1 is the virtual modem on LINE (at RATE bit/s; 0 unpaced).
desktop_computer() {
    local name="$1" line="$2" rate="${3:-}"
    local folder="$desktop_work/$name"
    mkdir -p "$folder/data"
    cp "$desktop_bin/Tellaran" "$desktop_bin/Yarnit" "$folder/"
    cp "$desktop_bin/data/data.dat" "$folder/data/"
    : >"$folder/data/addresses.dat"
    : >"$folder/data/programs.dat"
    printf '1,"modem:%s%s"\r\n' "$line" "${rate:+@$rate}" >"$folder/data/ports.dat"
    desktop_namespace "$name"
}
# desktop_namespace NAME: NAME's network namespace, with its loopback up.
desktop_namespace() {
    local name="$1"
    if [ "$desktop_ns_mode" = userns ]; then
        unshare --user --map-root-user --net sleep infinity &
        desktop_holders[$name]=$!
        desktop_pids+=($!)
        wait_for 5 desktop_namespace_ready "$!" || skip "cannot create network namespaces here"
    else
        ip netns add "$desktop_tag-$name" || skip "cannot create network namespaces here"
    fi
    desktop_names+=("$name")
    desktop_run "$name" ip link set lo up
}
desktop_namespace_ready() { [ "$(readlink "/proc/$1/ns/net")" != "$(readlink /proc/self/ns/net)" ]; }
desktop_folder() { echo "$desktop_work/$1"; }

# desktop_start NAME PROGRAM [ARGS...]: starts a program of NAME's folder in NAME's namespace;
# its pid goes to $spawned. With DESKTOP_LIMIT set, it runs under that open-file limit.
desktop_start() {
    local name="$1" program="$2"
    shift 2
    local prefix=()
    [ -n "${DESKTOP_LIMIT:-}" ] && prefix=(prlimit "--nofile=$DESKTOP_LIMIT:$DESKTOP_LIMIT")
    desktop_spawn "$name" "$desktop_work/$name/$program.log" "${prefix[@]}" \
        "$desktop_work/$name/$program" "$@"
}
# desktop_spawn NAME OUTPUT COMMAND...: runs a command in NAME's namespace in the background,
# its output into OUTPUT; its pid goes to $spawned.
desktop_spawn() {
    local name="$1" output="$2"
    shift 2
    local enter=()
    desktop_enter "$name"
    # The command replaces the one that enters the namespace, so $! is the program itself.
    "${enter[@]}" "$@" >"$output" 2>&1 &
    spawned=$!
    desktop_pids+=("$spawned")
}
# desktop_run NAME COMMAND...: runs a command in NAME's namespace, in the foreground.
desktop_run() {
    local name="$1" enter=()
    shift
    desktop_enter "$name"
    "${enter[@]}" "$@"
}
# desktop_enter NAME: the command that runs what follows it in NAME's namespace, into the
# caller's array "enter".
desktop_enter() {
    if [ "$desktop_ns_mode" = userns ]; then
        enter=(nsenter --target "${desktop_holders[$1]}" --user --net --preserve-credentials --)
    else
        enter=(ip netns exec "$desktop_tag-$1")
    fi
}

# Clicks x y in the window titled $2 of program $1 until a window titled $5 shows: a click
# that comes while a freshly shown window is still settling may be lost.
desktop_click_until() { # pid title x y awaited-title
    for _ in 1 2 3; do
        local window
        window="$(window_of "$1" "$2")"
        [ -n "$window" ] && click "$window" "$3" "$4"
        wait_for 4 window_of "$1" "$5" && return 0
    done
    return 1
}

# The engine's windows, as a person uses them. Each engine's windows go to a place of their
# own (x y), since a click lands on whatever window is on top.
desktop_answer() { # engine-pid x y
    wait_for 20 window_of "$1" "Mode:" || fail "the mode window did not show"
    place "$(window_of "$1" "Mode:")" "${2:-0}" "${3:-0}"
    desktop_click_until "$1" "Mode:" 67 101 "Tellaran Call receiver" ||   # Answer Mode
        fail "the answer window did not show"
}
desktop_open_dialer() { # engine-pid x y
    [ -n "$(window_of "$1" "Tellaran Dialler")" ] && return 0
    wait_for 20 window_of "$1" "Mode:" || fail "the mode window did not show"
    place "$(window_of "$1" "Mode:")" "${2:-640}" "${3:-0}"
    desktop_click_until "$1" "Mode:" 67 65 "Tellaran Dialler" ||           # Call Mode
        fail "the dialer did not show"
    place "$(window_of "$1" "Tellaran Dialler")" "${2:-640}" $((${3:-0} + 300))
}
desktop_dial() { # engine-pid line x y
    desktop_open_dialer "$1" "${3:-640}" "${4:-0}"
    local dialer
    dialer="$(window_of "$1" "Tellaran Dialler")"
    click "$dialer" 425 75                            # the number field
    write "$dialer" "$2"
    click "$dialer" 423 253                           # Go !
}
desktop_wait_connected() { # engine-pid
    wait_for 30 window_of "$1" "Control Panel" || fail "engine $1 did not connect"
}
# Records of an engine's channel table file.
desktop_records() { # name
    local file="$desktop_work/$1/data/requests.dat"
    [ -f "$file" ] && grep -c . "$file" || echo 0
}
# Peak resident memory of a process in MB, and a fresh start of that peak.
peak_rss_mb() { awk '/^VmHWM:/ { printf "%.1f", $2 / 1024 }' "/proc/$1/status"; }
reset_peak_rss() { echo 5 >"/proc/$1/clear_refs"; }
# CPU seconds (user + system) a process has used so far.
cpu_seconds() {
    local ticks
    ticks=$(awk '{ print $14 + $15 }' "/proc/$1/stat")
    awk -v t="$ticks" -v hz="$(getconf CLK_TCK)" 'BEGIN { printf "%.3f", t / hz }'
}
