#!/usr/bin/env bash
# The sanitized build: everything built with clang, AddressSanitizer and
# UndefinedBehaviorSanitizer into build-fuzz/, every test run there (a report fails the run),
# then each fuzz target for a short while: scripts/sanitize.sh [SECONDS_PER_TARGET]
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
seconds=${1:-30}
"$root/scripts/ensure-deps.sh" clang libclang-rt-14-dev
(cd "$root" && cmake --preset sanitize >/dev/null) # clang, the sanitizers, assertions on
cmake --build "$root/build-fuzz" -j2
(
  cd "$root/build-fuzz"
  ASAN_OPTIONS=halt_on_error=1:detect_leaks=1 \
    UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1 \
    QT_QPA_PLATFORM=offscreen ctest --output-on-failure -j2
)
for target in linereader splitter integer textfile; do
  echo "fuzz_$target, $seconds s:"
  "$root/scripts/fuzz.sh" "$target" "$seconds" 2>&1 | grep -E "^(Done|stat::average|==.*ERROR)"
done
