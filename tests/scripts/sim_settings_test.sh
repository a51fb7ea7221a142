#!/usr/bin/env bash
# "tavrix --sim" and "tavrix-cli --sim" keep their settings in a folder of their own: the
# operator's Tavrix.INI is neither created nor changed, even when the desktop program writes
# its window places on the way out.
#   sim_settings_test.sh TAVRIX TAVRIX_CLI
set -uo pipefail
gui="$1"
cli="$2"
home="$(mktemp -d)"
trap 'rm -rf "$home"' EXIT
unset TAVRIX_CONFIG_DIR
export XDG_CONFIG_HOME="$home/config" QT_QPA_PLATFORM=offscreen
real="$XDG_CONFIG_HOME/Orvella, Inc"
failures=0
fail() { echo "FAILED: $*"; failures=$((failures + 1)); }

run_both() {
  "$cli" --sim identify >"$home/cli.out" 2>&1 || fail "tavrix-cli --sim identify: $(cat "$home/cli.out")"
  "$gui" --sim >"$home/gui.out" 2>&1 &
  local pid=$! i
  # Up when the simulator's folder holds nothing yet but the program runs; give it a moment.
  for i in $(seq 1 50); do sleep 0.1; kill -0 "$pid" 2>/dev/null || break; done
  kill -TERM "$pid" 2>/dev/null
  for i in $(seq 1 100); do kill -0 "$pid" 2>/dev/null || break; sleep 0.1; done
  if kill -0 "$pid" 2>/dev/null; then
    kill -KILL "$pid"
    fail "tavrix --sim did not end within 10 s of SIGTERM"
  fi
  wait "$pid" || fail "tavrix --sim ended with status $?: $(cat "$home/gui.out")"
}

# 1. No settings of the operator yet: none are created.
run_both
[ -e "$real" ] && fail "the operator's settings folder was created: $(ls -la "$real")"
sim_ini="$XDG_CONFIG_HOME/Orvella, Inc (simulator)/Tavrix.INI"
[ -f "$sim_ini" ] || fail "the simulator's own settings were not written to $sim_ini"
grep -qi 'MAINVIEWPOS' "$sim_ini" 2>/dev/null || fail "no window place in $sim_ini"

# 2. The operator's own settings stay byte for byte and untouched in time.
mkdir -p "$real"
printf '[CommunicationSetup]\r\nPortType=2\r\nGPIBAddr=7\r\nIPAddr0=10\r\nIPPort=4000\r\n' >"$real/Tavrix.INI"
touch -d '2020-01-02 03:04:05' "$real/Tavrix.INI"
cp -p "$real/Tavrix.INI" "$home/before.ini"
run_both
cmp -s "$real/Tavrix.INI" "$home/before.ini" || fail "Tavrix.INI changed"
[ "$(stat -c %Y "$real/Tavrix.INI")" = "$(stat -c %Y "$home/before.ini")" ] || fail "Tavrix.INI rewritten"
[ "$(ls -A "$real")" = "Tavrix.INI" ] || fail "files appeared beside Tavrix.INI: $(ls -A "$real")"

[ "$failures" -eq 0 ] || exit 1
echo "the operator's settings were left alone"
