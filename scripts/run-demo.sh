#!/usr/bin/env bash
# Installs what is missing, builds, and identifies the built-in simulated controller.
# The demo keeps its settings in its own folder: the operator's real settings are never touched.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
scripts/build.sh release
export TAVRIX_CONFIG_DIR="${TAVRIX_CONFIG_DIR:-$PWD/build/demo-config}"
mkdir -p "$TAVRIX_CONFIG_DIR"
build/release/src/cli/tavrix-cli --sim identify
