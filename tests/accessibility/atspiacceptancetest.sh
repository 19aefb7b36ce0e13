#!/usr/bin/env bash
# Acceptance run over AT-SPI: the real program under a private Xvfb, session bus
# and accessibility bus, driven by atspiacceptancetest.py through what a screen
# reader sees. About five seconds; CTest runs it as atspiacceptancetest (label x11).
#   usage: tests/accessibility/atspiacceptancetest.sh PATH/TO/tidemarsh
# Needs Debian's xvfb dbus-x11 at-spi2-core python3-pyatspi; exits 77 (skipped) without them.
set -u
[ $# -eq 1 ] && [ -x "$1" ] || { echo "usage: $0 PATH/TO/tidemarsh" >&2; exit 2; }
if ! command -v Xvfb >/dev/null || ! command -v dbus-launch >/dev/null || [ ! -x /usr/libexec/at-spi-bus-launcher ] \
    || ! /usr/bin/python3 -c "import pyatspi" 2>/dev/null; then
    echo "skipped: xvfb, dbus-x11, at-spi2-core and python3-pyatspi are needed" >&2
    exit 77
fi
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
work=$(mktemp -d); chmod 700 "$work"
XVFB=; BL=
cleanup() {
    for p in $BL $XVFB; do kill "$p" 2>/dev/null; done
    [ -n "${DBUS_SESSION_BUS_PID:-}" ] && kill "$DBUS_SESSION_BUS_PID" 2>/dev/null
    rm -rf "$work"
}
trap cleanup EXIT
# Xvfb picks a free display itself and reports it: no race with other tests' servers.
mkfifo "$work/xready"
Xvfb -displayfd 3 -noreset -screen 0 1280x900x24 -nolisten tcp 3>"$work/xready" 2>/dev/null & XVFB=$!
if read -r -t 30 d <"$work/xready" && [ -n "$d" ]; then
    export DISPLAY=:$d
else
    echo "no X display: Xvfb did not start" >&2
    exit 1
fi
eval "$(dbus-launch --sh-syntax)"
export XDG_RUNTIME_DIR=$work
/usr/libexec/at-spi-bus-launcher --launch-immediately >/dev/null 2>&1 & BL=$!
sleep 1
# The program keeps its files beside itself: give it a folder of its own.
mkdir "$work/app"
cp "$1" "$work/app/tidemarsh"
/usr/bin/python3 "$here/atspiacceptancetest.py" "$work/app"
