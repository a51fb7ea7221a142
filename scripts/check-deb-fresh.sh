#!/usr/bin/env bash
# Installs the Debian package on a fresh Debian 12 made with debootstrap (needs root and the
# network to Debian's mirror) and runs the installed programs there:
#   scripts/check-deb-fresh.sh [DEB] [FOLDER]   (default: build/deb/tavrix_*.deb, /tmp/tavrix-fresh)
# About two minutes for debootstrap the first time, two more for the install.
set -euo pipefail
cd "$(dirname "$0")/.."
deb="$(realpath "${1:-$(ls build/deb/tavrix_*.deb | head -1)}")"
root="${2:-/tmp/tavrix-fresh}"
scripts/install-deps.sh
[ -x "$root/usr/bin/apt-get" ] || debootstrap --variant=minbase bookworm "$root" http://deb.debian.org/debian
cp /etc/resolv.conf "$root/etc/resolv.conf"
cp "$deb" "$root/tmp/"
mount --bind /dev "$root/dev"
mount --bind /dev/pts "$root/dev/pts"
mount --bind /proc "$root/proc"
trap 'umount "$root/proc" "$root/dev/pts" "$root/dev"' EXIT
chroot "$root" bash -euo pipefail -c '
  export DEBIAN_FRONTEND=noninteractive HOME=/tmp QT_QPA_PLATFORM=offscreen
  cd /tmp
  apt-get update -qq
  apt-get install -y -qq ./'"$(basename "$deb")"' >/tmp/install.log
  tavrix-cli --sim identify
  tavrix-cli --sim log --sources A,heater1 --interval 0.2 --out /tmp/run.csv --count 3
  grep -q "^Number of entries = 3" /tmp/run.csv
  status=0
  timeout 6 tavrix --sim >/tmp/gui.log 2>&1 || status=$?
  [ "$status" = 124 ] || { echo "tavrix --sim ended early ($status)"; cat /tmp/gui.log; exit 1; }
  echo "installed and ran on a fresh Debian 12"'
