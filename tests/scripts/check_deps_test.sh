#!/usr/bin/env bash
# scripts/check-deps.sh on fake build trees: a header from a package outside the list must fail
# the check and be named; the same tree passes once the package (or a name it provides, or a
# package that depends on it) is listed; a file no package owns fails it.
set -uo pipefail
check="$1/scripts/check-deps.sh"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
failures=0

expect() { # expect pass|fail LIST_TEXT DEPFILE_TEXT [WORD_IN_OUTPUT]
  local want="$1" list_text="$2" deps="$3" word="${4:-}" tree rc
  tree="$(mktemp -d "$work/build.XXXX")"
  printf '%s\n' "$list_text" >"$tree/packages.txt"
  mkdir -p "$tree/obj"
  printf 'obj/a.o: src/a.cpp %s\n' "$deps" >"$tree/obj/a.o.d"
  "$check" --list "$tree/packages.txt" "$tree" >"$tree/out" 2>&1
  rc=$?
  if { [ "$want" = pass ] && [ $rc -ne 0 ]; } || { [ "$want" = fail ] && [ $rc -ne 1 ]; } ||
     { [ -n "$word" ] && ! grep -q -- "$word" "$tree/out"; }; then
    echo "FAILED: expected $want${word:+ naming $word} for list [$list_text] and [$deps] (rc $rc):"
    sed 's/^/    /' "$tree/out"
    failures=$((failures + 1))
  fi
}

gtest=/usr/include/gtest/gtest.h        # libgtest-dev
stdio=/usr/include/stdio.h              # libc6-dev, which g++ depends on
charts="$(ls /usr/include/x86_64-linux-gnu/qt6/QtCharts/qchart.h /usr/include/*/qt6/QtCharts/qchart.h 2>/dev/null | head -n 1)"

expect fail $'g++' "$gtest $stdio" libgtest-dev
expect pass $'g++\nlibgtest-dev' "$gtest $stdio"
expect pass $'# comment\n  libgmock-dev  # gmock depends on gtest' "$gtest"
expect fail $'cmake' "$stdio" libc6-dev
if [ -n "$charts" ]; then
  expect pass $'libqt6charts6-dev' "$charts"
  expect fail $'qt6-base-dev' "$charts" qt6-charts-dev
fi
touch "$work/handmade.h"
expect fail $'g++' "$stdio $work/handmade.h" handmade.h

if [ "$failures" -ne 0 ]; then
  echo "$failures case(s) failed"
  exit 1
fi
echo "all cases passed"
