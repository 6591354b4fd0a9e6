# Sourced by the journey scripts.
# wait_for SECONDS COMMAND...: polls every 0.1 s until COMMAND succeeds; 1 when SECONDS pass first.
wait_for() {
    local deadline=$(($(date +%s%N) + $1 * 1000000000))
    shift
    until "$@"; do
        [ "$(date +%s%N)" -lt "$deadline" ] || return 1
        sleep 0.1
    done
}
now_ms() { echo $(($(date +%s%N) / 1000000)); }
# start_tray_host LOG TRAYER-OPTIONS...: starts trayer on $DISPLAY and waits until its panel exists, at
# most 10 s a try and three tries (a tray host that never shows its panel is restarted, not waited for);
# sets TRAY_HOST_PID. 1 when it never came up; LOG says what each try saw.
start_tray_host() {
    local log=$1 try deadline
    shift
    for try in 1 2 3; do
        trayer "$@" >>"$log" 2>&1 &
        TRAY_HOST_PID=$!
        deadline=$(($(date +%s) + 10))
        while [ "$(date +%s)" -lt "$deadline" ]; do
            xdotool search --class trayer >/dev/null 2>&1 && return 0
            kill -0 "$TRAY_HOST_PID" 2>/dev/null || break
            sleep 0.1
        done
        if kill -0 "$TRAY_HOST_PID" 2>/dev/null; then
            echo "try $try: no panel after 10 s" >>"$log"
        else
            echo "try $try: trayer exited" >>"$log"
        fi
        kill "$TRAY_HOST_PID" 2>/dev/null
        wait "$TRAY_HOST_PID" 2>/dev/null
    done
    return 1
}
