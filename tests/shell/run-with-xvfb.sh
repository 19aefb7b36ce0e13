#!/usr/bin/env bash
# Runs a command on a private Xvfb display of its own (no window manager, no tray
# host: tests that need a tray start trayer themselves). Xvfb picks a free display
# number itself and reports it (-displayfd), so several of these can run at once:
# a number drawn by the script could be taken by another test's server between the
# check and the start.
# -noreset: without it the server resets whenever its last client leaves (each
# xdotool call is one), and a program connecting just then is refused.
# TIDEMARSH_X_WM=openbox also runs a window manager: focus, activation and the
# close box then behave as on a desktop, which bare Xvfb does not show.
set -uo pipefail
tmp=$(mktemp -d "${TMPDIR:-/tmp}/tidemarsh-x.XXXXXX")
xvfb=
wm=
cleanup() {
    [ -n "$wm" ] && kill "$wm" 2>/dev/null && wait "$wm" 2>/dev/null
    [ -n "$xvfb" ] && kill "$xvfb" 2>/dev/null && wait "$xvfb" 2>/dev/null
    rm -rf "$tmp"
}
trap cleanup EXIT

display=
for _ in $(seq 5); do
    rm -f "$tmp/ready"
    mkfifo "$tmp/ready"
    Xvfb -displayfd 3 -noreset -screen 0 1280x800x24 -nolisten tcp 3>"$tmp/ready" 2>"$tmp/xvfb.log" &
    xvfb=$!
    # Xvfb writes the number once it accepts clients; EOF means it gave up.
    if read -r -t 30 display <"$tmp/ready" && [ -n "$display" ]; then
        break
    fi
    kill "$xvfb" 2>/dev/null
    wait "$xvfb" 2>/dev/null
    xvfb=
    display=
done
if [ -z "$display" ]; then
    echo "Xvfb did not start:" >&2
    cat "$tmp/xvfb.log" >&2
    exit 1
fi
export DISPLAY=":$display" QT_QPA_PLATFORM=xcb
if [ "${TIDEMARSH_X_WM:-}" = openbox ]; then
    command -v openbox >/dev/null || { echo "openbox is not installed" >&2; exit 1; }
    openbox --sm-disable >"$tmp/wm.log" 2>&1 &
    wm=$!
    # Ready once it has announced itself on the root window.
    for _ in $(seq 100); do
        xprop -root _NET_SUPPORTING_WM_CHECK 2>/dev/null | grep -q 'window id' && break
        sleep 0.1
    done
    xprop -root _NET_SUPPORTING_WM_CHECK 2>/dev/null | grep -q 'window id' ||
        { echo "openbox did not start:" >&2; cat "$tmp/wm.log" >&2; exit 1; }
fi
"$@"
