# Cyrus part of mailserver.sh (sourced). Reads STATE, PORT, TLSPORT; writes
# STATE/cyrus/ and STATE/server.pid.
# The master reads only STATE/cyrus/imapd.conf (-C) and cyrus.conf (-M): nothing
# in /etc or /var/lib/cyrus is read or changed. cyrus-pop3d conflicts with
# dovecot-pop3d, so scripts/install-deps.sh unpacks it and cyrus-imapd
# (unpack-daemons.sh) instead of installing them.
# Cyrus keeps mail in its own store, not a Maildir: tests deliver and look over
# IMAP on the UNIX socket STATE/cyrus/socket/imap (TestMailbox does). Logins are
# sasldb entries (realm = servername = localhost); the INBOX is made at the
# first login. Cyrus logs only to syslog, so every POP3 session's traffic is
# kept as telemetry in STATE/cyrus/config/log/USER/, which is what the tests read.
# pop3d rewrites its proc file twice per command, so proc/ and lock/ sit on a
# tmpfs in the master's own mount namespace, as Debian keeps them in /run.

# No per-session lock: every POP3 session gets a snapshot of its own.
SERVER_LOCK_SESSION=0
CYRUS_PKGROOT=${TIDEMARSH_PKGROOT:-/var/lib/tidemarsh-test}

server_unavailable() {
    if [ "$(id -u)" -ne 0 ]; then
        echo "Cyrus runs as root only (it serves mail as the cyrus user)"
    elif [ ! -x "$CYRUS_PKGROOT/cyrus-pop3d/usr/lib/cyrus/bin/pop3d" ] ||
         [ ! -x "$CYRUS_PKGROOT/cyrus-imapd/usr/lib/cyrus/bin/imapd" ] || ! command -v saslpasswd2 >/dev/null; then
        echo "Cyrus is not installed: run scripts/install-deps.sh"
    fi
}

server_start() {
    local c=$STATE/cyrus
    local pop3d=$CYRUS_PKGROOT/cyrus-pop3d/usr/lib/cyrus/bin/pop3d
    local imapd=$CYRUS_PKGROOT/cyrus-imapd/usr/lib/cyrus/bin/imapd
    local bin=/usr/lib/cyrus/bin
    rm -rf "$c"
    mkdir -p "$c/config/log" "$c/spool" "$c/run" "$c/socket" "$c/tmp"
    runuser -u cyrus -- test -x "$STATE" || { echo "user cyrus cannot reach $STATE" >"$STATE/start.err"; return 1; }
    cp "$STATE/server.pem" "$c/cert.pem"
    cp "$STATE/server.key" "$c/key.pem"

    cat > "$c/imapd.conf" <<EOF
# Private test instance: nothing from /etc/imapd.conf is used.
configdirectory: $c/config
proc_path: $c/run/proc
mboxname_lockpath: $c/run/lock
defaultpartition: default
partition-default: $c/spool
temp_path: $c/tmp
sievedir: $c/sieve
idlesocket: $c/socket/idle
notifysocket: $c/socket/notify
servername: localhost
syslog_prefix: tidemarsh-test
hashimapspool: true
altnamespace: no
unixhierarchysep: no
umask: 077
allowplaintext: yes
# Keep 8-bit header bytes as sent (Cyrus would turn them into X).
munge8bit: no
sasl_pwcheck_method: auxprop
sasl_auxprop_plugin: sasldb
sasl_sasldb_path: $c/sasldb2
sasl_auto_transition: no
autocreate_quota: 0
popminpoll: 0
tls_server_cert: $c/cert.pem
tls_server_key: $c/key.pem
EOF
    cat > "$c/cyrus.conf" <<EOF
START {
  recover   cmd="ctl_cyrusdb -C $c/imapd.conf -r"
}
SERVICES {
  imapunix  cmd="$imapd -C $c/imapd.conf" listen="$c/socket/imap" prefork=1 maxchild=100
  pop3      cmd="$pop3d -C $c/imapd.conf" listen="127.0.0.1:$PORT" prefork=1 maxchild=200
  pop3s     cmd="$pop3d -s -C $c/imapd.conf" listen="127.0.0.1:$TLSPORT" prefork=1 maxchild=200
}
EVENTS {
  checkpoint cmd="ctl_cyrusdb -C $c/imapd.conf -c" period=30
}
EOF
    # An empty sasldb with the right owner: a throw-away login makes the file.
    printf x | saslpasswd2 -p -c -f "$c/sasldb2" -u localhost tidemarsh-init
    saslpasswd2 -d -f "$c/sasldb2" -u localhost tidemarsh-init
    chown -R cyrus:mail "$c"
    chmod 640 "$c/sasldb2"
    chmod 600 "$c/key.pem"

    # Own session, std streams to the log; each step execs the next, so $! is the master.
    # shellcheck disable=SC2016
    setsid unshare --mount --propagation private sh -c '
        mount -t tmpfs -o mode=0755 tidemarsh-cyrus "$1" && install -d -o cyrus -g mail "$1/proc" "$1/lock" &&
        shift && exec "$@"' sh "$c/run" \
        "$bin/master" -C "$c/imapd.conf" -M "$c/cyrus.conf" -p "$c/master.pid" \
        </dev/null >>"$STATE/server.log" 2>&1 &
    echo $! > "$STATE/server.pid"
    for _ in $(seq 100); do
        [ -S "$c/socket/imap" ] && return 0
        alive "$(cat "$STATE/server.pid")" || break
        sleep 0.1
    done
    echo "the Cyrus master did not open its IMAP socket" >"$STATE/start.err"
    return 1
}

server_ini() { # what TestMailServer needs beyond the common keys
    echo "imap_socket=$STATE/cyrus/socket/imap"
    echo "telemetry_dir=$STATE/cyrus/config/log"
}

# Lines "user<TAB>password<TAB>home<TAB>lock" on stdin become sasldb logins, each
# with a telemetry folder so its POP3 sessions are recorded.
server_add_logins() {
    local c=$STATE/cyrus user pass _
    while IFS=$'\t' read -r user pass _; do
        printf '%s' "$pass" | saslpasswd2 -p -c -f "$c/sasldb2" -u localhost "$user"
        install -d -o cyrus -g mail "$c/config/log/$user"
    done
}
