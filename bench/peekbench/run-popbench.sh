#!/bin/bash
# Background looks at one mailbox of N messages (default 10,000) behind a round
# trip of RTT ms (default 20), on the popbench pieces (gen_maildir.py,
# dovecot-start.sh, delay_proxy.py), then what Dovecot logged of each session.
# Run as root.
#   usage: POPBENCH=/path/to/popbench run-popbench.sh BUILD_DIR [N] [RTT_MS]
set -euo pipefail
BUILD=$(cd "${1:?usage: POPBENCH=... run-popbench.sh BUILD_DIR [N] [RTT_MS]}" && pwd)
N=${2:-10000}
RTT=${3:-20}
POPBENCH=$(cd "${POPBENCH:?set POPBENCH to the popbench folder}" && pwd)
BENCH=$BUILD/bench/peekbench/peekbench
[ -x "$BENCH" ] || { echo "build peekbench first" >&2; exit 1; }
id popbench >/dev/null 2>&1 || useradd --system --no-create-home --shell /usr/sbin/nologin popbench

WORK=$(mktemp -d "${TMPDIR:-/tmp}/peekbench.XXXXXX")
chmod 711 "$WORK"
PROXY=
cleanup() {
    set +e # every step, whatever the one before it did
    if [ -n "$PROXY" ]; then
        kill "$PROXY" 2>/dev/null
        wait "$PROXY" 2>/dev/null
    fi
    sh "$POPBENCH/dovecot-stop.sh" "$WORK/box" 2>/dev/null
    rm -rf "$WORK"
}
trap cleanup EXIT

read -r -a PORTS <<<"$(python3 -c '
import socket
s = [socket.socket() for _ in range(3)]
for x in s: x.bind(("127.0.0.1", 0))
print(" ".join(str(x.getsockname()[1]) for x in s))')"
mkdir -p "$WORK/box"
python3 "$POPBENCH/gen_maildir.py" "$WORK/box/home/Maildir" "$N" --seed 1 >/dev/null
POP3_PORT=${PORTS[0]} POP3S_PORT=${PORTS[1]} POP3_USER=user1 POP3_PASS=pass1 bash "$POPBENCH/dovecot-start.sh" "$WORK/box"
(cd "$POPBENCH" && exec python3 delay_proxy.py --rtt-ms "$RTT" --ready "$WORK/proxy.ready" --map "${PORTS[2]}:${PORTS[0]}") &
PROXY=$!
for _ in $(seq 100); do [ -e "$WORK/proxy.ready" ] && break; sleep 0.1; done

echo "one mailbox of $N messages, ${RTT} ms round trip"
mkdir -p -m 700 "$WORK/xdg"
XDG_RUNTIME_DIR=$WORK/xdg "$BENCH" "$WORK/box/dovecot/cert.pem" user1 pass1 "127.0.0.1:${PORTS[2]}" \
    "$WORK/box/home/Maildir"
echo "what the server saw, session by session:"
sleep 1
grep -o 'Logged out top=.*' "$WORK/box/dovecot.log" || grep -i 'logged out' "$WORK/box/dovecot.log"

# The program itself, watching the account every minute (its first look comes a
# minute after the start): CPU and memory between two looks.
PROGRAM=$BUILD/src/shell/tidemarsh
if [ -x "$PROGRAM" ]; then
    mkdir -p "$WORK/prog"
    cp "$PROGRAM" "$WORK/prog/tidemarsh"
    "$BENCH" "$WORK/box/dovecot/cert.pem" user1 pass1 "127.0.0.1:${PORTS[2]}" "$WORK/prog" --folder
    XDG_RUNTIME_DIR=$WORK/xdg QT_QPA_PLATFORM=offscreen DBUS_SESSION_BUS_ADDRESS=disabled: \
        "$WORK/prog/tidemarsh" --hidden &
    APP=$!
    ticks() { awk '{print $14 + $15}' "/proc/$APP/stat"; }
    sleep 65
    t0=$(ticks); rss0=$(awk '/VmRSS/ {print $2}' "/proc/$APP/status")
    sleep 50
    t1=$(ticks); rss1=$(awk '/VmRSS/ {print $2}' "/proc/$APP/status")
    hz=$(getconf CLK_TCK)
    echo "program between looks: $(( (t1 - t0) * 1000 / hz )) ms CPU in 50 s; resident $rss0 KB, then $rss1 KB"
    kill "$APP"; wait "$APP" 2>/dev/null || true
    echo "looks the program made:"
    grep -c 'Logged out top=' "$WORK/box/dovecot.log"
fi
