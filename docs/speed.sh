#!/usr/bin/env bash
# Draws docs/speed.svg: the time of the interior-sample sum against the number of
# intervals N, on log-log axes: the plain in-order loop, the widest kernel set's
# blocks that divide out every sample, and each kernel set's dispatched sum, every
# set that this processor runs. Runs the benchmark's scan in the release build
# (building it if needed; it takes several minutes), or reads the JSON output of
# an earlier run given as the argument
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
  "$bench" --benchmark_filter='^(scan_(in_order|blocks|fast)|in_order/2147483647)' \
    --benchmark_out="$json" --benchmark_out_format=json >/dev/null
fi

# A comment line that names the columns, then one line a count: N and the
# milliseconds of each sum, "?" where one was not timed. The columns: the
# in-order loop, the widest set's dividing blocks, each set's dispatched sum,
# widest first.
python3 - "$json" >"$data" <<'PYTHON'
import json, sys
runs = json.load(open(sys.argv[1]))["benchmarks"]
sets = []
for run in runs:
    name = run["run_name"].split("/")[0]
    if name.startswith("scan_fast_") and name[10:] not in sets:
        sets.append(name[10:])
if not sets:
    sys.exit("no scan_fast_<set> runs in " + sys.argv[1])
widths = {"avx512": 0, "avx2": 1}
sets.sort(key=lambda s: widths.get(s, 2))
columns = {"scan_in_order": 0, "in_order": 0, "scan_blocks_" + sets[0]: 1}
for k, s in enumerate(sets):
    columns["scan_fast_" + s] = 2 + k
rows = {}
# Each run's time, or with repetitions their median.
medians = set()
for run in runs:
    sum_name, n = run["run_name"].split("/")
    if sum_name == "in_order" and n != "2147483647":
        continue  # the other counts are not the scan's
    median = run.get("aggregate_name") == "median"
    if sum_name in columns and (median or (run.get("run_type") == "iteration"
                                           and (sum_name, n) not in medians)):
        rows.setdefault(int(n), ["?"] * (2 + len(sets)))[columns[sum_name]] = run["real_time"]
        if median:
            medians.add((sum_name, n))
print("#", "N", "plain", "blocks_" + sets[0], *sets)
for n in sorted(rows):
    print(n, *rows[n])
PYTHON

# The sets' names as their users know them, and the plot's lines.
read -r -a names <"$data"
label() {
  case $1 in
  avx512) echo "AVX-512" ;; avx2) echo "AVX2" ;; sse2) echo "SSE2" ;; *) echo "$1" ;;
  esac
}
widest=$(label "${names[4]}")
plots="\"$data\" using 1:2 with linespoints pt 7 ps 0.7 lw 2 title \"plain loop\""
plots+=", \"$data\" using 1:3 with linespoints pt 5 ps 0.5 lw 2 dt 2 title \"dividing every sample, $widest\""
points=(9 13 11 3 1)
for ((column = 4; column < ${#names[@]}; ++column)); do
  plots+=", \"$data\" using 1:$column with linespoints pt ${points[column - 4]} ps 0.6 lw 2"
  plots+=" title \"dispatched, $(label "${names[column]}")\""
done

processor=$(LC_ALL=C lscpu 2>/dev/null | sed -n 's/^Model name:[[:space:]]*//p' | head -n 1)
family=$(LC_ALL=C lscpu 2>/dev/null | sed -n 's/^CPU family:[[:space:]]*//p' | head -n 1)
gnuplot <<PLOT
set terminal svg size 760,560 dynamic font "sans,13" background "white"
set output "docs/speed.svg"
set title "Time to sum the interior samples, one core of ${processor:-this processor}${family:+ (family $family)}, $(date -u +%Y-%m-%d)"
set xlabel "number of intervals N"
set ylabel "milliseconds"
set logscale xy
set logscale x 2
set format x "2^{%L}"
set format y "%g"
set grid
set key outside bottom center horizontal maxrows 2 box opaque
set bmargin 8
set xlabel offset 0,0.3
set datafile missing "?"
plot $plots
PLOT
echo "wrote docs/speed.svg"
