#!/usr/bin/env bash
# Installs the Debian 12 packages listed in scripts/debian-packages.txt, only those missing.
set -euo pipefail
cd "$(dirname "$0")"

mapfile -t packages < <(sed -e 's/#.*//' -e 's/[[:space:]]//g' debian-packages.txt | grep -v '^$')

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
    # A virtual name is there when one of its providers is installed.
    provided=0
    for q in $(apt-cache showpkg "$p" 2>/dev/null | sed -n '/^Reverse Provides:/,$p' | tail -n +2 | cut -d' ' -f1); do
      if dpkg-query -W -f='${Status}' "$q" 2>/dev/null | grep -q "install ok installed"; then
        provided=1
      fi
    done
    [ "$provided" -eq 1 ] || missing+=("$p")
  fi
done

if [ ${#missing[@]} -eq 0 ]; then
  exit 0
fi

echo "Installing: ${missing[*]}"
as_root=()
if [ "$(id -u)" -ne 0 ]; then
  as_root=(sudo)
fi
export DEBIAN_FRONTEND=noninteractive
"${as_root[@]}" apt-get update -q
"${as_root[@]}" apt-get install -y -q --no-install-recommends "${missing[@]}"
