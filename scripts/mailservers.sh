#!/bin/bash
# Private mail servers on loopback for Korimo's tests and demos, all in DIR (fresh and private), on
# 127.0.0.1 ports picked at run time; nothing is ever relayed.
#   mailservers.sh start DIR [--no-smtp] [--with-mailutils] [--owner-pid PID [--remove-with-owner]]
#   mailservers.sh stop DIR | deliver DIR USER FILE
# start: a throw-away CA, Dovecot POP3 (STLS and implicit TLS) and, as root unless --no-smtp, Postfix
# (plain SMTP, submission with STARTTLS+AUTH, smtps) delivering into the same Maildirs. --with-mailutils
# adds GNU pop3d with Maildirs MU_MAILDIR_ROOT/userN/INBOX and users userN@DOMAIN (it rewrites CR LF
# files badly: deliver LF files to it). DIR/env holds the facts. --owner-pid: stop when that process is
# gone; --remove-with-owner: then also delete DIR. stop is idempotent; deliver goes through tmp/ to new/.
set -u
umask 022

DOMAIN=korimo.test
NUSERS=5
PORT_WAIT_SECONDS=10
POSTFIX_DAEMON_DIR=/usr/lib/postfix/sbin

die() {
    echo "mailservers: $*" >&2
    exit 1
}

usage() {
    die "usage: $0 start DIR [--no-smtp] [--with-mailutils] [--owner-pid PID [--remove-with-owner]] | stop DIR | deliver DIR USER FILE"
}

# N free ports below the ephemeral range; a clash with a parallel instance makes start retry.
pick_ports() {
    python3 - "$1" <<'EOF'
import random, socket, sys
n = int(sys.argv[1])
held, ports = [], []
while len(ports) < n:
    p = random.randrange(20000, 32000)
    if p in ports:
        continue
    s = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
    try:
        s.bind(("127.0.0.1", p))
    except OSError:
        s.close()
        continue
    held.append(s)
    ports.append(p)
print(" ".join(map(str, ports)))
EOF
}

port_open() {
    (exec 3<>"/dev/tcp/127.0.0.1/$1") 2>/dev/null
}

# Dovecot greets only once its auth process is ready (an earlier login waits seconds, holding up a stop).
pop3_greets() {
    (
        exec 3<>"/dev/tcp/127.0.0.1/$1" || exit 1
        read -r -t 2 line <&3 || exit 1
        printf 'QUIT\r\n' >&3
        [[ $line == "+OK"* ]]
    ) 2>/dev/null
}

# A zombie counts as gone: some inits reap only every second or two.
pid_alive() {
    [ -n "$1" ] && kill -0 "$1" 2>/dev/null || return 1
    local stat
    stat=$(cat "/proc/$1/stat" 2>/dev/null) || return 1
    stat=${stat##*) }
    [ "${stat%% *}" != Z ]
}

read_pid() {
    [ -s "$1" ] && head -n1 "$1" | tr -dc '0-9'
}

# TERM to the daemons (not our children: poll); after 2.5 s KILL, to the whole group of a leader (a
# Dovecot login can hold its master for seconds while auth goes away).
stop_pids() {
    local pids="" pid i left
    for pid in "$@"; do
        pid_alive "$pid" && pids="$pids $pid"
    done
    [ -n "$pids" ] || return 0
    # shellcheck disable=SC2086
    kill -TERM $pids 2>/dev/null
    for ((i = 0; i < 100; i++)); do
        left=""
        for pid in $pids; do
            pid_alive "$pid" && left="$left $pid"
        done
        [ -n "$left" ] || return 0
        if ((i == 50)); then
            echo "mailservers: killing$left" >&2
            for pid in $left; do # a group with a live PID's number is the one it leads
                kill -KILL -- "-$pid" 2>/dev/null || kill -KILL "$pid" 2>/dev/null
            done
        fi
        sleep 0.05
    done
    return 1
}

make_tls() {
    local tls=$1
    mkdir -p "$tls" || return 1
    openssl req -x509 -new -newkey ec -pkeyopt ec_paramgen_curve:P-256 -nodes \
        -keyout "$tls/ca.key" -out "$tls/ca.crt" -days 30 \
        -subj "/CN=Korimo Test CA $$" \
        -addext basicConstraints=critical,CA:TRUE \
        -addext keyUsage=critical,keyCertSign,cRLSign >>"$tls/openssl.log" 2>&1 || return 1
    openssl req -x509 -new -newkey ec -pkeyopt ec_paramgen_curve:P-256 -nodes \
        -keyout "$tls/server.key" -out "$tls/server.crt" -days 30 \
        -CA "$tls/ca.crt" -CAkey "$tls/ca.key" \
        -subj "/CN=localhost" \
        -addext basicConstraints=critical,CA:FALSE \
        -addext subjectAltName=IP:127.0.0.1,DNS:localhost \
        -addext keyUsage=critical,digitalSignature \
        -addext extendedKeyUsage=serverAuth >>"$tls/openssl.log" 2>&1 || return 1
    # The servers read the key as root before dropping privileges, or as the running user.
    chmod 600 "$tls/ca.key" "$tls/server.key"
}

write_dovecot_conf() {
    local conf=$DIR/dovecot/dovecot.conf
    cat >"$conf" <<EOF
# Private Dovecot of one Korimo test instance.
instance_name = korimo-$INSTANCE
base_dir = $DIR/dovecot/run
state_dir = $DIR/dovecot/state
log_path = $DIR/dovecot.log
protocols = pop3
listen = 127.0.0.1
default_login_user = $LOGIN_USER
default_internal_user = $INTERNAL_USER
default_internal_group = $INTERNAL_GROUP
first_valid_uid = $MAIL_UID
first_valid_gid = $MAIL_GID

ssl = yes
ssl_cert = <$DIR/tls/server.crt
ssl_key = <$DIR/tls/server.key
ssl_min_protocol = TLSv1.2

# The tests log in with plaintext passwords on the plain port (pop3:// by the user's choice).
disable_plaintext_auth = no
auth_mechanisms = plain login apop
# No delay after a wrong password: the tests measure how fast a refusal comes.
auth_failure_delay = 0

passdb {
  driver = passwd-file
  args = scheme=PLAIN username_format=%n $DIR/dovecot/users
}
userdb {
  driver = passwd-file
  args = username_format=%n $DIR/dovecot/users
}

mail_location = maildir:$MAILDIR_ROOT/%n
# The Maildir file name as UIDL: stable across sessions and index rebuilds.
pop3_uidl_format = %g

service pop3-login {
  chroot =
  inet_listener pop3 {
    address = 127.0.0.1
    port = $POP3_PORT
  }
  inet_listener pop3s {
    address = 127.0.0.1
    port = $POP3S_PORT
    ssl = yes
  }
}
service imap-login {
  chroot =
}
service anvil {
  chroot =
  # Mode 0 switches off the auth penalty: repeated wrong passwords are not slowed down.
  unix_listener anvil-auth-penalty {
    mode = 0
  }
}
service auth {
  unix_listener auth-postfix {
    mode = 0660
    user = $SASL_SOCKET_USER
  }
}
EOF
    if [ "$IS_ROOT" = 0 ]; then
        cat >>"$conf" <<EOF
service auth-worker {
  user = $INTERNAL_USER
}
EOF
    fi
    : >"$DIR/dovecot/users"
    local n
    for ((n = 1; n <= NUSERS; n++)); do
        echo "user$n:{PLAIN}pass$n:$MAIL_UID:$MAIL_GID::$MAILDIR_ROOT/user$n::" >>"$DIR/dovecot/users"
    done
    chmod 644 "$DIR/dovecot/users"
}

start_dovecot() {
    mkdir -p "$DIR/dovecot/run" "$DIR/dovecot/state" || return 1
    write_dovecot_conf || return 1
    if ! dovecot -c "$DIR/dovecot/dovecot.conf" >"$DIR/dovecot.start.log" 2>&1; then
        echo "dovecot did not start:" >&2
        cat "$DIR/dovecot.start.log" >&2
        [ -f "$DIR/dovecot.log" ] && tail -n 20 "$DIR/dovecot.log" >&2
        return 1
    fi
}

write_mailutils_conf() {
    local n hash
    mkdir -p "$DIR/mailutils/passwd" || return 1
    : >"$DIR/mailutils/passwd/$DOMAIN"
    for ((n = 1; n <= NUSERS; n++)); do
        hash=$(openssl passwd -6 "pass$n") || return 1
        echo "user$n:$hash:$MAIL_UID:$MAIL_GID::$MU_MAILDIR_ROOT/user$n:/bin/false" >>"$DIR/mailutils/passwd/$DOMAIN"
    done
    cat >"$DIR/mailutils/pop3d.conf" <<EOF
mode daemon;
foreground yes;
pidfile $DIR/mailutils/pop3d.pid;
logging { syslog no; };
auth { authorization virtdomain; authentication generic; };
virtdomain { passwd-dir $DIR/mailutils/passwd; };
mailbox { mailbox-type maildir; };
mandatory-locking { enable no; };
tls { ssl-certificate-file $DIR/tls/server.crt; ssl-key-file $DIR/tls/server.key; };
server 127.0.0.1:$MU_POP3_PORT { tls-mode stls; };
server 127.0.0.1:$MU_POP3S_PORT { tls-mode connection; };
EOF
}

# pop3d stays in the foreground as the leader of its own process group, its sessions in that group.
start_mailutils() {
    write_mailutils_conf || return 1
    setsid pop3d --config-file="$DIR/mailutils/pop3d.conf" </dev/null >"$DIR/mailutils.log" 2>&1 &
    disown
}

write_postfix_conf() {
    local pf=$DIR/postfix map="" n
    for ((n = 1; n <= NUSERS; n++)); do
        map="$map user$n@$DOMAIN=user$n/"
    done
    cat >"$pf/main.cf" <<EOF
# Private Postfix of one Korimo test instance: loopback only, local delivery only.
compatibility_level = 3.6
queue_directory = $pf/queue
data_directory = $pf/data
command_directory = /usr/sbin
daemon_directory = $POSTFIX_DAEMON_DIR
meta_directory = /etc/postfix
shlib_directory = /usr/lib/postfix
mail_owner = postfix
setgid_group = postdrop
maillog_file = $pf/maillog
maillog_file_prefixes = $DIR
syslog_name = postfix-korimo-$INSTANCE

myhostname = mail.$DOMAIN
mydomain = $DOMAIN
myorigin = $DOMAIN
mydestination =
relay_domains =
mynetworks = 127.0.0.1/32
inet_interfaces = loopback-only
inet_protocols = ipv4
append_dot_mydomain = no
biff = no
alias_maps =
alias_database =
smtpd_peername_lookup = no

# Nothing ever leaves: every route except the virtual mailboxes is an error.
local_transport = error:local delivery is disabled
default_transport = error:outbound mail is disabled
relay_transport = error:outbound mail is disabled

virtual_transport = virtual
virtual_mailbox_domains = $DOMAIN
virtual_mailbox_base = $MAILDIR_ROOT
virtual_mailbox_maps = inline:{$map }
virtual_uid_maps = static:$MAIL_UID
virtual_gid_maps = static:$MAIL_GID
virtual_minimum_uid = $MAIL_UID

smtpd_banner = \$myhostname ESMTP
smtpd_relay_restrictions = reject_unauth_destination
smtpd_recipient_restrictions = reject_unauth_destination
smtpd_tls_cert_file = $DIR/tls/server.crt
smtpd_tls_key_file = $DIR/tls/server.key
smtpd_tls_security_level = may
smtpd_tls_session_cache_database =
smtpd_sasl_type = dovecot
smtpd_sasl_path = $DIR/dovecot/run/auth-postfix
smtpd_sasl_auth_enable = no
smtpd_tls_auth_only = yes
broken_sasl_auth_clients = no
EOF
    # Submission and smtps: AUTH required before any recipient, and still only the test domain.
    local authed="-o smtpd_sasl_auth_enable=yes -o smtpd_relay_restrictions=reject_unauth_destination"
    authed="$authed -o smtpd_recipient_restrictions=permit_sasl_authenticated,reject"
    authed="$authed -o smtpd_client_restrictions=permit_sasl_authenticated,reject"
    cat >"$pf/master.cf" <<EOF
127.0.0.1:$SMTP_PORT inet n - n - - smtpd
127.0.0.1:$SUBMISSION_PORT inet n - n - - smtpd -o syslog_name=postfix-korimo-$INSTANCE/submission -o smtpd_tls_security_level=encrypt $authed
127.0.0.1:$SMTPS_PORT inet n - n - - smtpd -o syslog_name=postfix-korimo-$INSTANCE/smtps -o smtpd_tls_wrappermode=yes $authed
cleanup   unix  n       -       n       -       0       cleanup
qmgr      unix  n       -       n       300     1       qmgr
tlsmgr    unix  -       -       n       1000?   1       tlsmgr
rewrite   unix  -       -       n       -       -       trivial-rewrite
bounce    unix  -       -       n       -       0       bounce
defer     unix  -       -       n       -       0       bounce
trace     unix  -       -       n       -       0       bounce
verify    unix  -       -       n       -       1       verify
flush     unix  n       -       n       1000?   0       flush
proxymap  unix  -       -       n       -       -       proxymap
proxywrite unix -       -       n       -       1       proxymap
error     unix  -       -       n       -       -       error
retry     unix  -       -       n       -       -       error
discard   unix  -       -       n       -       -       discard
virtual   unix  -       n       n       -       -       virtual
anvil     unix  -       -       n       -       1       anvil
scache    unix  -       -       n       -       1       scache
postlog   unix-dgram n  -       n       -       1       postlogd
EOF
    # Postfix waits seconds for a configuration file written "just now" to age: date ours a minute back.
    touch -d "@$(($(date +%s) - 60))" "$pf/main.cf" "$pf/master.cf"
}

start_postfix() {
    local pf=$DIR/postfix q
    mkdir -p "$pf/queue" "$pf/data" || return 1
    # The queue layout of postfix-files, without Postfix's slow set-up scripts.
    chown postfix "$pf/data" && chmod 700 "$pf/data" || return 1
    for q in active bounce corrupt defer deferred flush hold incoming private saved trace; do
        mkdir -p "$pf/queue/$q" && chown postfix "$pf/queue/$q" && chmod 700 "$pf/queue/$q" || return 1
    done
    mkdir -p "$pf/queue/maildrop" "$pf/queue/public" "$pf/queue/pid" || return 1
    chown postfix:postdrop "$pf/queue/maildrop" "$pf/queue/public" || return 1
    chmod 730 "$pf/queue/maildrop" && chmod 710 "$pf/queue/public" || return 1
    write_postfix_conf || return 1
    # Without a terminal Postfix reports fatal errors only to its log: keep both.
    if ! "$POSTFIX_DAEMON_DIR/master" -c "$pf" -w >"$DIR/postfix.start.log" 2>&1 </dev/null; then
        echo "postfix did not start:" >&2
        cat "$DIR/postfix.start.log" >&2
        [ -f "$pf/maillog" ] && tail -n 20 "$pf/maillog" >&2
        return 1
    fi
}

make_maildirs() {
    local n
    mkdir -p "$MAILDIR_ROOT" || return 1
    for ((n = 1; n <= NUSERS; n++)); do
        mkdir -p "$MAILDIR_ROOT/user$n/cur" "$MAILDIR_ROOT/user$n/new" "$MAILDIR_ROOT/user$n/tmp" || return 1
    done
    if [ "$WITH_MAILUTILS" = 1 ]; then
        for ((n = 1; n <= NUSERS; n++)); do
            mkdir -p "$MU_MAILDIR_ROOT/user$n/INBOX/"{cur,new,tmp} || return 1
        done
    fi
    if [ "$IS_ROOT" = 1 ]; then
        chown -R "$MAIL_UID:$MAIL_GID" "$MAILDIR_ROOT" || return 1
        [ "$WITH_MAILUTILS" = 0 ] || chown -R "$MAIL_UID:$MAIL_GID" "$MU_MAILDIR_ROOT" || return 1
    fi
}

write_env() {
    cat >"$DIR/env.tmp" <<EOF
POP3_PORT=$POP3_PORT
POP3S_PORT=$POP3S_PORT
SMTP_PORT=$([ "$WITH_SMTP" = 1 ] && echo "$SMTP_PORT")
SUBMISSION_PORT=$([ "$WITH_SMTP" = 1 ] && echo "$SUBMISSION_PORT")
SMTPS_PORT=$([ "$WITH_SMTP" = 1 ] && echo "$SMTPS_PORT")
SMTP=$WITH_SMTP
CA_FILE=$DIR/tls/ca.crt
MAILDIR_ROOT=$MAILDIR_ROOT
DOMAIN=$DOMAIN
MAIL_UID=$MAIL_UID
MAIL_GID=$MAIL_GID
DOVECOT_PID=$(read_pid "$DIR/dovecot/run/master.pid")
MU_POP3_PORT=$([ "$WITH_MAILUTILS" = 1 ] && echo "$MU_POP3_PORT")
MU_POP3S_PORT=$([ "$WITH_MAILUTILS" = 1 ] && echo "$MU_POP3S_PORT")
MU_MAILDIR_ROOT=$([ "$WITH_MAILUTILS" = 1 ] && echo "$MU_MAILDIR_ROOT")
EOF
    mv "$DIR/env.tmp" "$DIR/env"
}

stop_instance() {
    local pid
    pid=$(read_pid "$DIR/watchdog.pid")
    # The watchdog calls stop itself; never let it kill its own caller.
    if [ -n "$pid" ] && [ "$pid" != "${KORIMO_WATCHDOG_SELF:-}" ]; then
        kill -TERM "$pid" 2>/dev/null
    fi
    rm -f "$DIR/watchdog.pid"
    stop_pids "$(read_pid "$DIR/postfix/queue/pid/master.pid")" "$(read_pid "$DIR/dovecot/run/master.pid")" \
        "$(read_pid "$DIR/mailutils/pop3d.pid")"
}

start_watchdog() {
    local owner=$1 remove=$2
    (
        export KORIMO_WATCHDOG_SELF=$BASHPID
        trap 'exit 0' TERM
        while kill -0 "$owner" 2>/dev/null; do
            sleep 1 &
            wait $!
        done
        "$SCRIPT" stop "$DIR" && [ "$remove" = 1 ] && rm -rf -- "$DIR"
    ) </dev/null >/dev/null 2>&1 &
    echo $! >"$DIR/watchdog.pid"
    disown
}

cmd_start() {
    WITH_SMTP=1
    WITH_MAILUTILS=0
    local owner="" remove=0
    while [ $# -gt 0 ]; do
        case $1 in
        --no-smtp) WITH_SMTP=0 ;;
        --with-mailutils) WITH_MAILUTILS=1 ;;
        --owner-pid)
            owner=${2:-}
            [[ $owner =~ ^[0-9]+$ ]] || usage
            shift
            ;;
        --remove-with-owner) remove=1 ;;
        *) usage ;;
        esac
        shift
    done
    IS_ROOT=0
    [ "$(id -u)" = 0 ] && IS_ROOT=1
    if [ "$IS_ROOT" = 0 ] && [ "$WITH_SMTP" = 1 ]; then
        echo "mailservers: not root: starting without SMTP" >&2
        WITH_SMTP=0
    fi
    mkdir -p "$DIR" || die "cannot create $DIR"
    [ -e "$DIR/env" ] && die "$DIR already holds an instance"
    DIR=$(cd "$DIR" && pwd -P)
    INSTANCE=$(printf '%s' "$DIR" | md5sum | cut -c1-10)
    MAILDIR_ROOT=$DIR/mail
    MU_MAILDIR_ROOT=$DIR/mumail

    if [ "$IS_ROOT" = 1 ]; then
        # Dovecot and Postfix refuse to deliver as root; their own users must reach DIR.
        MAIL_UID=$(id -u nobody) MAIL_GID=$(id -g nobody)
        LOGIN_USER=dovenull INTERNAL_USER=dovecot INTERNAL_GROUP=dovecot SASL_SOCKET_USER=postfix
        chmod 755 "$DIR"
    else
        MAIL_UID=$(id -u) MAIL_GID=$(id -g)
        # An ordinary user: every Dovecot process runs as that user, without chroot.
        LOGIN_USER=$(id -un) INTERNAL_USER=$(id -un) INTERNAL_GROUP=$(id -gn) SASL_SOCKET_USER=$(id -un)
    fi

    make_tls "$DIR/tls" || {
        cat "$DIR/tls/openssl.log" >&2
        die "cannot make the certificates"
    }
    make_maildirs || die "cannot make the Maildirs under $MAILDIR_ROOT"

    local attempt ports ok p
    for attempt in 1 2 3; do
        ports=$(pick_ports 7) || die "cannot pick free ports"
        read -r POP3_PORT POP3S_PORT SMTP_PORT SUBMISSION_PORT SMTPS_PORT MU_POP3_PORT MU_POP3S_PORT <<<"$ports"
        ok=1
        start_dovecot || ok=0
        if [ "$ok" = 1 ] && [ "$WITH_MAILUTILS" = 1 ]; then
            start_mailutils || ok=0
        fi
        if [ "$ok" = 1 ] && [ "$WITH_SMTP" = 1 ]; then
            start_postfix || ok=0
        fi
        if [ "$ok" = 1 ]; then
            local want="$POP3S_PORT" deadline=$((SECONDS + PORT_WAIT_SECONDS))
            [ "$WITH_SMTP" = 1 ] && want="$want $SMTP_PORT $SUBMISSION_PORT $SMTPS_PORT"
            [ "$WITH_MAILUTILS" = 1 ] && want="$want $MU_POP3_PORT $MU_POP3S_PORT"
            for p in "$POP3_PORT" $want; do
                until if [ "$p" = "$POP3_PORT" ]; then pop3_greets "$p"; else port_open "$p"; fi; do
                    if ((SECONDS >= deadline)); then
                        echo "port $p did not answer within ${PORT_WAIT_SECONDS}s" >&2
                        ok=0
                        break 2
                    fi
                    sleep 0.02
                done
            done
        fi
        if [ "$ok" = 1 ]; then
            write_env
            [ -n "$owner" ] && start_watchdog "$owner" "$remove"
            return 0
        fi
        echo "mailservers: attempt $attempt failed (logs in $DIR)" >&2
        stop_instance
        # Only a port taken meanwhile by someone else is worth another try with new ports.
        local taken=""
        for p in $POP3_PORT $POP3S_PORT $SMTP_PORT $SUBMISSION_PORT $SMTPS_PORT $MU_POP3_PORT $MU_POP3S_PORT; do
            port_open "$p" && taken="$taken $p"
        done
        [ -n "$taken" ] || break
        echo "mailservers: port(s)$taken taken by another program, trying other ports" >&2
    done
    die "could not start the mail servers in $DIR"
}

cmd_deliver() {
    local user=$1 file=$2
    [ -f "$DIR/env" ] || die "no instance in $DIR"
    # shellcheck disable=SC1091
    . "$DIR/env"
    [[ $user =~ ^[A-Za-z0-9_-]+$ ]] || die "bad user name: $user"
    local box=$MAILDIR_ROOT/$user
    [ -d "$box/new" ] || die "no Maildir for $user"
    [ -f "$file" ] || die "no file $file"
    local now name
    now=$(date +%s.%N)
    local nanos=${now#*.}
    name="${now%.*}.M${nanos:0:6}P$$R$RANDOM.korimo"
    cp "$file" "$box/tmp/$name" || die "cannot write into $box/tmp"
    if [ "$(id -u)" = 0 ]; then
        chown "$MAIL_UID:$MAIL_GID" "$box/tmp/$name"
    fi
    chmod 600 "$box/tmp/$name"
    mv "$box/tmp/$name" "$box/new/$name" || die "cannot move into $box/new"
    echo "$box/new/$name"
}

SCRIPT=$(readlink -f "$0")
[ $# -ge 2 ] || usage
CMD=$1
DIR=$2
shift 2
case $CMD in
start) cmd_start "$@" ;;
stop)
    [ -d "$DIR" ] || exit 0
    DIR=$(cd "$DIR" && pwd -P)
    stop_instance || die "some server of $DIR did not stop"
    ;;
deliver)
    [ $# -eq 2 ] || usage
    cmd_deliver "$1" "$2"
    ;;
*) usage ;;
esac
