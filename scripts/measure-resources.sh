#!/usr/bin/env bash
# Measures Korimo's resource figures against the demo's private servers on loopback, in a private X
# display with a tray host (Xvfb + trayer), and prints them as the table of docs/RESOURCES.md:
#   - start-up time to tray: from the process's start until its tray icon is shown (median of RUNS),
#     beside the same figure of the bare program (below) started in alternation;
#   - resident memory (VmRSS) idle, 10 s after start, and its peak (VmHWM), beside the same figure of
#     a bare Qt Widgets program with a tray icon and one window (bench/tray/bare_tray), and the ratio;
#   - wakeups per second while idle: context switches of all its threads over 30 s;
#   - resident memory over a soak of SOAK checks run back to back (bench/soak/soak_checks: the main
#     window's real check cycle, real transport, offscreen).
#
#   scripts/measure-resources.sh [RUNS=7] [SOAK=10000]
set -euo pipefail
cd "$(dirname "$0")/.."
src=$PWD
runs=${1:-7}
soak=${2:-10000}
build=${KORIMO_BUILD_DIR:-build}

if [ ! -f "$build/CMakeCache.txt" ]; then
    cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
fi
cmake --build "$build" --target korimo soak_checks bare_tray >/dev/null

work=$(mktemp -d "${TMPDIR:-/tmp}/korimo-measure.XXXXXX")
chmod 755 "$work"
pids=()
cleanup() {
    for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
    scripts/mailservers.sh stop "$work/demo/servers" >/dev/null 2>&1 || true
    rm -rf "$work"
}
trap cleanup EXIT
trap 'exit 130' INT TERM

now_ms() { date +%s%3N; }
wait_until() { # SECONDS COMMAND...
    local end=$((SECONDS + $1))
    shift
    until "$@" >/dev/null 2>&1; do
        ((SECONDS < end)) || return 1
        sleep 0.002
    done
}

bash scripts/demo-setup.sh "$work/demo" "$build/korimo" --owner-pid $$ --period 2 --last-count 4 >/dev/null
# shellcheck disable=SC1091
. "$work/demo/demo.env"

Xvfb -displayfd 5 -screen 0 1024x768x24 -nolisten tcp 5>"$work/display" >/dev/null 2>&1 &
pids+=($!)
wait_until 10 grep -q '[0-9]' "$work/display"
export DISPLAY=:$(tr -dc '0-9' <"$work/display")
unset WAYLAND_DISPLAY QT_QPA_PLATFORM
trayer --edge top --align right --widthtype pixel --width 100 --height 24 >/dev/null 2>&1 &
pids+=($!)
wait_until 10 xdotool search --class trayer

tray_icon_shown() { # [PROGRAM_NAME]
    local panel id name=${1:-korimo}
    panel=$(xdotool search --name '^panel$' | head -n1)
    id=$(xwininfo -tree -id "$panel" | awk -v n="\"$name\": (\"$name\"" 'index($0, n) {print $1; exit}')
    [ -n "$id" ] && xwininfo -id "$id" | grep -q IsViewable
}
stop_korimo() {
    kill "$1" 2>/dev/null || true
    wait "$1" 2>/dev/null || true
}

# --- start-up time to tray, Korimo and the bare program in alternation ---
times=() bare_times=()
for ((i = 0; i < runs; i++)); do
    t0=$(now_ms)
    "$PROGRAM_DIR/korimo" >/dev/null 2>&1 &
    pid=$!
    wait_until 10 tray_icon_shown || { echo "no tray icon" >&2; exit 1; }
    t1=$(now_ms)
    times+=($((t1 - t0)))
    stop_korimo "$pid"
    t0=$(now_ms)
    "$build/bench/tray/bare_tray" "$PROGRAM_DIR/DATA/iconKorimo.ico" >/dev/null 2>&1 &
    pid=$!
    wait_until 10 tray_icon_shown bare_tray || { echo "no tray icon of bare_tray" >&2; exit 1; }
    t1=$(now_ms)
    bare_times+=($((t1 - t0)))
    stop_korimo "$pid"
done
median_of() { printf '%s\n' "$@" | sort -n | sed -n "$((($# + 1) / 2))p"; }
median=$(median_of "${times[@]}")
bare_median=$(median_of "${bare_times[@]}")

# --- idle memory and wakeups ---
"$PROGRAM_DIR/korimo" >/dev/null 2>&1 &
pid=$!
pids+=($pid)
wait_until 10 tray_icon_shown
logins=$(grep -c 'Logged out' "$SERVERS_DIR/dovecot.log")
sleep 10
rss_idle=$(awk '/VmRSS/ {print $2}' "/proc/$pid/status")
hwm=$(awk '/VmHWM/ {print $2}' "/proc/$pid/status")
threads=$(ls "/proc/$pid/task" | wc -l)
switches() {
    cat /proc/"$pid"/task/*/status 2>/dev/null |
        awk '/^voluntary_ctxt_switches|^nonvoluntary_ctxt_switches/ {s += $2} END {print s}'
}
s0=$(switches)
sleep 30
s1=$(switches)
wakeups=$(awk -v a="$s0" -v b="$s1" 'BEGIN {printf "%.1f", (b - a) / 30}')
rss_idle_40=$(awk '/VmRSS/ {print $2}' "/proc/$pid/status")
stop_korimo "$pid"

# --- the bare Qt tray program, same display, same wait ---
"$build/bench/tray/bare_tray" "$PROGRAM_DIR/DATA/iconKorimo.ico" >/dev/null 2>&1 &
bare=$!
pids+=("$bare")
wait_until 10 tray_icon_shown bare_tray || { echo "no tray icon of bare_tray" >&2; exit 1; }
sleep 10
rss_bare=$(awk '/VmRSS/ {print $2}' "/proc/$bare/status")
stop_korimo "$bare"

# --- soak ---
soak_log=$work/soak.log
t0=$(now_ms)
QT_QPA_PLATFORM=offscreen "$build/bench/soak/soak_checks" "$PROGRAM_DIR" "$soak" 1000 >"$soak_log"
t1=$(now_ms)
tail -n1 "$soak_log" | grep -q first_kib || { cat "$soak_log" >&2; exit 1; }
read -r _ soak_first _ soak_last _ soak_max < <(tail -n1 "$soak_log")
logins_after=$(grep -c 'Logged out' "$SERVERS_DIR/dovecot.log")

mib() { awk -v k="$1" 'BEGIN {printf "%.1f MiB", k / 1024}'; }
cat <<TEXT
| Figure | Value | Target |
|---|---|---|
| Start-up to tray icon, median of $runs | $median ms (runs: ${times[*]}) | ≤ 150 ms |
| Bare Qt Widgets tray program, start-up to tray icon, median of $runs (alternating with Korimo's) | $bare_median ms (runs: ${bare_times[*]}) | |
| Resident memory, idle 10 s after start | $(mib "$rss_idle") (peak VmHWM $(mib "$hwm"); $threads threads) | |
| Resident memory, idle 40 s after start | $(mib "$rss_idle_40") | |
| Bare Qt Widgets tray program (tray icon and one window), 10 s after start | $(mib "$rss_bare"); Korimo ÷ bare: $(awk -v k="$rss_idle" -v b="$rss_bare" 'BEGIN {printf "%.2f×", k / b}') | Korimo ≤ 1.1× |
| Wakeups per second while idle (30 s) | $wakeups | |
| Soak: $soak checks back to back | RSS after check 1: $(mib "$soak_first"), after check $soak: $(mib "$soak_last"), max $(mib "$soak_max"); $(((t1 - t0) / soak)) ms a check | no growth |

Soak samples (checks, VmRSS KiB, status line):
$(grep -v first_kib "$soak_log")
Server sessions during the soak: $((logins_after - logins))
TEXT
