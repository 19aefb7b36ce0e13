# Dovecot part of mailserver.sh (sourced). Reads STATE, PORT, TLSPORT, MAIL_UID,
# MAIL_GID; writes STATE/dovecot.conf and STATE/server.pid.
# Mailboxes are passwd-file lines (user:{PLAIN}pass:uid:gid::home::extra) with
# mail in ~/Maildir; Dovecot notices a changed passwd file on the next login.
# A line's extra field userdb_pop3_lock_session=yes makes a second session of
# that mailbox get -ERR [IN-USE].
# TIDEMARSH_DOVECOT_OAUTH2_URL (an introspection URL) adds XOAUTH2 and
# OAUTHBEARER logins, checked by that endpoint: the token's "username" must be
# a mailbox of the passwd file; passwords keep working for PLAIN and LOGIN.

# The mailbox option is per user, so every mailbox can ask for it.
SERVER_LOCK_SESSION=1

server_unavailable() { # prints why this server cannot run here
    command -v dovecot >/dev/null || echo "Dovecot is not installed: run scripts/install-deps.sh"
}

server_start() {
    local d=$STATE/dovecot internal=""
    mkdir -p "$d/run" "$d/state"
    if [ "$(id -u)" -eq 0 ]; then
        # auth runs as the dovecot user and must read the passwd file
        chgrp dovecot "$STATE/passwd"
        chmod 640 "$STATE/passwd"
    else
        # Without root nothing can change user: every process runs as us, unchrooted.
        internal="default_internal_user = $(id -un)
default_internal_group = $(id -gn)
default_login_user = $(id -un)
service anvil {
  chroot =
}
service pop3-login {
  chroot =
}"
    fi
    local mechanisms="plain login" passdbs=""
    if [ -n "${TIDEMARSH_DOVECOT_OAUTH2_URL:-}" ]; then
        mechanisms="plain login xoauth2 oauthbearer"
        cat > "$d/oauth2.conf.ext" <<EXT
introspection_mode = auth
introspection_url = $TIDEMARSH_DOVECOT_OAUTH2_URL
username_attribute = username
active_attribute = active
active_value = true
force_introspection = yes
EXT
        passdbs="passdb {
  driver = oauth2
  mechanisms = xoauth2 oauthbearer
  args = $d/oauth2.conf.ext
}"
    fi
    cat > "$d/dovecot.conf" <<CONF
# Private test instance: nothing from /etc/dovecot is read.
instance_name = tidemarsh-test-$$
base_dir = $d/run
state_dir = $d/state
log_path = $STATE/server.log
protocols = pop3
listen = 127.0.0.1
ssl = yes
ssl_cert = <$STATE/server.pem
ssl_key = <$STATE/server.key
disable_plaintext_auth = no
auth_mechanisms = $mechanisms
auth_verbose = yes
first_valid_uid = $MAIL_UID
last_valid_uid = $MAIL_UID
mail_location = maildir:~/Maildir
mail_max_userip_connections = 100
pop3_uidl_format = %08Xu%08Xv
pop3_logout_format = top=%t/%p, retr=%r/%b, del=%d/%m, size=%s
# Each session's traffic, where a test made the folder (TestMailServer::MailboxOptions).
rawlog_dir = %h/rawlog
$internal
$passdbs
passdb {
  driver = passwd-file
  args = $STATE/passwd
  mechanisms = plain login
}
userdb {
  driver = passwd-file
  args = $STATE/passwd
}
# Tests share this server, and some log in with wrong passwords on purpose: the
# penalty Dovecot then puts on every login from 127.0.0.1 (up to 15 s) would
# stall the other tests' logins.
service anvil {
  unix_listener anvil-auth-penalty {
    mode = 0
  }
}
service pop3-login {
  inet_listener pop3 {
    port = $PORT
  }
  inet_listener pop3s {
    port = $TLSPORT
    ssl = yes
  }
}
CONF
    rm -f "$d/run/master.pid"
    # Std streams must not be inherited: the daemonised master would hold a
    # caller's pipe (CTest's) open forever.
    dovecot -c "$d/dovecot.conf" </dev/null >"$STATE/start.err" 2>&1 || return 1
    for _ in $(seq 50); do
        [ -s "$d/run/master.pid" ] && break
        sleep 0.1
    done
    [ -s "$d/run/master.pid" ] || return 1
    cp "$d/run/master.pid" "$STATE/server.pid"
}
