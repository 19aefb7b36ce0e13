#!/usr/bin/env bash
# Runs a command where Qt's AT-SPI bridge is live, as under a screen reader: a
# private X display (tests/shell/run-with-xvfb.sh), a private session bus and an
# accessibility bus on it. Exits 77 (skipped) when the bus launcher is missing.
set -uo pipefail
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
launcher=/usr/libexec/at-spi-bus-launcher
if [ "${1:-}" = --inner ]; then
    shift
    "$launcher" --launch-immediately >/dev/null 2>&1 &
    bus=$!
    QT_LINUX_ACCESSIBILITY_ALWAYS_ON=1 "$@"
    rc=$?
    kill "$bus" 2>/dev/null
    wait "$bus" 2>/dev/null
    exit $rc
fi
if [ ! -x "$launcher" ] || ! command -v dbus-run-session >/dev/null; then
    echo "skipped: at-spi2-core and dbus are needed" >&2
    exit 77
fi
export XDG_RUNTIME_DIR=${XDG_RUNTIME_DIR:-$(mktemp -d)}
exec bash "$here/../shell/run-with-xvfb.sh" dbus-run-session -- bash "$here/run-with-atspi.sh" --inner "$@"
