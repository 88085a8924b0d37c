#!/usr/bin/env bash
# Draws docs/convergence.svg: how far the printed estimate lies from pi, against
# the number of intervals N, on log-log axes. Runs the release build of the
# program (building it if needed) and gnuplot (Debian package gnuplot-nox).
set -euo pipefail
cd "$(dirname "$0")/.."

program=build/release/pi-estimate
[[ -x $program ]] || cmake --workflow --preset release >/dev/null

data=$(mktemp)
trap 'rm -f "$data"' EXIT
# Four counts a decade, from 1 to beyond 10^9, and the largest count.
for n in $(awk 'BEGIN { for (k = 0; k <= 37; ++k) printf "%.0f\n", 10 ^ (k / 4) }' | uniq) \
         16777216 16777217 2147483647; do
  estimate=$(printf '%s\n' "$n" | "$program" | sed -n 's/^Best estimate = //p')
  printf '%s %s\n' "$n" "$estimate" >>"$data"
done
sort -n -o "$data" "$data"

gnuplot <<PLOT
set terminal svg size 760,480 dynamic font "sans,13" background "white"
set output "docs/convergence.svg"
set title "Distance of the printed estimate from pi"
set xlabel "number of intervals N"
set ylabel "|estimate - pi|"
set logscale xy
set format x "1e%T"
set format y "1e%T"
set grid
set key bottom left
plot "$data" using 1:(abs(\$2 - pi)) with linespoints pt 7 ps 0.6 lw 2 title "pi-estimate", \
     3 / x with lines dt 2 lw 1.5 title "3 / N"
PLOT
echo "wrote docs/convergence.svg"
