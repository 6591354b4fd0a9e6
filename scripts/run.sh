#!/usr/bin/env bash
# Installs what is missing, builds Korimo and starts it watching a demo mailbox of its own: private
# mail servers on loopback (Dovecot POP3, and Postfix SMTP when run as root) with a few sample
# messages, and a demo program folder with its own iniKR.ini. Your own settings are never touched.
# Everything stops when Korimo ends (right-click on its tray icon, or close its main window).
set -euo pipefail
cd "$(dirname "$0")/.."
bash .ci/install-deps
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build --parallel "$(nproc)" --target korimo

# Postfix's own users must reach the run folder: as root it lives under /tmp.
base=${XDG_RUNTIME_DIR:-/tmp}
[ "$(id -u)" = 0 ] && base=/tmp
rundir=$base/korimo-demo-$(id -u)
mkdir -p "$rundir"
exec 9>"$rundir.lock"
flock -n 9 || {
    echo "The demo already runs (from $rundir)." >&2
    exit 1
}
scripts/mailservers.sh stop "$rundir/servers" >/dev/null 2>&1 || true
rm -rf "$rundir"

korimo_pid=""
stop_demo() {
    [ -n "$korimo_pid" ] && kill "$korimo_pid" 2>/dev/null
    scripts/mailservers.sh stop "$rundir/servers" >/dev/null 2>&1
    rm -rf "$rundir"
}
trap stop_demo EXIT
trap 'exit 130' INT TERM HUP

bash scripts/demo-setup.sh "$rundir" build/korimo --owner-pid $$
# shellcheck disable=SC1091
. "$rundir/demo.env"

cat <<TEXT

Korimo demo
  program folder  $PROGRAM_DIR  (its own iniKR.ini; yours is not touched)
  POP3 mailbox 1  pop3://127.0.0.1:$POP3_PORT  user1 / pass1, four sample messages, checked every minute
TEXT
if [ "$SMTP" = 1 ]; then
    cat <<TEXT
  SMTP            smtp://127.0.0.1:$SMTP_PORT  (送信 → pick "デモ 太郎（自分）": the message arrives in mailbox 1)
TEXT
else
    cat <<TEXT
  SMTP            not available: the demo's Postfix needs root (run this script as root to send)
TEXT
fi
cat <<TEXT
  Drop more mail in: scripts/mailservers.sh deliver $SERVERS_DIR user1 FILE.eml
  Korimo sits in the tray. Left-click its icon for the main window; right-click it to quit the demo.

TEXT
"$PROGRAM_DIR/korimo" &
korimo_pid=$!
wait "$korimo_pid" || true
korimo_pid=""
