#!/usr/bin/env bash
# A private GNU Mailutils pop3d for the APOP tests: a server that puts an APOP
# timestamp in every greeting, although only some users have an APOP secret.
#   apopserver.sh start DIR    (writes DIR/apopserver.ini; exit 77 when it cannot run here)
#   apopserver.sh stop DIR
# Plain POP3 only (no STLS), on a free loopback port, with its own configuration,
# a virtual-domain password file and an APOP database in a fresh
# /tmp/tidemarsh-apop.* folder. Logins (user@test.example):
#   plain  password only: APOP is refused, USER/PASS works
#   apop   the same secret for APOP and USER/PASS
# Each mailbox is an mbox file holding two messages. mailutils-pop3d conflicts
# with nothing but is a daemon: scripts/install-deps.sh installs its libraries
# (libmailutils9) and unpack-daemons.sh unpacks the daemon itself.
set -Eeuo pipefail
PKG=${TIDEMARSH_PKGROOT:-/var/lib/tidemarsh-test}/mailutils-pop3d
say() { echo "apopserver: $*" >&2; }

free_port() {
    local p
    while :; do
        p=$((20000 + RANDOM % 40000))
        (exec 3<>"/dev/tcp/127.0.0.1/$p") 2>/dev/null || { echo "$p"; return; }
    done
}

unavailable() {
    if [ ! -x "$PKG/usr/sbin/pop3d" ]; then
        echo "GNU Mailutils pop3d is not unpacked in $PKG: run scripts/install-deps.sh"
    elif ! "$PKG/usr/sbin/pop3d" --version >/dev/null 2>&1; then
        echo "GNU Mailutils pop3d does not run here (libmailutils9 missing?): run scripts/install-deps.sh"
    fi
}

mbox_message() { # user number
    printf 'From sender@example.org Mon Dec  7 10:00:00 2026\nFrom: sender@example.org\nTo: %s@test.example\nSubject: APOP test %s\nDate: Mon, 07 Dec 2026 10:00:00 +0000\n\nHello.\n\n' "$1" "$2"
}

# Waits for a greeting with an APOP timestamp.
wait_ready() {
    local line
    for _ in $(seq 100); do
        if { exec 3<>"/dev/tcp/127.0.0.1/$1"; } 2>/dev/null; then
            line=""
            read -r -t 2 line <&3 || true
            exec 3<&- 3>&-
            case $line in "+OK "*"<"*">"*) return 0 ;; esac
        fi
        sleep 0.1
    done
    return 1
}

stop() {
    local dir=$1 state pid
    [ -s "$dir/state-dir" ] || return 0
    state=$(cat "$dir/state-dir")
    case $state in /tmp/tidemarsh-apop.*) ;; *) say "refusing to remove $state"; exit 1 ;; esac
    if [ -s "$state/pop3d.pid" ]; then
        pid=$(cat "$state/pop3d.pid")
        kill -TERM "$pid" 2>/dev/null || true
        for _ in $(seq 50); do kill -0 "$pid" 2>/dev/null || break; sleep 0.1; done
        kill -KILL "$pid" 2>/dev/null || true
    fi
    [ -f "$state/server.log" ] && cp "$state/server.log" "$dir/server.log"
    rm -rf "$state"
    rm -f "$dir/state-dir" "$dir/apopserver.ini"
}

start() {
    local dir=$1 why state port user uid gid
    mkdir -p "$dir"
    dir=$(cd "$dir" && pwd)
    stop "$dir" 2>/dev/null || true
    why=$(unavailable)
    if [ -n "$why" ]; then
        printf '[server]\nunavailable="%s"\n' "$why" > "$dir/apopserver.ini"
        say "skipped: $why"
        exit 77
    fi
    state=$(mktemp -d /tmp/tidemarsh-apop.XXXXXX)
    echo "$state" > "$dir/state-dir"
    trap 'stop "$dir"' ERR
    uid=$(id -u); gid=$(id -g)
    mkdir -p "$state/virt" "$state/mail"
    : > "$state/virt/test.example"
    for user in plain apop; do
        mkdir -p "$state/mail/$user"
        { mbox_message "$user" 1; mbox_message "$user" 2; } > "$state/mail/$user/INBOX"
        # Virtual-domain users: name:crypt:uid:gid:gecos:home:shell, mailbox home/INBOX.
        printf '%s:%s:%s:%s::%s:/bin/false\n' "$user" \
            "$(printf '%s\n' "secret-$user" | openssl passwd -6 -stdin)" "$uid" "$gid" \
            "$state/mail/$user" >> "$state/virt/test.example"
    done
    "$PKG/usr/bin/popauth" --add --user=apop@test.example --password=secret-apop --file="$state/apop.db"
    chmod 600 "$state/apop.db"

    port=$(free_port)
    cat > "$state/pop3d.conf" <<EOF
logging { syslog no; }
auth { authorization virtdomain; authentication generic; }
virtdomain { passwd-dir "$state/virt"; }
mailbox { mailbox-pattern "mbox://$state/mail/\${user}/INBOX"; }
tcp-wrappers { enable no; }
apop-database-file "$state/apop.db";
mode daemon;
foreground yes;
server 127.0.0.1:$port { tls-mode false; }
EOF
    setsid "$PKG/usr/sbin/pop3d" --config-file="$state/pop3d.conf" </dev/null >"$state/server.log" 2>&1 &
    echo $! > "$state/pop3d.pid"
    if ! wait_ready "$port"; then
        cat "$state/server.log" >&2
        false
    fi
    cat > "$dir/apopserver.ini" <<EOF
[server]
host=127.0.0.1
port=$port
plain_user=plain@test.example
plain_password=secret-plain
apop_user=apop@test.example
apop_password=secret-apop
log_file=$state/server.log
EOF
    trap - ERR
    say "pop3d started, pid $(cat "$state/pop3d.pid"), port $port, files in $state"
}

case ${1:-} in
    start) [ $# -eq 2 ] || { say "usage: apopserver.sh start DIR"; exit 1; }; start "$2" ;;
    stop) [ $# -eq 2 ] || { say "usage: apopserver.sh stop DIR"; exit 1; }; stop "$2" ;;
    *) say "usage: apopserver.sh start DIR | stop DIR"; exit 1 ;;
esac
