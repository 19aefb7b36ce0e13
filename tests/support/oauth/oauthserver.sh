#!/usr/bin/env bash
# The OAuth2 fixture: the test identity provider (identityprovider.py) on a
# free loopback port, and a private Dovecot whose XOAUTH2 and OAUTHBEARER
# logins ask that provider's introspection endpoint.
#   oauthserver.sh start DIR   writes DIR/oauth.ini and DIR/mailserver/mailserver.ini
#   oauthserver.sh stop DIR
# Exits 77 (skipped) when Dovecot cannot run here.
set -Eeuo pipefail
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
mailserver=$here/../mailserver/mailserver.sh
cmd=$1 dir=$2

stop() {
    bash "$mailserver" stop "$dir/mailserver" || true
    if [ -s "$dir/idp.pid" ]; then
        kill "$(cat "$dir/idp.pid")" 2>/dev/null || true
        rm -f "$dir/idp.pid"
    fi
    rm -f "$dir/oauth.ini" "$dir/idp.port"
}

start() {
    mkdir -p "$dir"
    dir=$(cd "$dir" && pwd)
    stop
    setsid python3 "$here/identityprovider.py" --port-file "$dir/idp.port" \
        </dev/null >"$dir/idp.log" 2>&1 &
    echo $! > "$dir/idp.pid"
    for _ in $(seq 100); do [ -s "$dir/idp.port" ] && break; sleep 0.1; done
    [ -s "$dir/idp.port" ] || { cat "$dir/idp.log" >&2; stop; exit 1; }
    local port rc=0
    port=$(cat "$dir/idp.port")
    TIDEMARSH_DOVECOT_OAUTH2_URL="http://127.0.0.1:$port/userinfo" \
        bash "$mailserver" start dovecot "$dir/mailserver" || rc=$?
    if [ "$rc" -ne 0 ]; then
        kill "$(cat "$dir/idp.pid")" 2>/dev/null || true
        exit "$rc"
    fi
    printf '[idp]\nport=%s\npid=%s\nlog=%s\n' "$port" "$(cat "$dir/idp.pid")" "$dir/idp.log" > "$dir/oauth.ini"
    echo "oauthserver: identity provider on 127.0.0.1:$port" >&2
}

case $cmd in
    start) start ;;
    stop) stop ;;
    *) echo "usage: $0 start|stop DIR" >&2; exit 2 ;;
esac
