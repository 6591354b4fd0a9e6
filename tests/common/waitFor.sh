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
