#!/usr/bin/env bash
# Sets up and starts Tidemarsh: installs the packages, builds, installs the program
# into its own folder (default ~/Tidemarsh, or $TIDEMARSH_HOME) and starts it there.
# The program keeps its data files beside itself, so rebuilding or cleaning the
# build folder never touches them.
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
cd "$here"
bash scripts/install-deps.sh run
prefix=${TIDEMARSH_HOME:-$HOME/Tidemarsh}
cmake -S . -B build/release -G Ninja -DCMAKE_BUILD_TYPE=Release -DTIDEMARSH_BUILD_TESTS=OFF >/dev/null
cmake --build build/release -j "$(nproc)"
cmake --install build/release --prefix "$prefix" >/dev/null
exec "$prefix/tidemarsh" "$@"
