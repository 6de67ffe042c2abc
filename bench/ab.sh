#!/usr/bin/env bash
# One benchmark program of an earlier revision (A) against the work tree (B), run in turns
# A, B, A, B, ... so that both see the same load on the machine, then each figure's median
# over the runs and the ratio B/A:
#
#   bench/ab.sh REV TARGET RUNS [ARGS...]
#   bench/ab.sh main qm-bench-recording 5 --count 1000000
#
# Both are built Release, A in a temporary worktree of REV. Both take the benchmark programs
# of the work tree (bench/), so that one measuring program times two versions of the code;
# it must build against REV. The programs' output goes to $BUILD_DIR/ab-logs/ (BUILD_DIR
# defaults to build-bench).
#
# AB_OWN_BENCH=1 leaves A its own benchmark programs, for a change of interface that the
# measuring program had to follow; compare only figures whose measured loop is the same in
# both.
set -euo pipefail
cd "$(dirname "$(readlink -f "$0")")/.."

[ $# -ge 3 ] || { sed -n '2,10p' "$0"; exit 2; }
rev=$1 target=$2 runs=$3
shift 3
build=${BUILD_DIR:-build-bench}
logs="$build/ab-logs"
base=$(mktemp -d "${TMPDIR:-/tmp}/qm-ab-XXXXXX")
trap 'git worktree remove --force "$base/tree" >/dev/null 2>&1 || true; rm -rf "$base"' EXIT

configure_and_build() { # source build
  cmake -S "$1" -B "$2" -DCMAKE_BUILD_TYPE=Release -DQM_BUILD_TESTS=OFF -DQM_BUILD_BENCH=ON \
    >/dev/null
  cmake --build "$2" -j"$(nproc)" --target "$target" >"$2/ab-build.log" 2>&1 ||
    { tail -n 30 "$2/ab-build.log"; exit 1; }
}

echo "== building $target of $rev (A) and of the work tree (B)"
git worktree add --detach "$base/tree" "$rev" >/dev/null
[ "${AB_OWN_BENCH:-0}" = 1 ] || cp -r bench/. "$base/tree/bench/"
configure_and_build "$base/tree" "$base/build"
configure_and_build . "$build"

export QT_QPA_PLATFORM=offscreen
rm -rf "$logs"
mkdir -p "$logs"
for run in $(seq "$runs"); do
  for side in A B; do
    program="$build/bench/$target"
    [ "$side" = A ] && program="$base/build/bench/$target"
    echo "== $side, run $run of $runs" >&2
    "$program" "$@" >"$logs/$side.$run.log" 2>&1 ||
      { tail -n 30 "$logs/$side.$run.log"; exit 1; }
    grep '^FIGURE' "$logs/$side.$run.log" | sed "s/^FIGURE/$side/" >>"$logs/figures.tsv" || true
  done
done

# Per figure: the median of each side, and the median of the runs' own ratios B/A (each B
# beside the A just before it), which a load that comes and goes disturbs less.
awk -F'\t' '
  {
    key = $1 SUBSEP $2
    k = ++count[key]; v[key, k] = $3; unit[$2] = $4
    if (!($2 in seen)) { seen[$2] = 1; order[++n] = $2 }
  }
  function median(list, k,   a, i, j, t) {
    split(list, a, " ")
    for (i = 2; i <= k; i++) for (j = i; j > 1 && a[j - 1] + 0 > a[j] + 0; j--) { t = a[j]; a[j] = a[j - 1]; a[j - 1] = t }
    return k % 2 ? a[(k + 1) / 2] : (a[k / 2] + a[k / 2 + 1]) / 2
  }
  END {
    for (i = 1; i <= n; i++) {
      name = order[i]; ka = count["A" SUBSEP name]; kb = count["B" SUBSEP name]
      la = lb = lr = ""; kr = 0
      for (j = 1; j <= ka; j++) la = la " " v["A" SUBSEP name, j]
      for (j = 1; j <= kb; j++) lb = lb " " v["B" SUBSEP name, j]
      for (j = 1; j <= ka && j <= kb; j++)
        if (v["A" SUBSEP name, j] != 0) { lr = lr " " v["B" SUBSEP name, j] / v["A" SUBSEP name, j]; kr++ }
      printf "%s: A %.4g, B %.4g %s (B/A of the medians %.2f, median of the runs'\'' B/A %.2f)\n",
        name, median(la, ka), median(lb, kb), unit[name],
        median(la, ka) != 0 ? median(lb, kb) / median(la, ka) : 0, kr ? median(lr, kr) : 0
    }
  }' "$logs/figures.tsv"
