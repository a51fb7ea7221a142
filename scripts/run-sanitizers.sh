#!/usr/bin/env bash
# Builds and runs the whole suite under address + undefined behaviour sanitizers (leaks
# detected; Qt's own caches suppressed by tests/gui/lsan.supp), then the core and
# simulator suites under the thread sanitizer. Prints how long each part took.
# Usage: scripts/run-sanitizers.sh [asan|tsan]   (both when not given)
set -euo pipefail
cd "$(dirname "$0")/.."
root="$PWD"
which="${1:-all}"
scripts/install-deps.sh
export QT_QPA_PLATFORM=offscreen
export CCACHE_BASEDIR="${CCACHE_BASEDIR:-$(dirname "$root")}"

if [ "$which" = all ] || [ "$which" = asan ]; then
  start=$(date +%s)
  export TAVRIX_CONFIG_DIR="$root/build/asan/test-config"
  mkdir -p "$TAVRIX_CONFIG_DIR"
  cmake --preset asan >/dev/null
  cmake --build --preset asan -j 2
  built=$(date +%s)
  # The package test packs a sanitized build: it proves nothing there.
  ASAN_OPTIONS=detect_leaks=1:abort_on_error=1:detect_stack_use_after_return=1 \
  LSAN_OPTIONS="suppressions=$root/tests/gui/lsan.supp:print_suppressions=0" \
  UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
    ctest --preset asan -j 2 -LE package
  echo "asan+ubsan: build $((built - start)) s, suite $(($(date +%s) - built)) s"
fi

if [ "$which" = all ] || [ "$which" = tsan ]; then
  start=$(date +%s)
  export TAVRIX_CONFIG_DIR="$root/build/tsan/test-config"
  mkdir -p "$TAVRIX_CONFIG_DIR"
  cmake --preset tsan >/dev/null
  cmake --build --preset tsan -j 2 --target tavrix_core_tests tavrix_sim_tests
  built=$(date +%s)
  for suite in tavrix_core_tests tavrix_sim_tests; do
    TSAN_OPTIONS=halt_on_error=1:second_deadlock_stack=1 "build/tsan/tests/$suite" --gtest_brief=1
  done
  echo "tsan (core, simulator): build $((built - start)) s, suites $(($(date +%s) - built)) s"
fi
