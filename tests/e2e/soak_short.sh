#!/usr/bin/env bash
# A short soak for CI: the main window's real check (each in a helper process) run 600 times back to
# back against the demo's Dovecot on loopback (bench/soak/soak_checks). Every sampled check must have
# counted the four messages, and resident memory must not grow between check 200 and check 600 by
# more than 256 KiB (a leak of half a kilobyte a check would show). The full 10,000-check soak is in
# scripts/measure-resources.sh. Under AddressSanitizer (SANITIZED=1) freed memory is held in
# quarantine, so only the counting is checked there, over 200 checks (a sanitized helper starts slowly).
#
#   soak_short.sh SOURCE_DIR BUILT_PROGRAM_FOLDER SOAK_CHECKS_EXECUTABLE [SANITIZED]
set -uo pipefail
src=$1 built=$2 soak=$3 sanitized=${4:-0}
[ -x "$soak" ] || { echo "soak: no $soak (build soak_checks)" >&2; exit 1; }
command -v dovecot >/dev/null || [ -x /usr/sbin/dovecot ] || { echo "FAIL: dovecot is missing (bash .ci/install-deps)" >&2; exit 1; }
work=$(mktemp -d "${TMPDIR:-/tmp}/korimo-soak.XXXXXX")
trap '"$src/scripts/mailservers.sh" stop "$work/servers" >/dev/null 2>&1; rm -rf "$work"' EXIT
bash "$src/scripts/demo-setup.sh" "$work" "$built" --owner-pid $$ --period 2 --last-count 4 >"$work/setup.log" 2>&1 || {
    cat "$work/setup.log" >&2
    exit 1
}
. "$work/demo.env"
checks=$((sanitized == 1 ? 200 : 600))
QT_QPA_PLATFORM=offscreen timeout 300 "$soak" "$PROGRAM_DIR" "$checks" 100 >"$work/soak.log" 2>"$work/soak.err" || {
    cat "$work/soak.log" "$work/soak.err" >&2
    exit 1
}
cat "$work/soak.log"
awk -v sanitized="$sanitized" -v checks="$checks" '
    $1 ~ /^[0-9]+$/ {
        if ($3 != "4通メールがあります") { print "check " $1 " did not count four messages: " $3; bad = 1 }
        if ($1 == 200) base = $2
        if ($1 == checks) last = $2
    }
    END {
        if (base == "" || last == "") { print "missing samples"; exit 1 }
        if (sanitized == 1) exit bad
        if (last - base > 256) { print "resident memory grew by " last - base " KiB from check 200 to " checks; exit 1 }
        exit bad
    }' "$work/soak.log"
