#!/usr/bin/env bash
# Runs a command on a private Xvfb display of its own (no window manager, no tray
# host: tests that need a tray start trayer themselves). The display number is
# chosen by Xvfb, so several of these can run at once.
set -uo pipefail
tmp=$(mktemp -d "${TMPDIR:-/tmp}/tidemarsh-x.XXXXXX")
mkfifo "$tmp/display"
Xvfb -displayfd 3 -screen 0 1280x800x24 -nolisten tcp 3>"$tmp/display" 2>"$tmp/xvfb.log" &
xvfb=$!
cleanup() {
    kill "$xvfb" 2>/dev/null
    wait "$xvfb" 2>/dev/null
    rm -rf "$tmp"
}
trap cleanup EXIT
if ! read -r -t 30 display <"$tmp/display"; then
    echo "Xvfb did not start:" >&2
    cat "$tmp/xvfb.log" >&2
    exit 1
fi
export DISPLAY=":$display" QT_QPA_PLATFORM=xcb
"$@"
