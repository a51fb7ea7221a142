#!/usr/bin/env bash
# The manual pages keep up with the programs: every subcommand of tavrix-cli has its section in
# tavrix-cli(1), and every option a program's --help shows is described in its page.
# Usage: check-man-pages.sh MAN_DIR TAVRIX_CLI TAVRIX_SIM [TAVRIX]
set -uo pipefail
mandir="$1" cli="$2" sim="$3" gui="${4:-}"
failed=0

# The page as plain words: escapes and font changes removed.
text() { sed -e 's/\\-/-/g' -e 's/\\f[BIPR]//g' -e 's/\\(em/-/g' "$mandir/$1"; }
subcommands() { "$cli" "$@" --help | awk '/^Subcommands:/ {on = 1; next} on && /^  [^ ]/ {print $1}'; }
options() { "$@" --help 2>/dev/null | grep -o -E '(^|[ ,])--[a-z][a-z0-9-]*' | sed 's/^[ ,]*//' | grep -v '^--help$' | sort -u; }
need_options() {
  local page="$1"
  shift
  for opt in $(options "$@"); do
    grep -q -- "$opt\b" <<<"$(text "$page")" || { echo "$page: option $opt of '$*' is not described"; failed=1; }
  done
}

sections="$(text tavrix-cli.1 | grep '^\.SS ' | sed 's/^\.SS //')"
need_options tavrix-cli.1 "$cli"
for sub in $(subcommands); do
  nested="$(subcommands "$sub")"
  if [ -z "$nested" ]; then
    grep -q -E "^$sub( |$)" <<<"$sections" || { echo "tavrix-cli.1: no section for '$sub'"; failed=1; }
    need_options tavrix-cli.1 "$cli" "$sub"
    continue
  fi
  for n in $nested; do
    grep -E "^$sub " <<<"$sections" | grep -q -E "(^$sub |\|)$n( |\||$)" ||
      { echo "tavrix-cli.1: no section for '$sub $n'"; failed=1; }
    need_options tavrix-cli.1 "$cli" "$sub" "$n"
  done
done
need_options tavrix-sim.1 "$sim"
[ -n "$gui" ] && need_options tavrix.1 "$gui"
[ "$failed" = 0 ] && echo "manual pages cover every subcommand and option"
exit "$failed"
