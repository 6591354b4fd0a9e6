#!/usr/bin/env bash
# Prepares Korimo's demo in RUNDIR: private mail servers on loopback with the sample messages of
# data/demo delivered to user1, and a demo program folder RUNDIR/korimo (a copy of the built
# program and DATA, with an iniKR.ini that points at those servers). The user's own program
# folder and settings are never touched.
#
#   demo-setup.sh RUNDIR BUILT_PROGRAM_FOLDER [--owner-pid PID] [--no-samples] [--period MINUTES]
#                 [--show-seconds N] [--last-count N]
#
# RUNDIR/demo.env receives PROGRAM_DIR and the servers' facts (see scripts/mailservers.sh).
# Stop with: scripts/mailservers.sh stop RUNDIR/servers
set -euo pipefail
# An ordinary user's PATH on Debian lacks the sbin folders, where dovecot and postfix live.
export PATH=$PATH:/usr/sbin:/sbin
here=$(cd "$(dirname "$0")/.." && pwd -P)
servers_script=$here/scripts/mailservers.sh

[ $# -ge 2 ] || {
    echo "usage: $0 RUNDIR BUILT_PROGRAM_FOLDER [--owner-pid PID] [--no-samples] [--period MINUTES]" >&2
    exit 2
}
rundir=$1 built=$2
shift 2
owner=() samples=1 period=1 show=3 last=0
while [ $# -gt 0 ]; do
    case $1 in
    --owner-pid) owner=(--owner-pid "$2"); shift ;;
    --no-samples) samples=0 ;;
    --period) period=$2; shift ;;
    --show-seconds) show=$2; shift ;;
    --last-count) last=$2; shift ;;
    *) echo "demo-setup: unknown option $1" >&2; exit 2 ;;
    esac
    shift
done
[ -x "$built/korimo" ] || { echo "demo-setup: no built program in $built" >&2; exit 1; }

mkdir -p "$rundir"
# Postfix's and Dovecot's own users must reach the servers' folder inside; the program folder
# itself is the user's alone.
chmod 755 "$rundir"
rundir=$(cd "$rundir" && pwd -P)
"$servers_script" start "$rundir/servers" "${owner[@]}" >"$rundir/servers.log" 2>&1 || {
    cat "$rundir/servers.log" >&2
    exit 1
}
# shellcheck disable=SC1091
. "$rundir/servers/env"

# The demo logs in with plaintext on loopback (pop3:// and smtp:// in its settings). Korimo still
# takes STLS/STARTTLS when a server offers it, and verifies the certificate against the system's
# store, which does not know the servers' throw-away CA; so the demo's servers stop offering TLS on
# their plain ports. (The implicit-TLS ports are of no use to the demo.)
pop3_offers_stls() {
    python3 - "$POP3_PORT" <<'PY'
import socket, sys
s = socket.create_connection(("127.0.0.1", int(sys.argv[1])), timeout=3)
f = s.makefile("rb")
f.readline()
s.sendall(b"CAPA\r\n")
caps = []
while True:
    line = f.readline()
    if not line or line.strip() == b".":
        break
    caps.append(line.strip())
s.sendall(b"QUIT\r\n")
sys.exit(0 if b"STLS" in caps else 1)
PY
}
sed -i 's/^ssl = yes$/ssl = no/' "$rundir/servers/dovecot/dovecot.conf"
kill -HUP "$DOVECOT_PID"
for _ in $(seq 100); do
    pop3_offers_stls || break
    sleep 0.05
done
pop3_offers_stls && { echo "demo-setup: Dovecot still offers STLS" >&2; exit 1; }
if [ "$SMTP" = 1 ]; then
    sed -i "s/^\(127\.0\.0\.1:$SMTP_PORT inet .* smtpd\)\$/\1 -o smtpd_tls_security_level=none/" \
        "$rundir/servers/postfix/master.cf"
    postfix -c "$rundir/servers/postfix" reload >>"$rundir/servers.log" 2>&1 || {
        echo "demo-setup: Postfix did not reload" >&2
        exit 1
    }
fi

if [ "$samples" = 1 ]; then
    for f in "$here"/data/demo/*.eml; do
        "$servers_script" deliver "$rundir/servers" user1 "$f" >/dev/null
    done
fi

# The program finds its folder from its executable's real path: a copy, not a link.
program=$rundir/korimo
rm -rf "$program"
mkdir -p "$program/DATA"
chmod 700 "$program"
cp "$built/korimo" "$built/korimo-mail-helper" "$built/korimo-message-helper" "$program/" # with its mail helpers
[ -f "$built/libkorimo-sound.so" ] && cp "$built/libkorimo-sound.so" "$program/" # the WAV player module
cp "$built"/DATA/*.ico "$program/DATA/"

smtp=""
[ "$SMTP" = 1 ] && smtp="smtp://127.0.0.1:$SMTP_PORT"
# The settings file is CP932 with CR LF line ends, mode 0600 (it holds a password).
{
    cat <<INI
[Main]
text1=$period
[Past]
smtp-0=pop3://127.0.0.1:$POP3_PORT
acou-0=user1
pass-0=pass1
smtp=$smtp
useradd=user1@korimo.test
text11=デモ 太郎
text3=$show
add-0=user1@korimo.test
nam-0=デモ 太郎（自分）
add-1=user2@korimo.test
nam-1=デモ 花子
ken-0=こんにちは
ken-1=会議の資料について ①
ken-2=Korimo demo
mnum=$last
INI
} | sed 's/$/\r/' | iconv -f UTF-8 -t CP932 >"$program/iniKR.ini"
chmod 600 "$program/iniKR.ini"

cat >"$rundir/demo.env" <<ENV
PROGRAM_DIR=$program
SERVERS_DIR=$rundir/servers
$(cat "$rundir/servers/env")
ENV
