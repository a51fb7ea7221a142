#!/usr/bin/env bash
# Builds the fuzz targets (the fuzz preset: clang, libFuzzer, address + undefined sanitizers)
# and runs each one on a copy of its seed corpus.
#
#   scripts/fuzz.sh [--runs N] [--merge] [SECONDS [TARGET...]]
#
# SECONDS (default 60) is each target's run time; --runs N runs each target for N inputs
# instead. TARGET names pick targets (crv 340 curve_check pid command_file settings sim_parser
# link; default all). The working corpora and any crashing inputs stay under build/fuzz/work;
# the seeds in tests/fuzz/corpus are only read, unless --merge is given: then the inputs that
# add coverage are merged into them. Prints one line per target (executions, executions per
# second, coverage, outcome) and exits non-zero when any target crashed, leaked or hung.
set -euo pipefail

here="$(cd "$(dirname "$0")" && pwd)"
root="$(cd "$here/.." && pwd)"
all_targets=(crv 340 curve_check pid command_file settings sim_parser link)

seconds=60
runs=""
merge=0
positional=()
while [ $# -gt 0 ]; do
  case "$1" in
    --runs) runs="$2"; shift 2 ;;
    --merge) merge=1; shift ;;
    -h|--help) sed -n '2,13p' "$0" | sed 's/^# \{0,1\}//'; exit 0 ;;
    *) positional+=("$1"); shift ;;
  esac
done
if [ ${#positional[@]} -gt 0 ] && [[ "${positional[0]}" =~ ^[0-9]+$ ]]; then
  seconds="${positional[0]}"
  positional=("${positional[@]:1}")
fi
targets=("${positional[@]}")
[ ${#targets[@]} -gt 0 ] || targets=("${all_targets[@]}")
for t in "${targets[@]}"; do
  [[ " ${all_targets[*]} " == *" $t "* ]] || { echo "fuzz: no target $t" >&2; exit 2; }
done

"$here/install-deps.sh"
cd "$root"
cmake --preset fuzz >/dev/null
nice -n 10 cmake --build build/fuzz --target "${targets[@]/#/fuzz_}"

bin="$root/build/fuzz/tests/fuzz"
work="$root/build/fuzz/work"
status=0
summary=()
for t in "${targets[@]}"; do
  corpus="$work/$t/corpus"
  artifacts="$work/$t/artifacts"
  mkdir -p "$corpus" "$artifacts"
  # The seeds join whatever earlier runs found; nothing is written back to them.
  cp -n "$root/tests/fuzz/corpus/$t/"* "$corpus/" 2>/dev/null || true
  args=(-print_final_stats=1 -timeout=10 -rss_limit_mb=2048 -artifact_prefix="$artifacts/")
  # Replies longer than the link's 4096-character bound need longer inputs.
  [ "$t" = link ] && args+=(-max_len=8192)
  if [ -n "$runs" ]; then args+=(-runs="$runs"); else args+=(-max_total_time="$seconds"); fi
  log="$work/$t/fuzz.log"
  before="$(ls "$artifacts" | wc -l)"
  set +e
  nice -n 10 "$bin/fuzz_$t" "${args[@]}" "$corpus" >"$log" 2>&1
  rc=$?
  set -e
  execs="$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -n 1)"
  rate="$(sed -n 's/^stat::average_exec_per_sec: *//p' "$log" | tail -n 1)"
  cov="$(grep -o 'cov: [0-9]*' "$log" | tail -n 1 | cut -d' ' -f2)"
  ft="$(grep -o 'ft: [0-9]*' "$log" | tail -n 1 | cut -d' ' -f2)"
  after="$(ls "$artifacts" | wc -l)"
  if [ "$rc" -ne 0 ] || [ "$after" -gt "$before" ]; then
    outcome="FAILED (exit $rc; see $log and $artifacts)"
    status=1
  else
    outcome="ok"
  fi
  summary+=("$(printf '%-13s %10s execs  %7s exec/s  cov %6s  ft %6s  %s' "$t" "${execs:-?}" \
    "${rate:-?}" "${cov:-?}" "${ft:-?}" "$outcome")")
  echo "${summary[-1]}"
  if [ "$merge" -eq 1 ] && [ "$outcome" = ok ]; then
    nice -n 10 "$bin/fuzz_$t" -merge=1 "$root/tests/fuzz/corpus/$t" "$corpus" >"$work/$t/merge.log" 2>&1 ||
      echo "fuzz: merging into tests/fuzz/corpus/$t failed (see $work/$t/merge.log)" >&2
  fi
done

echo
echo "Fuzzing summary:"
printf '%s\n' "${summary[@]}"
exit "$status"
