#!/usr/bin/env bash
# Renders the 48 and 128 pixel icons of the package from the drawing (needs rsvg-convert).
set -euo pipefail
cd "$(dirname "$0")/.."
for size in 48 128; do
  rsvg-convert -w "$size" -h "$size" src/gui/resources/tavrix.svg -o "packaging/icons/tavrix-$size.png"
done
