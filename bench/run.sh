#!/usr/bin/env bash
# Builds the benchmarks (Release) and runs every one, then prints one line per figure:
#   name: value unit (target T, floor F, ratio R) met|MISSED
# where the value and the floor are medians over the runs of that program, and the ratio is
# the figure's cost over its floor's (for a rate, the floor's rate over the figure's). A
# target set relative to another figure of the same run differs from run to run: the value
# is judged against the median of the runs' targets.
#
#   bench/run.sh            the full sizes, about 9 minutes on 2 cores after the build
#   bench/run.sh --quick    small sizes, to check that everything runs
# BUILD_DIR picks the build folder (default build-bench); the programs' own output goes to
# $BUILD_DIR/bench-logs/.
set -euo pipefail
cd "$(dirname "$(readlink -f "$0")")/.."

quick=0
[ "${1:-}" = "--quick" ] && quick=1
build=${BUILD_DIR:-build-bench}
targets=(qm-bench-framing qm-bench-dispatch qm-bench-recording qm-bench-graph qm-bench-scale
  qm-bench-report qm-bench-startup qm-bench-decode qm-bench-journal)

started=$(date +%s)
echo "== building ${targets[*]} (Release) in $build"
cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=Release -DQM_BUILD_TESTS=OFF -DQM_BUILD_BENCH=ON \
  >/dev/null
cmake --build "$build" -j"$(nproc)" --target "${targets[@]}" >"$build/bench-build.log" 2>&1 ||
  { tail -n 30 "$build/bench-build.log"; exit 1; }
built=$(date +%s)

export QT_QPA_PLATFORM=offscreen
logs="$build/bench-logs"
rm -rf "$logs"
mkdir -p "$logs"
figures="$logs/figures.tsv"
: >"$figures"

# bench NAME RUNS PROGRAM ARGS...: runs the program RUNS times, keeping its figures.
bench() {
  local name=$1 runs=$2
  shift 2
  for run in $(seq "$runs"); do
    echo "== $name, run $run of $runs: $*" >&2
    local out="$logs/$name.$run.log"
    if ! "$build/bench/$@" >"$out" 2>&1; then
      echo "$name failed; its output:" >&2
      tail -n 30 "$out" >&2
      exit 1
    fi
    grep '^FIGURE' "$out" >>"$figures" || true
  done
}

if [ "$quick" = 1 ]; then
  bench framing 1 qm-bench-framing --frames 20000 --runs 3
  bench dispatch 1 qm-bench-dispatch --frames 2000 --fill 20000 --runs 3
  bench recording 1 qm-bench-recording --count 20000
  bench graph 1 qm-bench-graph --count 20000
  bench scale 1 qm-bench-scale --frames 500
  bench report 1 qm-bench-report --count 1000 --huge 1
  bench startup 1 qm-bench-startup --records 20000 --runs 3
  bench decode 1 qm-bench-decode --frames 20000 --runs 3
  bench journal 1 qm-bench-journal --seconds 2 --slow-sync 500
else
  # Programs that repeat their own measurements run once; the others three times.
  bench framing 1 qm-bench-framing --frames 1000000 --runs 5
  bench dispatch 1 qm-bench-dispatch --frames 20000 --fill 1000000 --runs 5
  bench recording 3 qm-bench-recording --count 1000000
  bench graph 1 qm-bench-graph --count 1000000
  bench scale 3 qm-bench-scale --frames 5000
  bench report 1 qm-bench-report --count 10000 --count 100000 --huge 5
  bench startup 1 qm-bench-startup --records 1000000 --runs 5
  bench decode 1 qm-bench-decode --frames 1000000 --runs 3
  bench journal 1 qm-bench-journal --seconds 12 --slow-sync 2000
fi

echo
echo "$(date -u +%Y-%m-%d), $(nproc) cores, $(lscpu | sed -n 's/^Model name: *//p' | head -n 1)," \
  "load average $(cut -d' ' -f1-3 /proc/loadavg)"
awk -F'\t' '
  function median(list, n,    v, i, j, t) {
    n = split(list, v, " ")
    for (i = 2; i <= n; i++)
      for (j = i; j > 1 && v[j - 1] + 0 > v[j] + 0; j--) { t = v[j]; v[j] = v[j - 1]; v[j - 1] = t }
    if (n % 2) return v[(n + 1) / 2]
    return (v[n / 2] + v[n / 2 + 1]) / 2
  }
  function meets(value, how, limit) {
    if (how == "") return ""
    if (how == "<") return value < limit ? " met" : " MISSED"
    if (how == "<=") return value <= limit ? " met" : " MISSED"
    if (how == ">") return value > limit ? " met" : " MISSED"
    return value >= limit ? " met" : " MISSED"
  }
  {
    if (!($2 in values)) { order[++count] = $2; unit[$2] = $4; op[$2] = "" }
    values[$2] = values[$2] " " $3
    if ($5 != "-") {
      match($5, /^[<>]=?/)
      op[$2] = substr($5, 1, RLENGTH)
      limits[$2] = limits[$2] " " (substr($5, RLENGTH + 1) + 0)
    }
    if ($6 != "-") floors[$2] = floors[$2] " " $6
  }
  END {
    for (i = 1; i <= count; i++) {
      name = order[i]; value = median(values[name])
      limit = op[name] == "" ? 0 : median(limits[name])
      text = sprintf("%s: %.4g %s (target %s", name, value, unit[name],
                     op[name] == "" ? "none" : sprintf("%s%.6g", op[name], limit))
      if (name in floors) {
        floor = median(floors[name])
        ratio = unit[name] ~ /\/s$/ ? floor / value : value / floor
        text = text sprintf(", floor %.4g, ratio %.3g", floor, ratio)
      }
      print text ")" meets(value, op[name], limit)
    }
  }' "$figures"
finished=$(date +%s)
echo "build $((built - started)) s, benchmarks $((finished - built)) s"
