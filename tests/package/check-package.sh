#!/usr/bin/env bash
# Builds the Debian package from a built tree and checks it: the file list, the Depends that
# dpkg-shlibdeps found, the programs working from the unpacked paths, the metainfo and the
# desktop entry, and lintian without errors. Usage: check-package.sh BUILD_DIR
set -euo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
build="$(realpath "$1")"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
fail() {
  echo "FAIL: $*" >&2
  exit 1
}

cpack --config "$build/CPackConfig.cmake" -B "$work" >"$work/cpack.log" 2>&1 ||
  { cat "$work/cpack.log" >&2; fail "cpack"; }
debs=("$work"/tavrix_*.deb)
[ -f "${debs[0]}" ] || fail "no package made"
deb="${debs[0]}"
echo "package: $(basename "$deb") ($(stat -c %s "$deb") bytes)"

multiarch="$(dpkg-architecture -qDEB_HOST_MULTIARCH)"
dpkg-deb -c "$deb" | awk '$1 !~ /^d/ {print $6}' | sort >"$work/files"
sed "s/@MULTIARCH@/$multiarch/" "$here/expected-files.txt" | sort >"$work/expected"
diff -u "$work/expected" "$work/files" || fail "file list differs from expected-files.txt"

depends="$(dpkg-deb -f "$deb" Depends)"
echo "Depends: $depends"
names=" $(tr ',|' '\n\n' <<<"$depends" | awk '{print $1}' | tr '\n' ' ') "
for lib in libc6 libstdc++6 libqt6widgets6 libqt6charts6 libudev1; do
  [[ "$names" == *" $lib "* ]] || fail "Depends lacks $lib"
done
[ "$(dpkg-deb -f "$deb" Architecture)" = "$(dpkg --print-architecture)" ] || fail "Architecture"

root="$work/root"
dpkg-deb -x "$deb" "$root"
export TAVRIX_CONFIG_DIR="$work/config"
mkdir -p "$TAVRIX_CONFIG_DIR"
"$root/usr/bin/tavrix" --help >/dev/null || fail "tavrix --help"
"$root/usr/bin/tavrix-sim" --help >/dev/null || fail "tavrix-sim --help"
"$root/usr/bin/tavrix-cli" --sim identify >"$work/identify" || fail "tavrix-cli --sim identify"
grep -q '^status: ' "$work/identify" || fail "identify printed no status"
TAVRIX_GPIB_LIBRARY="$root/usr/lib/$multiarch/tavrix/libgpib-sim.so" \
  "$root/usr/bin/tavrix-cli" --gpib 12 identify >"$work/gpib" || fail "identify over the packaged GPIB library"

appstreamcli validate --no-net "$root"/usr/share/metainfo/*.metainfo.xml || fail "appstreamcli validate"
desktop-file-validate "$root/usr/share/applications/tavrix.desktop" || fail "desktop-file-validate"
for page in "$root"/usr/share/man/man1/*.1.gz; do
  [ -n "$(zcat "$page" | MANWIDTH=80 man -l - 2>&1 >/dev/null)" ] && fail "man page warnings: $page"
done

# Depends must be satisfiable from the archive and this system (simulated install).
apt-get install -s -q "$deb" >"$work/apt" 2>&1 || { cat "$work/apt" >&2; fail "apt-get cannot install it"; }

lintian --fail-on error --tag-display-limit 0 "$deb" | tee "$work/lintian" || fail "lintian reports errors"
echo "lintian: $(grep -c '^W:' "$work/lintian" || true) warning(s), no error"
echo "package check passed"
