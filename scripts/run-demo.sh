#!/usr/bin/env bash
# Installs what is missing, builds, and starts the desktop program on the built-in simulated
# controller. The demo keeps its settings in its own folder: the operator's real settings are
# never touched. Press "Connect" on the shortcut bar to identify the simulated instrument.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
scripts/build.sh release
export TAVRIX_CONFIG_DIR="${TAVRIX_CONFIG_DIR:-$PWD/build/demo-config}"
mkdir -p "$TAVRIX_CONFIG_DIR"
exec build/release/src/gui/tavrix --sim "$@"
