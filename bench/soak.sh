#!/usr/bin/env bash
# Long run of the real window (offscreen) against the meter emulator flooding the link:
# every reading recorded with the limit "limitess", the table saved at the end and read back.
# Reports frames decoded, records saved and resident memory at the start, after warm-up and
# at the end.
#
#   bench/soak.sh [MINUTES]        default 10 minutes
# Extra arguments go to qm-soak (e.g. --warmup SECONDS, --sample SECONDS, --dir FOLDER).
# BUILD_DIR picks the build folder (default build-bench); the report is also kept in
# $BUILD_DIR/soak.log.
set -euo pipefail
cd "$(dirname "$(readlink -f "$0")")/.."

minutes=${1:-10}
[ $# -gt 0 ] && shift
build=${BUILD_DIR:-build-bench}
cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=Release -DQM_BUILD_TESTS=OFF -DQM_BUILD_BENCH=ON \
  >/dev/null
cmake --build "$build" -j"$(nproc)" --target qm-soak qm-meter-sim >"$build/soak-build.log" 2>&1 ||
  { tail -n 30 "$build/soak-build.log"; exit 1; }
echo "$(date -u '+%Y-%m-%d %H:%M'), $(nproc) cores, $(lscpu | sed -n 's/^Model name: *//p' | head -n 1)" |
  tee "$build/soak.log"
QT_QPA_PLATFORM=offscreen "$build/bench/qm-soak" --minutes "$minutes" "$@" | tee -a "$build/soak.log"
