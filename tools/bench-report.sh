#!/usr/bin/env bash
# Measures quorvane-report against its speed and memory targets and prints each figure with its
# target and the command that produced it. Needs a Release build in build/ (./dev.sh test makes
# one) and mawk. The generated logs go to a temporary folder that is removed at the end.
#   tools/bench-report.sh [RUNS]     RUNS: timed runs per command, the least counts (default 9)
set -euo pipefail
cd "$(dirname "$0")/.."
runs="${1:-9}"
report="$PWD/build/tools/quorvane-report"
make_logs="$PWD/build/bench/quorvane_make_logs"
for tool in "$report" "$make_logs"; do
  [ -x "$tool" ] || { echo "no $tool: build first (./dev.sh test)"; exit 1; }
done
command -v mawk > /dev/null || { echo "needs mawk"; exit 1; }

work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
"$make_logs" "$work/typical" 1000000 250000 > /dev/null
"$make_logs" "$work/distinct" 1000000 250000 distinct > /dev/null
"$make_logs" "$work/ten" 10000000 2500000 > /dev/null

logs() { echo "'$work/$1/Download Log.txt' '$work/$1/Upload Log.txt'"; }
bytes() { cat "$work/$1/Download Log.txt" "$work/$1/Upload Log.txt" | wc -c; }

# The commands compared, by name.
declare -A command=(
  [report]="'$report' --users $(logs typical)"
  [wc]="wc -l $(logs typical)"
  [mawk]="mawk -F'\t' 'FNR > 1 && NF >= 5 { n[\$4]++ } END { for (k in n) print k \"\t\" n[k] }' $(logs typical) | sort -f"
  [distinct]="'$report' --users $(logs distinct)"
  [ten]="'$report' --users $(logs ten)"
)
order=(report wc mawk distinct ten)

# Wall time of one run, in seconds (run by this shell: no shell started for it).
time_once() {
  local start end
  start=$(date +%s%N)
  eval "$1" > /dev/null
  end=$(date +%s%N)
  echo "scale=4; ($end - $start) / 1000000000" | bc
}

# The least of $runs runs of each command, the commands taking turns so that a busy moment of
# the machine does not fall on one of them only.
declare -A least
for name in "${order[@]}"; do eval "${command[$name]}" > /dev/null; done  # warm the cache
for ((i = 0; i < runs; i++)); do
  for name in "${order[@]}"; do
    t=$(time_once "${command[$name]}")
    if [ -z "${least[$name]:-}" ] || [ "$(echo "$t < ${least[$name]}" | bc)" = 1 ]; then
      least[$name]=$t
    fi
  done
done

# Peak resident memory in bytes, the least of three runs.
peak() {
  local best="" kib
  for _ in 1 2 3; do
    kib=$(/usr/bin/time -f %M bash -c "exec ${command[$1]} > /dev/null" 2>&1 | tail -n 1)
    if [ -z "$best" ] || [ "$kib" -lt "$best" ]; then best=$kib; fi
  done
  echo $((best * 1024))
}

ratio() { echo "scale=10; $1 / $2" | bc; }
verdict() { [ "$(echo "$1 <= $2" | bc)" = 1 ] && echo "met" || echo "NOT met"; }
figure() {  # caption, value, target
  printf '%-58s %6.2f  (target <= %s: %s)\n' "$1" "$2" "$3" "$(verdict "$2" "$3")"
}

typical=$(bytes typical)
distinct=$(bytes distinct)
echo "Pairs: typical 1,000,000 + 250,000 rows ($typical bytes), all-distinct 1,000,000 + 250,000"
echo "rows ($distinct bytes), typical 10,000,000 + 2,500,000 rows ($(bytes ten) bytes)."
echo "Times are the least of $runs interleaved runs, in seconds:"
for name in "${order[@]}"; do
  printf '  %-9s %7s s  %s\n' "$name" "${least[$name]}" "${command[$name]}"
done
echo
figure "--users time / wc -l time (typical pair)" "$(ratio "${least[report]}" "${least[wc]}")" 4
figure "--users time / mawk count | sort -f time (typical pair)" \
  "$(ratio "${least[report]}" "${least[mawk]}")" 0.3
figure "time per MB, all-distinct / typical" \
  "$(ratio "$(ratio "${least[distinct]}" "$distinct")" "$(ratio "${least[report]}" "$typical")")" 2
figure "10M pair time / 1M pair time" "$(ratio "${least[ten]}" "${least[report]}")" 11
peak_typical=$(peak report)
peak_distinct=$(peak distinct)
echo
echo "Peak memory (/usr/bin/time -f %M, least of 3): typical $peak_typical bytes," \
  "all-distinct $peak_distinct bytes"
figure "peak memory / file size (typical pair)" "$(ratio "$peak_typical" "$typical")" 1.5
figure "peak memory / file size (all-distinct pair)" "$(ratio "$peak_distinct" "$distinct")" 2.5
