#!/bin/bash
# The POP3 check benchmark: 5 mailboxes on a private loopback Dovecot, filled with SIZES messages each,
# reached through our delaying proxy at each of RTTS milliseconds of round trip; for each combination
# the first check, the steady-state check and the re-scanning baseline, medians of RUNS runs
# (BASE_RUNS for the slow baseline).
#
#   bench/pop3/run.sh [BUILD_DIR]
#
# Environment: SIZES="100 1000" RTTS="0 25" RUNS=5 BASE_RUNS=3 MODES="first steady baseline"
#
# Needs bench_pop3 built (ninja -C BUILD_DIR bench_pop3) and tests/servers/mailservers.sh.
set -euo pipefail
SRC=$(cd "$(dirname "$0")/../.." && pwd)
BUILD=${1:-$SRC/build}
SIZES=${SIZES:-"100 1000"}
RTTS=${RTTS:-"0 25"}
RUNS=${RUNS:-5}
BASE_RUNS=${BASE_RUNS:-3}
MODES=${MODES:-"first steady baseline"}
BENCH=$BUILD/bench/pop3/bench_pop3
[ -x "$BENCH" ] || { echo "build bench_pop3 first" >&2; exit 2; }

WORK=$(mktemp -d /tmp/korimo-bench.XXXXXX)
chmod 755 "$WORK" # the mail daemons run as their own users and must reach DIR
PROXY_PID=
cleanup() {
    [ -n "$PROXY_PID" ] && kill "$PROXY_PID" 2>/dev/null && wait "$PROXY_PID" 2>/dev/null
    "$SRC/tests/servers/mailservers.sh" stop "$WORK/srv" >/dev/null 2>&1 || true
    rm -rf "$WORK"
}
trap cleanup EXIT

"$SRC/tests/servers/mailservers.sh" start "$WORK/srv" --no-smtp --owner-pid $$ >/dev/null
# shellcheck disable=SC1091
. "$WORK/srv/env"

# Fills user1..user5 with N messages each (a few KB, Japanese subject), owned by the mail user.
fill() {
    python3 - "$MAILDIR_ROOT" "$1" "$MAIL_UID" "$MAIL_GID" <<'PY'
import base64, os, sys, time
root, n, uid, gid = sys.argv[1], int(sys.argv[2]), int(sys.argv[3]), int(sys.argv[4])
body = ("本文の行です。This is a line of the body text.\n" * 40).encode("iso2022_jp")
for u in range(1, 6):
    box = os.path.join(root, "user%d" % u)
    for sub in ("cur", "new"):
        for f in os.listdir(os.path.join(box, sub)):
            os.unlink(os.path.join(box, sub, f))
    for f in os.listdir(box):
        if f.startswith("dovecot"):
            os.unlink(os.path.join(box, f))
    for i in range(n):
        subject = base64.b64encode(("お知らせ 第%d号" % (i + 1)).encode("iso2022_jp")).decode()
        msg = ("From: =?UTF-8?B?%s?= <sender%d@korimo.test>\r\nTo: user%d@korimo.test\r\n"
               "Subject: =?ISO-2022-JP?B?%s?=\r\nDate: Mon, 7 Dec 2026 10:%02d:00 +0900\r\n"
               "Message-ID: <%d.%d@korimo.test>\r\nMIME-Version: 1.0\r\n"
               "Content-Type: text/plain; charset=ISO-2022-JP\r\n\r\n"
               % (base64.b64encode("差出人".encode()).decode(), i, u, subject, i % 60, u, i)).encode()
        msg += body.replace(b"\n", b"\r\n")
        name = "%d.M%dP%d.bench" % (1700000000 + i, i, u)
        tmp = os.path.join(box, "tmp", name)
        with open(tmp, "wb") as f:
            f.write(msg)
        os.chown(tmp, uid, gid)
        os.rename(tmp, os.path.join(box, "new", name))
PY
}

BOXES=()
for u in 1 2 3 4 5; do BOXES+=(--box "user$u:pass$u"); done

echo "# $(date -u +%Y-%m-%dT%H:%MZ) $(nproc) cores; RUNS=$RUNS BASE_RUNS=$BASE_RUNS"
for size in $SIZES; do
    fill "$size"
    for rtt in $RTTS; do
        port=$(python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1",0)); print(s.getsockname()[1])')
        python3 "$SRC/bench/pop3/delayproxy.py" "$port" "$POP3S_PORT" "$rtt" >"$WORK/proxy.out" &
        PROXY_PID=$!
        for _ in $(seq 50); do grep -q ready "$WORK/proxy.out" 2>/dev/null && break; sleep 0.1; done
        server="pop3s://127.0.0.1:$port"
        echo "## 5 x $size messages, RTT $rtt ms"
        for mode in $MODES; do
            runs=$RUNS
            [ "$mode" = baseline ] && runs=$BASE_RUNS
            "$BENCH" --server "$server" --ca "$CA_FILE" "${BOXES[@]}" --mode "$mode" --runs "$runs" | tail -1
        done
        kill "$PROXY_PID"; wait "$PROXY_PID" 2>/dev/null || true; PROXY_PID=
    done
done
