#!/bin/bash
# The POP3 check benchmark: 5 mailboxes on a private loopback Dovecot, filled with SIZES messages each,
# reached through our delaying proxy at each of RTTS milliseconds of round trip. For each combination
# and mode, ROUNDS interleaved rounds of: the floor (floor_pop3, a raw client that sends everything the
# protocol allows in one write), then Korimo's transport (bench_pop3). Each process sets up once
# untimed, then times RUNS runs. Prints the medians and Korimo ÷ floor side by side.
#
#   bench/pop3/run.sh [BUILD_DIR]
#
# Environment: SIZES="1000 10000" RTTS="25" ROUNDS=5 RUNS=1 MODES="first steady" TRANSPORTS="tls"
#   MODES may add "baseline" (a re-scanning checker, Korimo's client only, no floor; slow).
#   TRANSPORTS: tls = implicit TLS (pop3s://); plain = the plain port: the floor stays in plaintext,
#   while Korimo's pop3:// still upgrades with STLS because this Dovecot offers it.
#   BEFORE=PATH/bench_pop3 adds another build's Korimo (say, of an earlier commit) to each round, in
#   its own column: before and after measured side by side.
#   HELPER=1 adds the program's own way of checking to each round: the same transport in a new
#   korimo-mail-helper process for every check (bench_pop3 --helpers BUILD_DIR/korimo).
#
# Needs bench_pop3 and floor_pop3 built (ninja -C BUILD_DIR bench_pop3 floor_pop3) and
# scripts/mailservers.sh.
set -euo pipefail
SRC=$(cd "$(dirname "$0")/../.." && pwd)
BUILD=${1:-$SRC/build}
SIZES=${SIZES:-"1000 10000"}
RTTS=${RTTS:-"25"}
ROUNDS=${ROUNDS:-5}
RUNS=${RUNS:-1}
MODES=${MODES:-"first steady"}
BEFORE=${BEFORE:-}
HELPER=${HELPER:-}
TRANSPORTS=${TRANSPORTS:-"tls"}
BENCH=$BUILD/bench/pop3/bench_pop3
FLOOR=$BUILD/bench/pop3/floor_pop3
[ -x "$BENCH" ] && [ -x "$FLOOR" ] || { echo "build bench_pop3 and floor_pop3 first" >&2; exit 2; }

WORK=$(mktemp -d /tmp/korimo-bench.XXXXXX)
chmod 755 "$WORK" # the mail daemons run as their own users and must reach DIR
PROXY_PID=
cleanup() {
    [ -n "$PROXY_PID" ] && kill "$PROXY_PID" 2>/dev/null && wait "$PROXY_PID" 2>/dev/null
    "$SRC/scripts/mailservers.sh" stop "$WORK/srv" >/dev/null 2>&1 || true
    rm -rf "$WORK"
}
trap cleanup EXIT

"$SRC/scripts/mailservers.sh" start "$WORK/srv" --no-smtp --owner-pid $$ >/dev/null
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
        # S= and W= (size, size with CR LF) as Dovecot's own delivery writes them: the server need
        # not read every file to learn its size.
        name = "%d.M%dP%d.bench,S=%d,W=%d" % (1700000000 + i, i, u, len(msg), len(msg))
        tmp = os.path.join(box, "tmp", name)
        with open(tmp, "wb") as f:
            f.write(msg)
        os.chown(tmp, uid, gid)
        os.rename(tmp, os.path.join(box, "new", name))
PY
}

BOXES=()
for u in 1 2 3 4 5; do BOXES+=(--box "user$u:pass$u"); done

median() { sort -n | awk '{v[NR] = $1} END {if (NR % 2) print v[(NR + 1) / 2]; else printf "%.1f\n", (v[NR / 2] + v[NR / 2 + 1]) / 2}'; }
# The run times a bench program printed ("... run K: 123.4 ms, ...").
times_of() { sed -n 's/.* run [0-9]*: \([0-9.]*\) ms.*/\1/p'; }

echo "# $(date -u +%Y-%m-%dT%H:%MZ) $(nproc) cores; ROUNDS=$ROUNDS RUNS=$RUNS (medians of ROUNDS x RUNS runs)"
head="| 5 mailboxes × | RTT | transport | check | floor"
rule="|---|---|---|---|---"
[ -n "$BEFORE" ] && head="$head | Korimo before | before ÷ floor" rule="$rule|---|---"
head="$head | Korimo | Korimo ÷ floor" rule="$rule|---|---"
[ -n "$HELPER" ] && head="$head | in a helper | helper ÷ floor" rule="$rule|---|---"
echo "$head |"
echo "$rule|"
for size in $SIZES; do
    fill "$size"
    for rtt in $RTTS; do
        for transport in $TRANSPORTS; do
            port=$(python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1",0)); print(s.getsockname()[1])')
            if [ "$transport" = tls ]; then
                target=$POP3S_PORT server="pop3s://127.0.0.1:$port" floor_tls=(--tls --ca "$CA_FILE")
            else
                target=$POP3_PORT server="pop3://127.0.0.1:$port" floor_tls=()
            fi
            python3 "$SRC/bench/pop3/delayproxy.py" "$port" "$target" "$rtt" >"$WORK/proxy.out" &
            PROXY_PID=$!
            for _ in $(seq 50); do grep -q ready "$WORK/proxy.out" 2>/dev/null && break; sleep 0.1; done
            for mode in $MODES; do
                : >"$WORK/floor.times"
                : >"$WORK/korimo.times"
                : >"$WORK/before.times"
                : >"$WORK/helper.times"
                for _ in $(seq "$ROUNDS"); do
                    if [ "$mode" != baseline ]; then
                        "$FLOOR" --port "$port" "${floor_tls[@]}" "${BOXES[@]}" --messages "$size" --mode "$mode" \
                            --runs "$RUNS" | times_of >>"$WORK/floor.times"
                    fi
                    if [ -n "$BEFORE" ]; then
                        "$BEFORE" --server "$server" --ca "$CA_FILE" "${BOXES[@]}" --mode "$mode" --runs "$RUNS" |
                            times_of >>"$WORK/before.times"
                    fi
                    "$BENCH" --server "$server" --ca "$CA_FILE" "${BOXES[@]}" --mode "$mode" --runs "$RUNS" |
                        times_of >>"$WORK/korimo.times"
                    if [ -n "$HELPER" ]; then
                        "$BENCH" --server "$server" --ca "$CA_FILE" "${BOXES[@]}" --mode "$mode" --runs "$RUNS" \
                            --helpers "$BUILD/korimo" | times_of >>"$WORK/helper.times"
                    fi
                done
                korimo=$(median <"$WORK/korimo.times")
                ratio() { [ "$floor" = - ] && echo - || awk -v k="$1" -v f="$floor" 'BEGIN {printf "%.2f×", k / f}'; }
                floor=-
                [ "$mode" = baseline ] || floor=$(median <"$WORK/floor.times")
                row="| $size | $rtt ms | $transport | $mode | $floor ms"
                if [ -n "$BEFORE" ]; then
                    before=$(median <"$WORK/before.times")
                    row="$row | $before ms | $(ratio "$before")"
                fi
                row="$row | $korimo ms | $(ratio "$korimo")"
                if [ -n "$HELPER" ]; then
                    helper=$(median <"$WORK/helper.times")
                    row="$row | $helper ms | $(ratio "$helper")"
                fi
                echo "$row |"
            done
            kill "$PROXY_PID"; wait "$PROXY_PID" 2>/dev/null || true; PROXY_PID=
        done
    done
done
