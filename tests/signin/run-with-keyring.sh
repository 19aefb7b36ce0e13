#!/usr/bin/env bash
# Runs a command with a Secret Service of its own: a private session bus
# (dbus-run-session) and gnome-keyring-daemon on it, its login keyring made and
# unlocked with a password fed on stdin, in a private HOME. Nothing reaches the
# user's bus or keyring. Exits 77 (skipped) when gnome-keyring is missing.
set -uo pipefail
if ! command -v gnome-keyring-daemon >/dev/null || ! command -v dbus-run-session >/dev/null; then
    echo "keyring unavailable: gnome-keyring or dbus-run-session is not installed (scripts/install-deps.sh)"
    exit 77
fi
tmp=$(mktemp -d "${TMPDIR:-/tmp}/tidemarsh-keyring.XXXXXX")
trap 'rm -rf "$tmp"' EXIT
mkdir -p "$tmp/home" "$tmp/data" "$tmp/runtime"
chmod 700 "$tmp/runtime"
export HOME=$tmp/home XDG_DATA_HOME=$tmp/data XDG_RUNTIME_DIR=$tmp/runtime
unset GNOME_KEYRING_CONTROL SSH_AUTH_SOCK
exec dbus-run-session -- bash -c '
    printf "%s" test-keyring-password | gnome-keyring-daemon --foreground --unlock --components=secrets \
        >"$XDG_RUNTIME_DIR/keyring.out" 2>&1 &
    keyring=$!
    # Ready once the service has its name on the bus.
    for _ in $(seq 100); do
        dbus-send --session --print-reply --dest=org.freedesktop.DBus /org/freedesktop/DBus \
            org.freedesktop.DBus.NameHasOwner string:org.freedesktop.secrets 2>/dev/null | grep -q "boolean true" && break
        sleep 0.1
    done
    "$@"
    rc=$?
    kill "$keyring" 2>/dev/null
    wait "$keyring" 2>/dev/null
    exit $rc
' keyring "$@"
