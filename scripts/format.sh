#!/usr/bin/env bash
# Applies the project's clang-format style to every C++ file under version control.
#   scripts/format.sh          rewrite the files that differ
#   scripts/format.sh --check  change nothing; list the files that differ and fail
set -euo pipefail
cd "$(dirname "$0")/.."
formatter=$(command -v clang-format-14 || command -v clang-format || true)
if [ -z "$formatter" ]; then
    echo "format.sh: clang-format not found (apt-get install clang-format)" >&2
    exit 2
fi
mapfile -t files < <(git ls-files -- '*.cpp' '*.h')
if [ "${1:-}" = --check ]; then
    differ=()
    for f in "${files[@]}"; do
        if ! "$formatter" --style=file "$f" | cmp -s - "$f"; then
            differ+=("$f")
        fi
    done
    if [ ${#differ[@]} -gt 0 ]; then
        echo "These files differ from the project's clang-format style (scripts/format.sh fixes them):" >&2
        printf '  %s\n' "${differ[@]}" >&2
        exit 1
    fi
    echo "format: ${#files[@]} files follow the style"
else
    "$formatter" --style=file -i "${files[@]}"
fi
