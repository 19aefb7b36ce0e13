#!/usr/bin/env bash
# Builds the reply fuzzer with clang (libFuzzer needs it; the main build may use
# g++) and runs it over the regression corpus for a while.
#   run-fuzzer.sh SOURCE_DIR WORK_DIR [SECONDS]
set -euo pipefail
src=$1
work=$2
seconds=${3:-30}
mkdir -p "$work/corpus"
cxx=$(command -v clang++ || command -v clang++-14)
flags=(-std=c++20 -g -O1 -fPIC -fsanitize=fuzzer,address,undefined -fno-sanitize-recover=undefined
       -DQT_NO_CAST_FROM_ASCII -DQT_NO_KEYWORDS -I"$src/src")
# shellcheck disable=SC2207
pkg=($(pkg-config --cflags --libs Qt6Core Qt6Network gmime-3.0 libxml-2.0))
core=$src/src/review/core
store=$src/src/store # the friend-address key lives with the Friends store
"$cxx" "${flags[@]}" "$src/tests/pop3/fuzz/replyfuzzer.cpp" "$src/src/pop3/headerparser.cpp" \
    "$src/src/pop3/gmimeinit.cpp" "$src/src/pop3/bodypreview.cpp" "$src/src/pop3/htmltext.cpp" \
    "$src/src/pop3/replyreader.cpp" "$core/reviewitem.cpp" "$core/displaytext.cpp" "$core/friendmatcher.cpp" \
    "$core/setbytes.cpp" "$core/maildate.cpp" "$store/friendsstore.cpp" "$store/friendaddress.cpp" "$store/recordfile.cpp" \
    "$store/fixedtext.cpp" \
    "${pkg[@]}" -o "$work/replyfuzzer"
# Leaks count as findings; what the libraries keep on purpose is in the suite's list.
export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1}
export LSAN_OPTIONS=suppressions=$src/tests/support/lsan.supp:print_suppressions=0
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
# New inputs go to the work folder; the committed corpus is only read.
"$work/replyfuzzer" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 -detect_leaks=1 \
    -artifact_prefix="$work/" "$work/corpus" "$src/tests/pop3/fuzz/corpus"
