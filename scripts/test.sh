#!/usr/bin/env bash
# Sets up and runs every test: installs the packages, builds twice (plain and with
# AddressSanitizer + LeakSanitizer + UndefinedBehaviorSanitizer) and runs the CTest
# suite on each, then the ThreadSanitizer run of scripts/tsan.sh; fails too when a
# C++ file differs from the clang-format style (scripts/format.sh).
#   scripts/test.sh            all three
#   scripts/test.sh plain      only the plain build (likewise: sanitize, tsan)
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
cd "$here"
bash scripts/install-deps.sh all

jobs=$(nproc)
export XDG_RUNTIME_DIR=${XDG_RUNTIME_DIR:-$(mktemp -d /tmp/tidemarsh-xdg.XXXXXX)}
chmod 700 "$XDG_RUNTIME_DIR"

run_suite() { # name, extra cmake args...
    local name=$1; shift
    local dir=build/$name
    echo "=== $name build" >&2
    cmake -S . -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo "$@" >/dev/null
    cmake --build "$dir" -j "$jobs"
    echo "=== $name tests" >&2
    ctest --test-dir "$dir" --output-on-failure -j "$jobs" -LE bench
}

variants=${1:-all}
status=0
echo "=== format check" >&2
bash scripts/format.sh --check || status=1
if [ "$variants" = all ] || [ "$variants" = plain ]; then
    run_suite plain || status=1
fi
if [ "$variants" = all ] || [ "$variants" = sanitize ]; then
    # Courier and Cyrus e2e runs only in the plain build (CI time); their integration tests run in both.
    run_suite sanitize -DTIDEMARSH_SANITIZE=ON -DTIDEMARSH_BUILD_FUZZERS=ON -DTIDEMARSH_E2E_MAILSERVERS=dovecot || status=1
fi
if [ "$variants" = all ] || [ "$variants" = tsan ]; then
    # ThreadSanitizer cannot share a build with AddressSanitizer: its own, of the
    # tests that drive the background header-file writer.
    JOBS=$jobs bash scripts/tsan.sh || status=1
fi
exit $status
