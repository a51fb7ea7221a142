#!/usr/bin/env bash
# Checks that scripts/debian-packages.txt covers what a build really used.
#
#   scripts/check-deps.sh [--list FILE] BUILD_DIR
#
# Gathers the files the build read from outside the source and build trees: the headers in the
# compilers' dependency files (ninja's deps log, or *.d files), the CMake files configure read,
# and the shared libraries of every program and library built (ldd). Each file's Debian package
# (dpkg -S) must be in the list, be reached from it through Depends/Pre-Depends, or have
# Priority required or important. Otherwise the script names the packages and fails, so that a
# package installed by hand on one machine cannot hide a gap that a fresh machine would hit.
set -euo pipefail

here="$(cd "$(dirname "$0")" && pwd)"
source_dir="$(cd "$here/.." && pwd)"
list="$here/debian-packages.txt"

while [ $# -gt 0 ]; do
  case "$1" in
    --list) list="$2"; shift 2 ;;
    -h|--help) sed -n '2,11p' "$0" | sed 's/^# \{0,1\}//'; exit 0 ;;
    *) break ;;
  esac
done
if [ $# -ne 1 ]; then
  echo "usage: check-deps.sh [--list FILE] BUILD_DIR" >&2
  exit 2
fi
build_dir="$(cd "$1" && pwd)" || { echo "check-deps: no build folder $1" >&2; exit 2; }
[ -r "$list" ] || { echo "check-deps: cannot read package list $list" >&2; exit 2; }

work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT

# --- 1. Files the build used -------------------------------------------------------------------
{
  if [ -f "$build_dir/build.ninja" ] && [ -f "$build_dir/.ninja_deps" ]; then
    # Lines of "ninja -t deps" that name a dependency are indented.
    ninja -C "$build_dir" -t deps 2>/dev/null | sed -n 's/^[[:space:]]\{1,\}\(\/.*\)$/\1/p'
  fi
  # Make-style dependency files (other generators, or compilers run by hand).
  find "$build_dir" -name '*.d' -type f -print0 2>/dev/null |
    xargs -0 -r cat | sed -e 's/\\$//' -e 's/^[^:]*:[[:space:]]//' | tr ' \t' '\n\n' | grep '^/' || true
  # The CMake files configure read: the inputs of ninja's re-run rule ...
  if [ -f "$build_dir/build.ninja" ]; then
    ninja -C "$build_dir" -t query build.ninja 2>/dev/null | sed -n 's/^[[:space:]]\{1,\}\(\/.*\)$/\1/p'
  fi
  # ... and the package folders recorded in the cache (for generators without that rule).
  if [ -f "$build_dir/CMakeCache.txt" ]; then
    sed -n 's/^[A-Za-z0-9_]*_DIR:PATH=\(\/.*\)$/\1/p' "$build_dir/CMakeCache.txt" |
      while IFS= read -r d; do
        [ -d "$d" ] && find "$d" -maxdepth 1 -type f \( -name '*Config.cmake' -o -name '*-config.cmake' \)
      done
  fi
  # Shared libraries of every ELF program and library the build made.
  find "$build_dir" -type f \( -perm -u+x -o -name '*.so' -o -name '*.so.*' \) -print0 2>/dev/null |
    while IFS= read -r -d '' f; do
      if [ "$(head -c 4 "$f" 2>/dev/null | od -An -c | tr -d ' ')" = '177ELF' ]; then
        ldd "$f" 2>/dev/null | sed -n -e 's/^.*=> \(\/[^ ]*\) (0x.*$/\1/p' -e 's/^[[:space:]]*\(\/[^ ]*\) (0x.*$/\1/p'
      fi
    done
} | sed 's#//*#/#g' | sort -u >"$work/all-files"

# Only files outside this source tree and the build tree come from packages.
grep -v -e "^$source_dir/" -e "^$build_dir/" "$work/all-files" | while IFS= read -r f; do
  [ -e "$f" ] && printf '%s\n' "$f"
done >"$work/files" || true

# --- 2. Owner of each file (dpkg -S, batched and cached) --------------------------------------
# The cache is valid while the dpkg database is unchanged.
cache="$build_dir/check-deps.cache"
stamp="$(stat -c %Y /var/lib/dpkg/status 2>/dev/null || echo 0)"
if [ -f "$cache" ] && [ "$(head -n 1 "$cache")" = "dpkg-status $stamp" ]; then
  tail -n +2 "$cache" >"$work/owners"
else
  : >"$work/owners"
fi

lookup() { # paths on stdin; prints "package<TAB>path" for those dpkg knows
  # "a:amd64, b: /path" names every package that ships the path
  xargs -r -d '\n' dpkg -S 2>/dev/null |
    awk '/^[^ :][^ ]*: \// {
           i = index($0, ": /"); path = substr($0, i + 2); n = split(substr($0, 1, i - 1), p, ", ")
           for (k = 1; k <= n; k++) { sub(/:.*/, "", p[k]); if (p[k] != "") print p[k] "\t" path }
         }' || true
}

cut -f2 "$work/owners" | sort -u >"$work/known"
comm -23 "$work/files" "$work/known" >"$work/unknown"
lookup <"$work/unknown" >>"$work/owners"

# A path dpkg does not know may be reached through a symbolic link or the merged /usr; try the
# real path and the path with and without the /usr prefix, and keep the answer under the name
# the build used.
cut -f2 "$work/owners" | sort -u >"$work/known"
comm -23 "$work/files" "$work/known" | while IFS= read -r f; do
  r="$(readlink -f "$f")"
  for alt in "$r" "${f#/usr}" "/usr$f" "${r#/usr}" "/usr$r"; do
    [ "$alt" != "$f" ] && printf '%s\t%s\n' "$alt" "$f"
  done
done | sort -u -k1,1 >"$work/alternates"
cut -f1 "$work/alternates" | lookup >"$work/alt-owners"
awk -F'\t' 'NR==FNR { orig[$1] = orig[$1] ? orig[$1] "\n" $2 : $2; next }
            ($2 in orig) { n = split(orig[$2], o, "\n"); for (i = 1; i <= n; i++) print $1 "\t" o[i] }' \
  "$work/alternates" "$work/alt-owners" >>"$work/owners"
sort -u "$work/owners" -o "$work/owners"
{ echo "dpkg-status $stamp"; cat "$work/owners"; } >"$cache.tmp" && mv "$cache.tmp" "$cache"

cut -f2 "$work/owners" | sort -u >"$work/known"
comm -23 "$work/files" "$work/known" >"$work/unowned"
cut -f1 "$work/owners" | sort -u >"$work/used"

# --- 3. What the list stands for ---------------------------------------------------------------
sed -e 's/#.*//' -e 's/[[:space:]]//g' "$list" | { grep -v '^$' || true; } | sort -u >"$work/listed"
closure() { # package names on stdin; prints every name reached through Depends/Pre-Depends
  # Package lines start in the first column; "Depends:"/"PreDepends:" name targets ("<x>" is a
  # virtual name); the lines indented below a virtual target are its providers.
  xargs -r apt-cache depends --recurse --no-recommends --no-suggests --no-conflicts --no-breaks \
    --no-replaces --no-enhances 2>/dev/null |
    sed -n -e 's/^\([^ ]\{1,\}\)$/\1/p' \
      -e 's/^ *|\{0,1\}\(Pre\)\{0,1\}Depends: \(.*\)$/\2/p' \
      -e 's/^    \([^ ]\{1,\}\)$/\1/p' |
    sed -e 's/[<>]//g' -e 's/:.*$//' | sort -u || true
}
providers() { # virtual names on stdin; prints the packages that provide them
  while IFS= read -r v; do
    apt-cache showpkg "$v" 2>/dev/null | sed -n '/^Reverse Provides:/,$p' | tail -n +2 | cut -d' ' -f1
  done | sort -u
}
# The closure only changes with the list or the package database: keep it with the build.
closure_cache="$build_dir/check-deps.closure"
key="$(cksum <"$work/listed") $(stat -c %Y /var/lib/dpkg/status /var/lib/apt/lists 2>/dev/null | tr '\n' ' ')"
if [ -f "$closure_cache" ] && [ "$(head -n 1 "$closure_cache")" = "key $key" ]; then
  tail -n +2 "$closure_cache" >"$work/reached"
else
  closure <"$work/listed" >"$work/reached"
  # A listed name that no package carries (a virtual one) stands for its providers.
  providers <"$work/listed" >"$work/listed-providers"
  closure <"$work/listed-providers" >>"$work/reached"
  sort -u "$work/reached" -o "$work/reached"
  { echo "key $key"; cat "$work/reached"; } >"$closure_cache.tmp" && mv "$closure_cache.tmp" "$closure_cache"
fi
cat "$work/listed" "$work/reached" 2>/dev/null | sort -u >"$work/covered"

# Packages every Debian system has.
dpkg-query -W -f='${Package}\t${Priority}\n' 2>/dev/null |
  awk -F'\t' '$2 == "required" || $2 == "important" { print $1 }' | sort -u >"$work/essential"

comm -23 "$work/used" "$work/covered" | comm -23 - "$work/essential" >"$work/missing"

# --- 4. Verdict --------------------------------------------------------------------------------
status=0
if [ -s "$work/missing" ]; then
  status=1
  echo "check-deps: the build uses Debian packages that $(basename "$list") does not bring in:" >&2
  while IFS= read -r p; do
    example="$(awk -F'\t' -v p="$p" '$1 == p { print $2; exit }' "$work/owners")"
    echo "  $p (for example $example)" >&2
  done <"$work/missing"
fi
if [ -s "$work/unowned" ]; then
  status=1
  echo "check-deps: the build uses files that no Debian package owns (installed by hand?):" >&2
  head -n 20 "$work/unowned" | sed 's/^/  /' >&2
  n="$(wc -l <"$work/unowned")"
  [ "$n" -gt 20 ] && echo "  ... and $((n - 20)) more" >&2
fi
if [ "$status" -eq 0 ]; then
  echo "check-deps: $(wc -l <"$work/files") files from $(wc -l <"$work/used") packages, all covered by $(basename "$list")"
fi
exit "$status"
