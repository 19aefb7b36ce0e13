# Courier part of mailserver.sh (sourced). Reads STATE, PORT, TLSPORT, MAIL_UID,
# MAIL_GID; writes STATE/courier/ and STATE/server.pid.
# Courier's auth library has its paths compiled in (/etc/courier/authdaemonrc,
# /etc/courier/userdb.dat, /run/courier/authdaemon/socket), so authdaemond and
# the two couriertcpd run in a mount namespace of their own where STATE/courier/etc
# is mounted on /etc/courier and STATE/courier/run on /run/courier: the host's
# files are neither read nor changed. courier-pop conflicts with dovecot-pop3d,
# so scripts/install-deps.sh unpacks it (unpack-daemons.sh) instead of installing it.
# Mailboxes are userdb lines (SHA-512 crypt) turned into userdb.dat by makeuserdb;
# authuserdb reopens userdb.dat when its mtime changes. Mail is ~/Maildir.
# The log (STATE/server.log) has per session "LOGIN, user=...", "LOGOUT, user=...,
# top=BYTES, retr=BYTES, ..." or "DISCONNECTED, user=...", and a "DELETED" line
# per removed message.

# No per-session lock: a second session of a mailbox is let in.
SERVER_LOCK_SESSION=0
COURIER_PKG=${TIDEMARSH_PKGROOT:-/var/lib/tidemarsh-test}/courier-pop

server_unavailable() { # prints why this server cannot run here
    if [ "$(id -u)" -ne 0 ]; then
        echo "Courier runs as root only (its auth paths need a private mount namespace)"
    elif [ ! -x "$COURIER_PKG/usr/lib/courier/courier/courierpop3d" ] || ! command -v makeuserdb >/dev/null; then
        echo "Courier is not installed: run scripts/install-deps.sh"
    fi
}

server_start() {
    local c=$STATE/courier
    rm -rf "$c/run"
    mkdir -p "$c/etc" "$c/run/authdaemon"
    chown root:courier "$c/run" "$c/etc"
    chmod 775 "$c/run"
    chmod 750 "$c/etc"
    chown courier:courier "$c/run/authdaemon"
    chmod 750 "$c/run/authdaemon"
    runuser -u courier -- test -x "$STATE" || { echo "user courier cannot reach $STATE" >"$STATE/start.err"; return 1; }

    # couriertls wants key and certificate in one file, owned by courier, not world-readable.
    cat "$STATE/server.key" "$STATE/server.pem" > "$c/etc/pop3d.pem"
    [ -s "$c/etc/dhparams.pem" ] ||
        openssl genpkey -genparam -algorithm DH -pkeyopt group:ffdhe2048 -out "$c/etc/dhparams.pem" 2>/dev/null
    chown courier:courier "$c/etc/pop3d.pem" "$c/etc/dhparams.pem"
    chmod 600 "$c/etc/pop3d.pem"

    cat > "$c/etc/authdaemonrc" <<EOF
# Private test instance, mounted on /etc/courier in its own mount namespace.
authmodulelist="authuserdb"
daemons=3
authdaemonvar=/run/courier/authdaemon
DEBUG_LOGIN=0
DEFAULTOPTIONS=""
LOGGEROPTS=""
EOF
    chgrp courier "$c/etc/authdaemonrc"
    chmod 640 "$c/etc/authdaemonrc"
    [ -f "$c/etc/userdb" ] || : > "$c/etc/userdb"
    chmod 600 "$c/etc/userdb"
    makeuserdb -f "$c/etc/userdb"

    # Debian's pop3d/pop3d-ssl settings from the unpacked package, then ours.
    cat > "$c/pop3d.env" <<EOF
prefix=/usr
exec_prefix=/usr
sbindir=/usr/sbin
bindir=/usr/bin
libexecdir=/usr/lib/courier
. $COURIER_PKG/etc/courier/pop3d
. $COURIER_PKG/etc/courier/pop3d-ssl
MAXDAEMONS=200
MAXPERIP=200
POP3_LOG_DELETIONS=1
TLS_CERTFILE=/etc/courier/pop3d.pem
TLS_DHPARAMS=/etc/courier/dhparams.pem
TLS_CACHEFILE=$c/tlscache
TLS_CACHESIZE=524288
EOF
    : > "$c/tlscache"
    chown courier:courier "$c/tlscache"
    chmod 600 "$c/tlscache"

    local login=$COURIER_PKG/usr/lib/courier/courier/courierpop3login
    local pop3d=$COURIER_PKG/usr/lib/courier/courier/courierpop3d
    # The holder shell lives in the new mount namespace and owns the daemons; on
    # TERM it stops them (couriertcpd passes TERM on to its sessions).
    cat > "$c/holder.sh" <<EOF
mount --bind "$c/etc" /etc/courier || exit 1
mount --bind "$c/run" /run/courier || exit 1
/usr/lib/courier/courier-authlib/authdaemond &
A=\$!
( set -a; . "$c/pop3d.env"; POP3_STARTTLS=YES; POP3_TLS_REQUIRED=0
  exec couriertcpd -address=127.0.0.1 -maxprocs=\$MAXDAEMONS -maxperip=\$MAXPERIP \$TCPDOPTS \\
       $PORT "$login" "$pop3d" Maildir ) &
P=\$!
( set -a; . "$c/pop3d.env"; POP3_TLS=1; POP3_STARTTLS=NO; POP3_TLS_REQUIRED=0
  exec couriertcpd -address=127.0.0.1 -maxprocs=\$MAXDAEMONS -maxperip=\$MAXPERIP \$TCPDOPTS \\
       $TLSPORT \$COURIERTLS -server -tcpd -user=courier "$login" "$pop3d" Maildir ) &
S=\$!
trap 'kill -TERM \$P \$S \$A 2>/dev/null' TERM INT
wait
wait
EOF
    [ -d /run/courier ] || mkdir -p /run/courier # the mount point; tmpfiles.d makes it at boot
    # Own session (kill_server stops its members), std streams to the log.
    setsid env -i PATH=/usr/sbin:/usr/bin:/sbin:/bin \
        unshare --mount --propagation private sh "$c/holder.sh" </dev/null >>"$STATE/server.log" 2>&1 &
    echo $! > "$STATE/server.pid"
}

# Lines "user<TAB>password<TAB>home<TAB>lock" on stdin become logins.
server_add_logins() {
    local c=$STATE/courier user pass home _ hash stamp last
    while IFS=$'\t' read -r user pass home _; do
        hash=$(printf '%s\n' "$pass" | openssl passwd -6 -stdin)
        printf '%s\tuid=%s|gid=%s|home=%s|mail=%s|systempw=%s\n' "$user" "$MAIL_UID" "$MAIL_GID" \
            "$home" "$home/Maildir" "$hash" >> "$c/etc/userdb"
    done
    makeuserdb -f "$c/etc/userdb"
    # authuserdb reopens the file when its mtime (in seconds) differs from the one it
    # opened: every rebuild gets a later second than the one before.
    last=$(cat "$c/userdb.stamp" 2>/dev/null || echo 0)
    stamp=$(date +%s)
    [ "$stamp" -gt "$last" ] || stamp=$((last + 1))
    touch -d "@$stamp" "$c/etc/userdb.dat"
    echo "$stamp" > "$c/userdb.stamp"
}
