#!/usr/bin/env bash
# Builds the fuzz targets (preset fuzz, build/fuzz) and runs each for the
# given number of seconds, starting from the seed corpus and the inputs
# kept from earlier runs:
#
#   fuzz/run.sh [SECONDS]      (default 60 per target)
#
# A crash, a leak, a sanitizer report or a failed oracle ends the script
# with a non-zero status; the input that caused it is left in
# build/fuzz/artifacts. Prints the executions run and the coverage reached.
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-60}

cmake --preset fuzz >/dev/null
cmake --build --preset fuzz

out=build/fuzz
bin=$out/fuzz  # the targets and the seeds
mkdir -p "$out/artifacts"
status=0
summary=()
for target in scan_fuzz patch_fuzz; do
  corpus=$out/corpus/$target
  mkdir -p "$corpus"
  log=$out/$target.log
  echo "== $target, $seconds s"
  rc=0
  "$bin/$target" -max_total_time="$seconds" -max_len=65536 -timeout=10 \
      -print_final_stats=1 -artifact_prefix="$out/artifacts/$target-" \
      "$corpus" "$bin/seeds" >"$log" 2>&1 || rc=$?
  # libFuzzer's own status covers crashes, leaks and aborts; a report that
  # somehow did not end the run still counts.
  if [ "$rc" -ne 0 ] || grep -q -E 'ERROR: (AddressSanitizer|LeakSanitizer|libFuzzer)|runtime error:|oracle failed' "$log"; then
    echo "!! $target failed (status $rc); the end of $log:"
    tail -n 40 "$log"
    status=1
  fi
  done_line=$(grep -E '^#[0-9]+[[:space:]]+DONE' "$log" | tail -n 1 || true)
  execs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -n 1)
  cov=$(sed -n 's/.* cov: \([0-9]*\) .*/\1/p' <<<"$done_line")
  ft=$(sed -n 's/.* ft: \([0-9]*\) .*/\1/p' <<<"$done_line")
  corp=$(sed -n 's/.* corp: \([^ ]*\) .*/\1/p' <<<"$done_line")
  summary+=("$(printf '%-10s %10s execs  cov: %-5s ft: %-6s corp: %s' \
      "$target" "${execs:-?}" "${cov:-?}" "${ft:-?}" "${corp:-?}")")
done
echo "== fuzz summary ($seconds s per target)"
printf '%s\n' "${summary[@]}"
exit $status
