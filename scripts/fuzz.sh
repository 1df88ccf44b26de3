#!/usr/bin/env bash
# Builds the fuzz targets with clang (libFuzzer, AddressSanitizer, UndefinedBehaviorSanitizer)
# into build-fuzz/ and runs one: scripts/fuzz.sh TARGET [SECONDS] [libFuzzer options...]
# TARGET is one of linereader, splitter, integer, textfile. The run starts from the small
# corpus in fuzz/corpus/TARGET (new inputs it finds are kept in a scratch folder only); a
# crash is saved in build-fuzz/ as crash-* and ends the run with an error.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
target=${1:?usage: scripts/fuzz.sh linereader|splitter|integer|textfile [seconds]}
seconds=${2:-60}
shift $(( $# < 2 ? $# : 2 ))
"$root/scripts/ensure-deps.sh" clang libclang-rt-14-dev
(cd "$root" && cmake --preset sanitize >/dev/null) # clang, the sanitizers, assertions on
cmake --build "$root/build-fuzz" -j2 --target "fuzz_$target"
corpus="$root/fuzz/corpus/$target"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$root/build-fuzz"
QT_QPA_PLATFORM=offscreen ASAN_OPTIONS=detect_leaks=0 \
  "./fuzz/fuzz_$target" -max_total_time="$seconds" -print_final_stats=1 "$@" "$work" "$corpus"
