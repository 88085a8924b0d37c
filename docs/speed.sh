#!/usr/bin/env bash
# Draws docs/speed.svg: the time of the interior-sample sum against the number of
# intervals N, on log-log axes, for the plain in-order loop, the block sum that
# divides out every sample, the dispatched sum as before the processor table and
# the inverse model (the Intel Xeon's thresholds, levels' ends by guess and
# confirmation), and the dispatched sum with this processor's thresholds (blocks
# by the model, and level sums by the inverse model). Runs the benchmark's scan in
# the release build (building it if needed; it takes a few minutes), or reads the
# JSON output of an earlier run given as the argument
# (pi-estimate-bench --benchmark_out=FILE --benchmark_out_format=json). Needs
# python3 and gnuplot (Debian package gnuplot-nox).
set -euo pipefail
json=$(realpath "${1:-/dev/null}")
cd "$(dirname "$0")/.."

data=$(mktemp)
trap 'rm -f "$data"' EXIT
if [[ $# -eq 0 ]]; then
  bench=build/release/pi-estimate-bench
  [[ -x $bench ]] || cmake --workflow --preset release >/dev/null
  json=build/release/speed.json
  "$bench" --benchmark_filter='^(scan_|in_order/2147483647)' --benchmark_out="$json" \
    --benchmark_out_format=json >/dev/null
fi

# One line a count: N, then the milliseconds of the in-order loop, the dividing
# block sum, the sum as before and the dispatched sum, "?" where one was not
# timed.
python3 - "$json" >"$data" <<'PYTHON'
import json, sys
columns = {"scan_in_order": 0, "in_order": 0, "scan_blocks": 1, "scan_before": 2,
           "scan_fast": 3}
rows = {}
# Each run's time, or with repetitions their median.
medians = set()
for run in json.load(open(sys.argv[1]))["benchmarks"]:
    sum_name, n = run["run_name"].split("/")
    median = run.get("aggregate_name") == "median"
    if sum_name in columns and (median or (run.get("run_type") == "iteration"
                                           and (sum_name, n) not in medians)):
        rows.setdefault(int(n), ["?"] * 4)[columns[sum_name]] = run["real_time"]
        if median:
            medians.add((sum_name, n))
for n in sorted(rows):
    print(n, *rows[n])
PYTHON

processor=$(LC_ALL=C lscpu 2>/dev/null | sed -n 's/^Model name:[[:space:]]*//p' | head -n 1)
gnuplot <<PLOT
set terminal svg size 760,480 dynamic font "sans,13" background "white"
set output "docs/speed.svg"
set title "Time to sum the interior samples, one core of ${processor:-this processor}"
set xlabel "number of intervals N"
set ylabel "milliseconds"
set logscale xy
set logscale x 2
set format x "2^{%L}"
set format y "%g"
set grid
set key top left
set datafile missing "?"
plot "$data" using 1:2 with linespoints pt 7 ps 0.7 lw 2 title "plain loop", \
     "$data" using 1:3 with linespoints pt 5 ps 0.5 lw 2 title "blocks, dividing every sample", \
     "$data" using 1:4 with linespoints pt 13 ps 0.6 lw 2 title "dispatched as before: Xeon's thresholds, levels by guess and confirmation", \
     "$data" using 1:5 with linespoints pt 9 ps 0.6 lw 2 title "dispatched: this processor's thresholds, levels by the inverse model"
PLOT
echo "wrote docs/speed.svg"
