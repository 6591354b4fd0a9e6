#!/bin/bash
# The real main window on a real X display with a tray host, against the private Dovecot:
#   tray_desktop.sh KORIMO-DESKTOP MAILSERVERS.SH DATA-FOLDER SHOTS-FOLDER
# In tray mode the receive, send and settings windows open and close in turn while Korimo keeps running
# and still announces new mail; SIGTERM saves the count and keys and ends within 2 s with status 0; the
# tray icon's right button (with and without another window open) ends at once, status 0, nothing saved.
# (The announcement itself is walked by e2e_demo.) Every wait is bounded; everything started is stopped by PID.
set -u
# Time limits are multiplied by KORIMO_TIME_SCALE (the sanitizer build runs several times slower).
SCALE=${KORIMO_TIME_SCALE:-1}
PROBE=$1 SERVERS=$2 DATA=$3 SHOTS=$4
# shellcheck source=../common/journey.sh
. "$(dirname "$0")/../common/journey.sh"
need Xvfb trayer xdotool xwininfo xprop import

TMP=$(mktemp -d)
chmod 755 "$TMP" # the mail server reads its users file below it as another user
PIDS=()
cleanup() {
    stop_pids
    "$SERVERS" stop "$TMP/srv" >/dev/null 2>&1
    [ -n "${KORIMO_KEEP_TMP:-}" ] && echo "kept $TMP" || rm -rf "$TMP"
}
trap cleanup EXIT

fail() {
    echo "FAIL: $*"
    [ -n "${DISPLAY:-}" ] && import -window root "$SHOTS/failure.png" 2>/dev/null
    echo "--- windows"; xwininfo -root -tree 2>/dev/null | grep -iE "korimo|panel|こりも"
    echo "--- korimo output"; cat "$TMP/korimo.log" 2>/dev/null
    echo "--- dovecot log"; tail -20 "$TMP/srv/dovecot.log" 2>/dev/null
    exit 1
}
main_window() { visible_window '^こりも$'; }
main_window_shown() { main_window >/dev/null; }
main_window_hidden() { ! main_window_shown; }
tray_icon_present() { tray_icon korimo-desktop >/dev/null; }
tray_icon_absent() { ! tray_icon_present; }
window_shown() { visible_window "^$1\$" >/dev/null; }
window_gone() { ! window_shown "$1"; }
ini() { ini_value "$TMP/prog/iniKR.ini" "$@"; }
mkdir -p "$SHOTS"

start_display "$TMP" tray || fail "Xvfb or trayer did not start"

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

start_korimo() {
    "$PROBE" "$TMP/prog" "$CA_FILE" >>"$TMP/korimo.log" 2>&1 &
    KORIMO=$!
    PIDS+=($KORIMO)
}
alive() { kill -0 "$KORIMO" 2>/dev/null; }
gone() { ! alive; }
start_korimo

# Tray mode: the icon is in the tray, the window hidden.
wait_for 15 tray_icon_present || fail "no tray icon"
main_window_hidden || fail "the window is shown in tray mode"

click_tray 1 korimo-desktop || fail "no tray icon to click"
wait_for 10 main_window_shown || fail "a left click did not restore the window"
wait_for 10 tray_icon_absent || fail "the tray icon stayed after the left click"

# The send and settings windows end with the last button of their bottom row.
click_bottom_right() {
    eval "$(xdotool getwindowgeometry --shell "$1")"
    xdotool mousemove --window "$1" $((WIDTH - 20)) $((HEIGHT - 18)) click 1
}
# to_tray: チェック開始 on the main window. A click that lands while a check runs (its controls are
# disabled then) is lost, so it is repeated, as a user would, a bounded number of times.
to_tray() {
    local i
    for i in 1 2 3 4 5; do
        click_twips "$(main_window)" 5040 120 855 735
        wait_for 2 tray_icon_present && return 0
    done
    return 1
}
# (a) In tray mode the other windows open and close without ending the program.
for step in "受信 4320 receive" "送信 3600 send" "設定 0 settings"; do
    set -- $step
    title=$1 left=$2 name=$3
    main_window_shown || fail "the main window is not shown before opening $name"
    if [ "$name" = settings ]; then
        click_twips "$(main_window)" 120 600 735 255
    else
        click_twips "$(main_window)" "$left" 120 615 735
    fi
    wait_for 10 window_shown "$title" || fail "the $name window did not open"
    other=$(visible_window "^$title\$")
    xdotool windowmove "$other" 0 260 # aside, as a user would, so that the main window shows
    # The main window stays reachable beside it: チェック開始 sends it to the tray.
    wait_for 5 main_window_shown || fail "the main window is not shown beside the $name window"
    to_tray || fail "no tray icon after チェック開始 beside the $name window"
    wait_for 5 main_window_hidden || fail "the main window stayed after チェック開始"
    import -window root "$SHOTS/tray-with-$name.png"
    if [ "$name" = receive ]; then
        click_twips "$other" 2520 120 735 375 # 終了
    else
        click_bottom_right "$other"
    fi
    wait_for 10 window_gone "$title" || fail "the $name window did not close"
    stays_for 1 alive || fail "Korimo ended when the $name window closed (tray mode)"
    tray_icon_present || fail "the tray icon went with the $name window"
    click_tray 1 korimo-desktop || fail "no tray icon to click"
    wait_for 10 main_window_shown || fail "a left click did not restore the window after the $name window"
done
to_tray || fail "no tray icon after the three windows"
printf 'From: Hanako <hanako@korimo.test>\r\nTo: user1@korimo.test\r\nSubject: second\r\nDate: Sun, 06 Dec 2026 22:00:00 +0000\r\n\r\nhello\r\n' >"$TMP/m2.eml"
"$SERVERS" deliver "$TMP/srv" user1 "$TMP/m2.eml" >/dev/null || fail "delivery failed"
wait_for 15 main_window_shown || fail "new mail was not announced after the other windows closed"
wait_for 10 main_window_hidden || fail "the second announcement did not end"
wait_for 10 tray_icon_present || fail "the tray icon did not come back after the second announcement"

# (b) SIGTERM in the tray: the ordinary end, within two seconds, status 0, keys saved.
[ -z "$(ini Main left)" ] || fail "the main window's keys were saved before the end"
kill -TERM "$KORIMO"
sent_at=$(now_ms)
wait_for 3 gone || fail "SIGTERM did not end Korimo"
wait "$KORIMO"
status=$?
ended_ms=$(($(now_ms) - sent_at))
echo "SIGTERM: ended after ${ended_ms} ms with status $status"
[ "$status" -eq 0 ] || fail "SIGTERM ended Korimo with status $status"
[ "$ended_ms" -le $((2000 * SCALE)) ] || fail "SIGTERM took ${ended_ms} ms"
[ "$(ini Past mnum)" = 1 ] || fail "mnum is '$(ini Past mnum)' after SIGTERM, not 1"
[ -n "$(ini Main left)" ] && [ -n "$(ini Main top)" ] || fail "left/top not saved at SIGTERM"
[ "$(ini Main text1)" = 0 ] || fail "text1 not saved at SIGTERM"

# (0) The tray icon's right button ends at once, nothing saved, status 0: with another window open,
# and straight after start.
right_button_ends() {
    local before status clicked_at
    before=$(md5sum <"$TMP/prog/iniKR.ini")
    click_tray 3 korimo-desktop || fail "no tray icon to click ($1)"
    clicked_at=$(now_ms)
    wait_for "$SCALE" gone || fail "the right button did not end Korimo within $SCALE s ($1)"
    wait "$KORIMO"
    status=$?
    echo "right button ($1): ended after $(($(now_ms) - clicked_at)) ms with status $status"
    [ "$status" -eq 0 ] || fail "the right button ended Korimo with status $status ($1)"
    [ "$(md5sum <"$TMP/prog/iniKR.ini")" = "$before" ] || fail "the right button saved settings ($1)"
    wait_for 5 tray_icon_absent || fail "the tray icon stayed ($1)"
}
start_korimo
wait_for 15 tray_icon_present || fail "no tray icon at the second start"
click_tray 1 korimo-desktop || fail "no tray icon to click"
wait_for 10 main_window_shown || fail "a left click did not restore the window at the second start"
click_twips "$(main_window)" 4320 120 615 735
wait_for 10 window_shown 受信 || fail "the receive window did not open at the second start"
wait_for 5 main_window_shown || fail "the main window is not shown beside the receive window"
to_tray || fail "no tray icon beside the receive window"
right_button_ends "receive window open"
# Straight after start the first check runs, and input waits until a mail call ends (as after any
# blocking call): the click is taken once the check's session has ended, so wait for that first.
pop3_sessions_ended() { grep -c 'pop3(.*Disconnected' "$TMP/srv/dovecot.log" 2>/dev/null; }
sessions_before=$(pop3_sessions_ended)
first_check_done() { [ "$(pop3_sessions_ended)" -gt "$sessions_before" ]; }
start_korimo
wait_for 15 tray_icon_present || fail "no tray icon at the third start"
wait_for 15 first_check_done || fail "the first check at the third start did not end"
right_button_ends "straight after start"
echo "PASS"
