#!/usr/bin/env bash
# Builds the fuzzers with clang (libFuzzer, ASan, UBSan; the core instrumented too) in
# build-fuzz/ and runs one target for a while, niced, logging to build-fuzz/logs/TARGET.log.
# New inputs go to build-fuzz/work/TARGET (the committed seeds in fuzz/corpus/TARGET are
# only read); a crash input lands in build-fuzz/artifacts/TARGET/.
# Usage: scripts/fuzz.sh TARGET [SECONDS]   (600 by default)
#        scripts/fuzz.sh --list
set -euo pipefail
cd "$(dirname "$0")/.."
if [ "${1:-}" = "--help" ] || [ $# -lt 1 ]; then
  sed -n '2,7p' "$0" | sed 's/^# \{0,1\}//'
  [ $# -lt 1 ] && exit 2 || exit 0
fi
if [ "$1" = "--list" ]; then
  ls fuzz/corpus
  exit 0
fi
target="$1"
seconds="${2:-600}"
flags="-fsanitize=fuzzer-no-link,address,undefined -fno-omit-frame-pointer"
if [ ! -f build-fuzz/build.ninja ]; then
  CC=clang CXX=clang++ cmake -S . -B build-fuzz -G Ninja -DEDOG_GUI=OFF -DBUILD_TESTING=OFF \
    -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_C_FLAGS="$flags" -DCMAKE_CXX_FLAGS="$flags"
fi
nice -n 19 cmake --build build-fuzz --target "fuzz_${target}"
mkdir -p "build-fuzz/work/$target" "build-fuzz/artifacts/$target" build-fuzz/logs
cd build-fuzz/fuzz
exec nice -n 19 "./fuzz_${target}" -max_total_time="$seconds" -print_final_stats=1 -timeout=10 \
  -rss_limit_mb=2048 -artifact_prefix="../artifacts/$target/" \
  "../work/$target" "../../fuzz/corpus/$target" > "../logs/$target.log" 2>&1
