#!/usr/bin/env bash
# Builds the tests that run work on other threads with ThreadSanitizer (build/tsan,
# only the targets they need) and runs them: the store's tests, the whole check
# against the Dovecot fixture (the background header-file writer and the header
# parser thread), the job queue's transcripts, the user's commands behind a slow
# server, and the preview decoder on several threads at once. Any report fails the test when the program exits.
#   scripts/tsan.sh
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
cd "$here"
jobs=${JOBS:-$(nproc)}
tests=(storetest e2echecktest_dovecot transcripttest e2equeuetest headerparsertest bodypreviewtest watchtest)
dir=build/tsan

echo "=== tsan build" >&2
cmake -S . -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTIDEMARSH_TSAN=ON \
    -DTIDEMARSH_TEST_MAILSERVERS=dovecot -DTIDEMARSH_E2E_MAILSERVERS=dovecot >/dev/null
cmake --build "$dir" -j "$jobs" --target store_crash_child "${tests[@]}"
echo "=== tsan tests" >&2
# The fixture's start and stop come with the tests that require it.
ctest --test-dir "$dir" --output-on-failure -j "$jobs" -R "^($(IFS='|'; echo "${tests[*]}"))\$"
