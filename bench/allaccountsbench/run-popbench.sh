#!/bin/bash
# Check All Accounts of three accounts of N messages each (default 10,000)
# behind a round trip of RTT ms (default 20), on the popbench pieces: one
# generated Maildir and one private Dovecot per account (gen_maildir.py,
# dovecot-start.sh) and delay_proxy.py in front of them. Run as root.
#   usage: POPBENCH=/path/to/popbench run-popbench.sh BUILD_DIR [N] [RTT_MS]
set -euo pipefail
BUILD=$(cd "${1:?usage: POPBENCH=... run-popbench.sh BUILD_DIR [N] [RTT_MS]}" && pwd)
N=${2:-10000}
RTT=${3:-20}
POPBENCH=$(cd "${POPBENCH:?set POPBENCH to the popbench folder}" && pwd)
BENCH=$BUILD/bench/allaccountsbench/allaccountsbench
[ -x "$BENCH" ] || { echo "build allaccountsbench first" >&2; exit 1; }
id popbench >/dev/null 2>&1 || useradd --system --no-create-home --shell /usr/sbin/nologin popbench

WORK=$(mktemp -d "${TMPDIR:-/tmp}/allaccountsbench.XXXXXX")
chmod 711 "$WORK"
PROXY=
cleanup() {
    set +e # every step, whatever the one before it did
    if [ -n "$PROXY" ]; then
        kill "$PROXY" 2>/dev/null
        wait "$PROXY" 2>/dev/null
    fi
    for k in 1 2 3; do sh "$POPBENCH/dovecot-stop.sh" "$WORK/box$k" 2>/dev/null; done
    rm -rf "$WORK"
}
trap cleanup EXIT

# Nine free loopback ports: POP3 and POP3S of each server, and the proxy's.
read -r -a PORTS <<<"$(python3 -c '
import socket
s = [socket.socket() for _ in range(9)]
for x in s: x.bind(("127.0.0.1", 0))
print(" ".join(str(x.getsockname()[1]) for x in s))')"

MAPS=()
ACCOUNTS=()
: >"$WORK/ca.pem"
for k in 1 2 3; do
    box=$WORK/box$k
    mkdir -p "$box"
    python3 "$POPBENCH/gen_maildir.py" "$box/home/Maildir" "$N" --seed "$k" >/dev/null
    POP3_PORT=${PORTS[$((3 * k - 3))]} POP3S_PORT=${PORTS[$((3 * k - 2))]} POP3_USER=user$k POP3_PASS=pass$k \
        bash "$POPBENCH/dovecot-start.sh" "$box"
    cat "$box/dovecot/cert.pem" >>"$WORK/ca.pem"
    MAPS+=(--map "${PORTS[$((3 * k - 1))]}:${PORTS[$((3 * k - 3))]}")
    ACCOUNTS+=(user$k pass$k "127.0.0.1:${PORTS[$((3 * k - 1))]}")
done
(cd "$POPBENCH" && exec python3 delay_proxy.py --rtt-ms "$RTT" --ready "$WORK/proxy.ready" "${MAPS[@]}") &
PROXY=$!
for _ in $(seq 100); do [ -e "$WORK/proxy.ready" ] && break; sleep 0.1; done

echo "three accounts of $N messages each, ${RTT} ms round trip"
mkdir -p -m 700 "$WORK/xdg"
XDG_RUNTIME_DIR=$WORK/xdg QT_QPA_PLATFORM=offscreen "$BENCH" "$WORK/ca.pem" "${ACCOUNTS[@]}"
