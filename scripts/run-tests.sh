#!/usr/bin/env bash
# Installs what is missing, builds, and runs the whole test suite.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
scripts/build.sh release
# Fails when the build used a Debian package that debian-packages.txt does not bring in.
scripts/check-deps.sh build/release
export TAVRIX_CONFIG_DIR="$PWD/build/test-config"
mkdir -p "$TAVRIX_CONFIG_DIR"
export QT_QPA_PLATFORM=offscreen
ctest --preset release -j 2
