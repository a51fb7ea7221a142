#!/usr/bin/env bash
# Builds the release tree and makes the Debian package: build/deb/tavrix_<version>_<arch>.deb
# (or in the folder given as the first argument). Install it with
#   sudo apt-get install ./build/deb/tavrix_*.deb
set -euo pipefail
cd "$(dirname "$0")/.."
out="$(realpath -m "${1:-build/deb}")"
scripts/install-deps.sh
scripts/build.sh release
mkdir -p "$out"
rm -f "$out"/tavrix_*.deb
cpack --config build/release/CPackConfig.cmake -B "$out" >"$out/cpack.log" || {
  cat "$out/cpack.log" >&2
  exit 1
}
ls "$out"/tavrix_*.deb
