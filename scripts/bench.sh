#!/usr/bin/env bash
# Builds the release tree and runs every benchmark under bench/, then prints each figure on one
# line with the baseline measured in the same run and the ratio.
#
#   scripts/bench.sh [--quick]
#
# Lengths (environment): SOAK_SECONDS (600: each of the two logging soak runs), SOAK_CYCLES
# (100000: the compressed soak), SCRAPE_SECONDS (300: each of the two runs of the soak with and
# without metrics scrapes), SHARE_SECONDS (20: each of the two logging runs of the share
# benchmark), STALL_SECONDS (15), IDLE_SECONDS (10). --quick runs them short (60 s soaks,
# 30 s scrape soak, 20000 cycles) to see that everything works. VIEWER_ROWS (6048000: a week
# at 0.1 s) sets the length of the log the viewer benchmark opens.
set -euo pipefail
cd "$(dirname "$0")/.."
root="$PWD"
if [ "${1:-}" = --quick ]; then
  : "${SOAK_SECONDS:=60}" "${SOAK_CYCLES:=20000}" "${STALL_SECONDS:=5}" "${IDLE_SECONDS:=3}"
  : "${SCRAPE_SECONDS:=30}" "${SHARE_SECONDS:=10}"
  : "${VIEWER_ROWS:=600000}"
fi
: "${SOAK_SECONDS:=600}" "${SOAK_CYCLES:=100000}" "${STALL_SECONDS:=15}" "${IDLE_SECONDS:=10}"
: "${SCRAPE_SECONDS:=300}" "${SHARE_SECONDS:=20}"
: "${VIEWER_ROWS:=6048000}"

scripts/install-deps.sh
scripts/build.sh release
bin="$root/build/release/bench"
out="$(mktemp -d /tmp/tavrix-bench-out-XXXXXX)"
trap 'rm -rf "$out"' EXIT
status=0

run() {  # name, command...
  local name="$1"
  shift
  echo "== $name: $*"
  local start=$SECONDS
  if ! "$@" 2>&1 | tee "$out/$name.txt"; then
    echo "!! $name failed"
    status=1
  fi
  echo "   ($((SECONDS - start)) s)"
}

run link_roundtrip "$bin/link_roundtrip" --idle-seconds "$IDLE_SECONDS"
run curve_download "$bin/curve_download"
run share_roundtrip "$bin/share_roundtrip" --seconds "$SHARE_SECONDS"
run gpib_query "$bin/gpib_query"
run gui_logging_stall env QT_QPA_PLATFORM=offscreen TAVRIX_CONFIG_DIR="$out/gui-config" \
  "$bin/gui_logging_stall" --seconds "$STALL_SECONDS"
run log_viewer_open env QT_QPA_PLATFORM=offscreen "$bin/log_viewer_open" --rows "$VIEWER_ROWS"
run logging_soak "$bin/logging_soak" --seconds "$SOAK_SECONDS"
run compressed_soak "$bin/logging_soak" --cycles "$SOAK_CYCLES"
run scrape_soak "$bin/scrape_soak" --seconds "$SCRAPE_SECONDS"
run link_reconnect "$bin/link_reconnect" --rounds "${RECONNECT_ROUNDS:-3}"

echo
echo "== Figures (baseline from the same run; ratio = figure / baseline)"
cat "$out"/*.txt | sed -n 's/^figure //p'
exit $status
