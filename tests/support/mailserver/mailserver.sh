#!/usr/bin/env bash
# Starts and stops a private POP3 server on free loopback ports for the tests.
#   mailserver.sh start SERVER DIR    (SERVER: dovecot, courier or cyrus; DIR: a folder in the build tree)
#   mailserver.sh stop DIR
#   mailserver.sh logins STATE        (lines "user<TAB>password<TAB>home<TAB>lock" on stdin)
# Start writes DIR/mailserver.ini (host, ports, CA, passwd file, mail root, log),
# which the tests read through TestMailServer. A server that cannot run here (not
# root, not installed) gets an ini that says why, and start exits 77 (skipped). The server's files live in a
# private folder under /tmp (mail processes must be able to reach it, and a build
# tree under a 0700 home would stop them); stop kills the server by its PID,
# copies its log to DIR and removes that folder. Nothing under /etc is touched.
# Runs as root (mail then belongs to a system user created here) or as a normal
# user (mail belongs to that user).
# Environment: TIDEMARSH_MAIL_USER (tidemarsh-mail): the system user owning mail as root.
set -Eeuo pipefail
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
say() { echo "mailserver: $*" >&2; }
die() { say "$*"; exit 1; }

# State and session id of a process, from /proc (procps may be missing).
proc_state() { # pid -> "STATE SID", fails when there is no such process
    local stat rest state ppid pgrp sid
    stat=$(cat "/proc/$1/stat" 2>/dev/null) || return 1
    rest=${stat##*) }
    read -r state ppid pgrp sid _ <<< "$rest"
    echo "$state $sid"
}
# A zombie counts as gone: its parent (init here) may reap it late.
alive() { local st; st=$(proc_state "$1") && [ "${st%% *}" != Z ]; }
session_members() { # live processes of session $1
    local p st
    for p in /proc/[0-9]*; do
        p=${p#/proc/}
        st=$(proc_state "$p") || continue
        [ "${st#* }" = "$1" ] && [ "${st%% *}" != Z ] && echo "$p"
    done
    return 0
}

# Kills the daemon whose PID is in STATE/server.pid and every process of its session.
kill_server() {
    local state=$1 pid members p
    [ -s "$state/server.pid" ] || return 0
    pid=$(cat "$state/server.pid")
    if alive "$pid"; then
        kill -TERM "$pid" 2>/dev/null || true
        for _ in $(seq 100); do alive "$pid" || break; sleep 0.1; done
        alive "$pid" && kill -KILL "$pid" 2>/dev/null
    fi
    # The daemon made its own session (sid = its pid): wait for its children to
    # follow it, and kill any that do not.
    for _ in $(seq 50); do
        members=$(session_members "$pid")
        [ -z "$members" ] && break
        sleep 0.1
    done
    for p in $members; do kill -KILL "$p" 2>/dev/null || true; done
    rm -f "$state/server.pid"
}

stop() {
    local dir=$1 state
    [ -s "$dir/state-dir" ] || return 0
    state=$(cat "$dir/state-dir")
    case $state in /tmp/tidemarsh-mailserver.*) ;; *) die "refusing to remove $state" ;; esac
    if [ -d "$state" ]; then
        kill_server "$state"
        [ -f "$state/server.log" ] && cp "$state/server.log" "$dir/server.log"
        rm -rf "$state"
    fi
    rm -f "$dir/state-dir" "$dir/mailserver.ini"
    say "stopped"
}

free_port() { # a random unprivileged port nobody answers on (a race lost here is retried)
    local p
    while :; do
        p=$((20000 + RANDOM % 40000))
        (exec 3<>"/dev/tcp/127.0.0.1/$p") 2>/dev/null || { echo "$p"; return; }
    done
}

make_certificates() { # CA and a server certificate for localhost/127.0.0.1 signed by it
    local d=$1
    openssl req -x509 -newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes -days 30 \
        -subj "/CN=Tidemarsh Test CA $$" \
        -addext basicConstraints=critical,CA:TRUE -addext keyUsage=critical,keyCertSign,cRLSign \
        -keyout "$d/ca.key" -out "$d/ca.pem" 2>/dev/null
    openssl req -new -newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes \
        -subj /CN=localhost -keyout "$d/server.key" -out "$d/server.csr" 2>/dev/null
    printf '%s\n' basicConstraints=CA:FALSE keyUsage=critical,digitalSignature \
        extendedKeyUsage=serverAuth subjectAltName=DNS:localhost,IP:127.0.0.1 > "$d/server.ext"
    openssl x509 -req -in "$d/server.csr" -CA "$d/ca.pem" -CAkey "$d/ca.key" -CAcreateserial \
        -days 30 -extfile "$d/server.ext" -out "$d/server.pem" 2>/dev/null
    rm -f "$d/server.csr" "$d/server.ext" "$d/ca.srl"
    chmod 600 "$d/ca.key" "$d/server.key"
}

# Waits for "+OK" on the plain port and, after a handshake verified against the
# test CA, on the TLS port.
wait_ready() {
    local port=$1 tlsport=$2 ca=$3 line
    for _ in $(seq 100); do
        if { exec 3<>"/dev/tcp/127.0.0.1/$port"; } 2>/dev/null; then
            line=""
            read -r -t 2 line <&3 || true
            exec 3<&- 3>&-
            [ "${line:0:3}" = "+OK" ] || { sleep 0.1; continue; }
            # openssl fails when a server closes without close_notify (Cyrus): judge the greeting.
            line=$(echo QUIT | timeout 5 openssl s_client -quiet -connect "127.0.0.1:$tlsport" \
                       -servername localhost -verify_hostname localhost -CAfile "$ca" \
                       -verify_return_error 2>/dev/null | head -n1) || true
            [ "${line:0:3}" = "+OK" ] && return 0
        fi
        sleep 0.1
    done
    return 1
}

start() {
    local server=$1 dir=$2 why
    [ -f "$here/$server.sh" ] || die "no fixture for server '$server' (have: dovecot, courier, cyrus)"
    # shellcheck source=dovecot.sh
    source "$here/$server.sh"
    mkdir -p "$dir"
    dir=$(cd "$dir" && pwd)
    stop "$dir" 2>/dev/null || true
    why=$(server_unavailable)
    if [ -n "$why" ]; then
        printf '[server]\nkind=%s\nunavailable="%s"\n' "$server" "$why" > "$dir/mailserver.ini"
        say "skipped: $why"
        exit 77
    fi

    if [ "$(id -u)" -eq 0 ]; then
        MAIL_USER=${TIDEMARSH_MAIL_USER:-tidemarsh-mail}
        if ! getent passwd "$MAIL_USER" >/dev/null; then
            useradd --system --user-group --no-create-home --home-dir /nonexistent \
                --shell /usr/sbin/nologin "$MAIL_USER"
        fi
    else
        MAIL_USER=$(id -un)
    fi
    MAIL_UID=$(id -u "$MAIL_USER")
    MAIL_GID=$(id -g "$MAIL_USER")

    STATE=$(mktemp -d /tmp/tidemarsh-mailserver.XXXXXX)
    echo "$STATE" > "$dir/state-dir"
    trap 'kill_server "$STATE"; [ -f "$STATE/server.log" ] && cp "$STATE/server.log" "$dir/server.log"; rm -rf "$STATE"; rm -f "$dir/state-dir"' ERR
    chmod 711 "$STATE"
    mkdir -p "$STATE/mail"
    chown "$MAIL_UID:$MAIL_GID" "$STATE/mail"
    chmod 755 "$STATE/mail"
    make_certificates "$STATE"
    : > "$STATE/passwd"
    : > "$STATE/server.log"

    local attempt ok=""
    for attempt in 1 2 3 4 5; do
        PORT=$(free_port); TLSPORT=$(free_port)
        [ "$PORT" != "$TLSPORT" ] || continue
        if server_start && wait_ready "$PORT" "$TLSPORT" "$STATE/ca.pem"; then ok=1; break; fi
        say "attempt $attempt on ports $PORT/$TLSPORT failed"
        kill_server "$STATE"
    done
    if [ -z "$ok" ]; then
        cat "$STATE/start.err" "$STATE/server.log" >&2 2>/dev/null || true
        false
    fi

    printf 'SERVER=%s\nMAIL_UID=%s\nMAIL_GID=%s\nPORT=%s\nTLSPORT=%s\n' \
        "$server" "$MAIL_UID" "$MAIL_GID" "$PORT" "$TLSPORT" > "$STATE/server.env"
    cat > "$dir/mailserver.ini.tmp" <<INI
[server]
kind=$server
pid=$(cat "$STATE/server.pid")
host=127.0.0.1
pop3_port=$PORT
pop3s_port=$TLSPORT
ca_file=$STATE/ca.pem
server_cert=$STATE/server.pem
server_key=$STATE/server.key
passwd_file=$STATE/passwd
mail_root=$STATE/mail
mail_uid=$MAIL_UID
mail_gid=$MAIL_GID
passwd_gid=$(stat -c %g "$STATE/passwd")
log_file=$STATE/server.log
state_dir=$STATE
lock_session=$SERVER_LOCK_SESSION
helper=$here/mailserver.sh
$(declare -F server_ini >/dev/null && server_ini)
INI
    mv "$dir/mailserver.ini.tmp" "$dir/mailserver.ini"
    trap - ERR
    say "$server started, pid $(cat "$STATE/server.pid"), pop3 127.0.0.1:$PORT, pop3s :$TLSPORT, files in $STATE"
}

# Adds logins to a running server, one at a time across the test processes.
logins() {
    STATE=$1
    case $STATE in /tmp/tidemarsh-mailserver.*) ;; *) die "not a server folder: $STATE" ;; esac
    # shellcheck source=/dev/null
    source "$STATE/server.env"
    # shellcheck source=dovecot.sh
    source "$here/$SERVER.sh"
    exec 9>>"$STATE/logins.lock"
    flock 9
    server_add_logins
}

case ${1:-} in
    start) [ $# -eq 3 ] || die "usage: mailserver.sh start SERVER DIR"; start "$2" "$3" ;;
    logins) [ $# -eq 2 ] || die "usage: mailserver.sh logins STATE"; logins "$2" ;;
    stop)  [ $# -eq 2 ] || die "usage: mailserver.sh stop DIR"; stop "$(cd "$2" 2>/dev/null && pwd || echo "$2")" ;;
    *) die "usage: mailserver.sh start SERVER DIR | stop DIR | logins STATE" ;;
esac
