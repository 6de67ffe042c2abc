#!/usr/bin/env bash
# Build, run and test the meter interface program on Debian.
#   ./qm.sh run    install what is missing, build (Release) and start the program
#   ./qm.sh demo   the same, with the meter emulator standing in for a meter on COM1
#   ./qm.sh test   install what is missing, build and run the whole test suite headless
set -euo pipefail
cd "$(dirname "$(readlink -f "$0")")"

PACKAGES=(
  cmake g++ make pkg-config
  qt6-base-dev qt6-base-dev-tools qt6-serialport-dev libqt6sql6-sqlite libgl-dev fonts-liberation
  libqcustomplot-dev libqcustomplot2.1-qt6
  libsqlite3-dev libbenchmark-dev sqlite3
  poppler-utils
)

ensure_packages() {
  local missing=()
  for p in "${PACKAGES[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
  done
  [ ${#missing[@]} -eq 0 ] && return 0
  echo "Installing: ${missing[*]}"
  local sudo=""
  [ "$(id -u)" -ne 0 ] && sudo="sudo"
  $sudo apt-get update -q
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -q "${missing[@]}"
}

build() { # build <dir> <type> [extra cmake args...]
  local dir=$1 type=$2
  shift 2
  cmake -S . -B "$dir" -DCMAKE_BUILD_TYPE="$type" "$@" >/dev/null
  cmake --build "$dir" -j"$(nproc)"
}

cmd=${1:-}
case "$cmd" in
  run)
    ensure_packages
    build build-release Release -DQM_BUILD_TESTS=OFF -DQM_BUILD_BENCH=OFF
    exec build-release/app/qm-interface
    ;;
  demo)
    ensure_packages
    build build-release Release -DQM_BUILD_TESTS=OFF -DQM_BUILD_BENCH=OFF
    link="${TMPDIR:-/tmp}/qm-demo-COM1-$$"
    build-release/tools/metersim/qm-meter-sim --link "$link" </dev/null >/dev/null &
    sim=$!
    trap 'kill $sim 2>/dev/null || true' EXIT
    for _ in $(seq 50); do [ -e "$link" ] && break; sleep 0.1; done
    echo "Meter emulator on $link; choose COM1 and press Connect."
    QM_COM1="$link" build-release/app/qm-interface
    ;;
  test)
    ensure_packages
    build build-test RelWithDebInfo
    cd build-test
    QT_QPA_PLATFORM=offscreen ctest --output-on-failure --timeout 300
    ;;
  *)
    sed -n '2,5p' "$0"
    exit 2
    ;;
esac
