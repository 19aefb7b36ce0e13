#!/bin/sh
# Unpacks the Courier, Cyrus and GNU Mailutils POP3 daemons for the tests.
#   unpack-daemons.sh            (root; idempotent)
# courier-pop, cyrus-pop3d and dovecot-pop3d all provide and conflict with
# "pop3-server", so only Dovecot's is installed. The other two (and cyrus-imapd,
# whose imapd fills the Cyrus mailboxes; it conflicts with "imap-server") are
# unpacked with dpkg-deb -x into $TIDEMARSH_PKGROOT/<package>, at the version of
# their installed base package (courier-base, cyrus-common), which brings every
# library they link. mailutils-pop3d (the APOP tests' server, apopserver.sh)
# conflicts with nothing, but installing it would install a system POP3 service:
# it is unpacked at the version of its installed library, libmailutils9.
# Nothing is unpacked under /etc or /usr.
set -eu
PKGROOT=${TIDEMARSH_PKGROOT:-/var/lib/tidemarsh-test}

fetch() { (cd "$tmp" && apt-get download -qq "$1=$2" 2>/dev/null); }
# unpack PKG BASE: PKG's files at BASE's installed version, in $PKGROOT/PKG
unpack() {
    ver=$(dpkg-query -W -f='${Version}' "$2" 2>/dev/null) || { echo "unpack-daemons: $2 is not installed" >&2; exit 1; }
    dir=$PKGROOT/$1
    [ "$(cat "$dir/.version" 2>/dev/null)" = "$ver" ] && return 0
    echo "unpack-daemons: unpacking $1 $ver into $dir" >&2
    tmp=$(mktemp -d)
    chown _apt "$tmp" 2>/dev/null || true # apt downloads as _apt
    if ! fetch "$1" "$ver"; then
        apt-get update -qq
        fetch "$1" "$ver" || { echo "unpack-daemons: cannot download $1=$ver" >&2; rm -rf "$tmp"; exit 1; }
    fi
    rm -rf "$dir"
    mkdir -p "$dir"
    dpkg-deb -x "$tmp"/*.deb "$dir"
    echo "$ver" > "$dir/.version"
    rm -rf "$tmp"
}
unpack courier-pop courier-base
unpack cyrus-pop3d cyrus-common
unpack cyrus-imapd cyrus-common
unpack mailutils-pop3d libmailutils9
