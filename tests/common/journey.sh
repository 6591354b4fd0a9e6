# Sourced by the journey scripts: bounded waits, a private X display with a tray host, the tray icon,
# clicks on controls placed in twips, and the settings file. Every wait polls a condition with a deadline.

# need TOOL...: a missing tool fails the run (bash .ci/install-deps installs them all).
need() {
    local tool
    for tool in "$@"; do
        command -v "$tool" >/dev/null || { echo "FAIL: $tool is missing (bash .ci/install-deps)"; exit 1; }
    done
}

# wait_for SECONDS COMMAND...: polls every 0.1 s until COMMAND succeeds; 1 when SECONDS pass first.
wait_for() {
    local deadline=$(($(date +%s%N) + $1 * 1000000000))
    shift
    until "$@" >/dev/null 2>&1; do
        [ "$(date +%s%N)" -lt "$deadline" ] || return 1
        sleep 0.1
    done
}
# stays_for SECONDS COMMAND...: COMMAND holds at every poll for the whole time.
stays_for() {
    local deadline=$(($(date +%s%N) + $1 * 1000000000))
    shift
    while [ "$(date +%s%N)" -lt "$deadline" ]; do
        "$@" >/dev/null 2>&1 || return 1
        sleep 0.1
    done
}
now_ms() { echo $(($(date +%s%N) / 1000000)); }

# start_display DIR [tray]: a private X display, exported as DISPLAY, with trayer as tray host when
# asked. Their PIDs join PIDS, for stop_pids. A trayer that shows no panel within 10 s (or exits) is
# restarted, three tries in all; DIR/trayer.log says what each try saw.
start_display() {
    Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp 3>"$1/display" 2>/dev/null &
    PIDS+=($!)
    wait_for 30 test -s "$1/display" || return 1
    export DISPLAY=:$(tr -dc '0-9' <"$1/display")
    unset WAYLAND_DISPLAY QT_QPA_PLATFORM
    [ "${2:-}" = tray ] || return 0
    local try pid
    for try in 1 2 3; do
        trayer --edge top --align right --widthtype pixel --width 200 --heighttype pixel --height 32 \
            --transparent false >>"$1/trayer.log" 2>&1 &
        pid=$!
        wait_for 10 panel_or_gone "$pid" && kill -0 "$pid" 2>/dev/null && { PIDS+=("$pid"); return 0; }
        echo "try $try: $(kill -0 "$pid" 2>/dev/null && echo 'no panel after 10 s' || echo 'trayer exited')" >>"$1/trayer.log"
        kill "$pid" 2>/dev/null
        wait "$pid" 2>/dev/null
    done
    cat "$1/trayer.log"
    return 1
}
panel_or_gone() { xdotool search --class trayer >/dev/null 2>&1 || ! kill -0 "$1" 2>/dev/null; }
# stop_pids: TERM to every PID in PIDS, then up to 2.5 s for each to end before KILL.
stop_pids() {
    local pid
    for pid in "${PIDS[@]}"; do kill "$pid" 2>/dev/null; done
    for pid in "${PIDS[@]}"; do
        wait_for 3 bash -c "! kill -0 $pid 2>/dev/null" || kill -KILL "$pid" 2>/dev/null
        wait "$pid" 2>/dev/null
    done
}

# tray_icon CLASS: the id of the program's viewable icon window in trayer's panel.
tray_icon() {
    local panel w
    panel=$(xdotool search --name '^panel$' 2>/dev/null | head -n1)
    [ -n "$panel" ] || return 1
    for w in $(xwininfo -tree -id "$panel" 2>/dev/null | awk -v c="\"$1\")" 'index($0, c) {print $1}'); do
        xwininfo -id "$w" 2>/dev/null | grep -q 'Map State: IsViewable' && echo "$w" && return 0
    done
    return 1
}
# click_tray BUTTON CLASS: a click in the middle of the tray icon.
click_tray() {
    local icon X Y WIDTH HEIGHT SCREEN WINDOW
    icon=$(tray_icon "$2") || return 1
    eval "$(xdotool getwindowgeometry --shell "$icon")"
    xdotool mousemove $((X + WIDTH / 2)) $((Y + HEIGHT / 2)) click "$1"
}
# visible_window TITLE-REGEX: the id of the first visible window with that title.
visible_window() { xdotool search --onlyvisible --name "$1" 2>/dev/null | head -n1 | grep .; }
# click_twips WINDOW LEFT TOP WIDTH HEIGHT [REPEAT]: left click(s) in the middle of a control placed in
# twips (15 per pixel at 96 DPI).
click_twips() {
    xdotool mousemove --window "$1" $((($2 + $4 / 2) / 15)) $((($3 + $5 / 2) / 15)) click --repeat "${6:-1}" --delay 80 1
}
# icon_hash WINDOW: the window's icon as the window manager reads it.
icon_hash() { xprop -id "$1" _NET_WM_ICON | md5sum; }
# ini_value FILE SECTION KEY
ini_value() { tr -d '\r' <"$1" | awk -F= -v s="[$2]" -v k="$3" '/^\[/ {in_s = ($0 == s)} in_s && $1 == k {print $2}'; }
