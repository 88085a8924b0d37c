#!/usr/bin/env bash
# The whole-process benchmark: what a person waits for. Times with hyperfine (which
# subtracts its shell's own start) the release program, as shipped (static),
# against the same program linked dynamically (the preset "dynamic"), the same
# program with the plain in-order loop, and the floor, a static program that only
# writes a line; at N = 5, 10^6, 16,777,217, 189,812,531 and 2^31 - 1 (the plain
# loop up to 16,777,217 only: it takes seconds beyond). Writes hyperfine's JSON to
# build/release/process.json and prints a table. Needs hyperfine (Debian package
# hyperfine) and python3; builds the presets if needed. RUNS (default 100) sets
# the runs for each command: below a few milliseconds hyperfine's estimate of its
# shell's start is the largest error.
set -euo pipefail
cd "$(dirname "$0")/.."

build=build/release
for program in pi-estimate pi-estimate-plain pi-estimate-floor; do
  [[ -x $build/$program ]] || { cmake --workflow --preset release >/dev/null; break; }
done
dynamic=build/dynamic/pi-estimate
[[ -x $dynamic ]] || cmake --workflow --preset dynamic >/dev/null
inputs=$(mktemp -d)
trap 'rm -rf "$inputs"' EXIT

commands=(-n floor "$build/pi-estimate-floor")
for n in 5 1000000 16777217 189812531 2147483647; do
  echo "$n" >"$inputs/$n"
  commands+=(-n "program/$n" "$build/pi-estimate <$inputs/$n")
  commands+=(-n "dynamic/$n" "$dynamic <$inputs/$n")
  if ((n <= 16777217)); then
    commands+=(-n "plain/$n" "$build/pi-estimate-plain <$inputs/$n")
  fi
done
hyperfine --style basic --warmup 3 --runs "${RUNS:-100}" --export-json "$build/process.json" \
  "${commands[@]}" >/dev/null 2>&1

processor=$(LC_ALL=C lscpu 2>/dev/null | sed -n 's/^Model name:[[:space:]]*//p' | head -n 1)
python3 - "$build/process.json" "${processor:-unknown processor}" <<'PYTHON'
import json, sys
runs = {r["command"]: r for r in json.load(open(sys.argv[1]))["results"]}
def ms(name):
    r = runs.get(name)
    return "" if r is None else "%.2f ± %.2f" % (1e3 * r["mean"], 1e3 * r["stddev"])
floor = 1e3 * runs["floor"]["mean"]
print("Whole process, mean ± standard deviation in ms, %s (%d runs each)"
      % (sys.argv[2], len(runs["floor"]["times"])))
print("| N | program (static) | linked dynamically | plain loop | floor |")
print("|---|---|---|---|---|")
for n in (5, 1000000, 16777217, 189812531, 2147483647):
    print("| %s | %s | %s | %s | %.2f |" % ("{:,}".format(n), ms("program/%d" % n),
                                         ms("dynamic/%d" % n), ms("plain/%d" % n), floor))
program_5 = 1e3 * runs["program/5"]["mean"]
print("N = 5: %.2f times the floor" % (program_5 / floor))
fast, plain = runs["program/16777217"]["mean"], runs["plain/16777217"]["mean"]
print("N = 16,777,217: the program %.2f times as fast as the plain loop" % (plain / fast))
PYTHON
