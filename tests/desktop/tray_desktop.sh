#!/bin/bash
# The real main window on a real X display with a tray host, against the private Dovecot:
#   tray_desktop.sh KORIMO-DESKTOP MAILSERVERS.SH DATA-FOLDER SHOTS-FOLDER
# Korimo starts in tray mode (a mailbox is configured and the stored count matches), a message is
# delivered, the window appears with the notification icon and hides again after ShowSeconds + 1
# seconds, the tray icon is back (with the notification picture), and a left click on it restores
# the window with its default icon. Every wait is bounded; everything started is stopped by PID.
# Exit 77 (skipped) when Xvfb, trayer or xdotool is missing.
set -u
PROBE=$1 SERVERS=$2 DATA=$3 SHOTS=$4
for tool in Xvfb trayer xdotool xwininfo xprop import; do
    command -v "$tool" >/dev/null || { echo "skip: $tool is missing"; exit 77; }
done

TMP=$(mktemp -d)
chmod 755 "$TMP" # the mail server reads its users file below it as another user
PIDS=()
cleanup() {
    for pid in "${PIDS[@]}"; do kill "$pid" 2>/dev/null; done
    for pid in "${PIDS[@]}"; do wait "$pid" 2>/dev/null; done
    "$SERVERS" stop "$TMP/srv" >/dev/null 2>&1
    [ -n "${KORIMO_KEEP_TMP:-}" ] && echo "kept $TMP" || rm -rf "$TMP"
}
trap cleanup EXIT

fail() {
    echo "FAIL: $*"
    [ -n "${DISPLAY:-}" ] && import -window root "$SHOTS/failure.png" 2>/dev/null
    echo "--- windows"; xwininfo -root -tree 2>/dev/null | grep -iE "korimo|panel|こりも"
    echo "--- korimo output"; cat "$TMP/korimo.log" 2>/dev/null
    echo "--- dovecot log"; cat "$TMP"/srv/dovecot/*.log 2>/dev/null | tail -20
    exit 1
}
# wait_for SECONDS COMMAND...: polls every 0.1 s until COMMAND succeeds.
wait_for() {
    local deadline=$(($(date +%s%N) + $1 * 1000000000))
    shift
    until "$@"; do
        [ "$(date +%s%N)" -lt "$deadline" ] || return 1
        sleep 0.1
    done
}
now_ms() { echo $(($(date +%s%N) / 1000000)); }
main_window_shown() { xdotool search --onlyvisible --name '^こりも$' >/dev/null 2>&1; }
main_window_hidden() { ! main_window_shown; }
# The tray icon: a viewable window of the program embedded in trayer's panel.
tray_icon() {
    local w
    for w in $(xdotool search --class korimo-desktop 2>/dev/null); do
        xwininfo -id "$w" 2>/dev/null | grep -q 'Map State: IsViewable' || continue
        [ "$(xdotool getwindowname "$w" 2>/dev/null)" = "こりも" ] && continue
        echo "$w"
        return 0
    done
    return 1
}
tray_icon_present() { tray_icon >/dev/null; }
tray_icon_absent() { ! tray_icon_present; }
icon_hash() { xprop -id "$(xdotool search --onlyvisible --name '^こりも$' | head -n1)" _NET_WM_ICON | md5sum; }

mkdir -p "$SHOTS"

# The display and the tray host.
Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp 3>"$TMP/display" 2>/dev/null &
PIDS+=($!)
wait_for 10 test -s "$TMP/display" || fail "Xvfb did not start"
export DISPLAY=:$(cat "$TMP/display")
trayer --edge top --align right --widthtype pixel --width 200 --heighttype pixel --height 32 >/dev/null 2>&1 &
PIDS+=($!)
wait_for 10 xdotool search --class trayer || fail "trayer did not start"

# The mail server, with the stored count matching the empty mailbox.
"$SERVERS" start "$TMP/srv" --no-smtp --owner-pid $$ >"$TMP/servers.log" 2>&1 || {
    cat "$TMP/servers.log"
    fail "the mail servers did not start"
}
. "$TMP/srv/env"
mkdir -p "$TMP/prog/DATA"
cp "$DATA/iconKorimo.ico" "$DATA/Icon.ico" "$TMP/prog/DATA/"
printf '[Main]\r\ntext1=0\r\n[Past]\r\nsmtp-0=127.0.0.1:%s\r\nacou-0=user1\r\npass-0=pass1\r\ntext3=2\r\nmnum=0\r\n' \
    "$POP3_PORT" >"$TMP/prog/iniKR.ini"

"$PROBE" "$TMP/prog" "$CA_FILE" >"$TMP/korimo.log" 2>&1 &
PIDS+=($!)

# Tray mode: the icon is in the tray, the window hidden.
wait_for 15 tray_icon_present || fail "no tray icon"
main_window_hidden || fail "the window is shown in tray mode"

# New mail: the window appears with the notification icon, then hides after 2 + 1 ticks.
printf 'From: Taro <taro@korimo.test>\r\nTo: user1@korimo.test\r\nSubject: Fw: From the Osaka office\r\nDate: Sun, 06 Dec 2026 21:00:00 +0000\r\n\r\nhello\r\n' >"$TMP/m1.eml"
"$SERVERS" deliver "$TMP/srv" user1 "$TMP/m1.eml" >/dev/null || fail "delivery failed"
wait_for 15 main_window_shown || fail "the new mail was not announced"
shown_at=$(now_ms)
tray_icon_absent || fail "the tray icon stays during the announcement"
notice_hash=$(icon_hash)
import -window root "$SHOTS/announcement.png"
wait_for 10 main_window_hidden || fail "the announcement did not end"
shown_ms=$(($(now_ms) - shown_at))
echo "announcement on screen for ${shown_ms} ms (ShowSeconds 2: three ticks)"
[ "$shown_ms" -ge 1500 ] && [ "$shown_ms" -le 6000 ] || fail "announcement lasted ${shown_ms} ms"
wait_for 10 tray_icon_present || fail "the tray icon did not come back"
import -window root "$SHOTS/tray.png"

# Left click on the icon: the window comes back with its default icon, the icon leaves the tray.
icon=$(tray_icon)
eval "$(xdotool getwindowgeometry --shell "$icon")"
xdotool mousemove $((X + WIDTH / 2)) $((Y + HEIGHT / 2)) click 1
wait_for 10 main_window_shown || fail "a left click did not restore the window"
wait_for 10 tray_icon_absent || fail "the tray icon stayed after the left click"
sleep 0.3 # let the window's icon property settle before reading it
[ "$(icon_hash)" != "$notice_hash" ] || fail "the restored window still shows the notification icon"
import -window root "$SHOTS/restored.png"
echo "PASS"
