#!/usr/bin/env bash
# Build, run and test the meter interface program on Debian.
#   ./qm.sh run    install what is missing, build (Release) and start the program
#   ./qm.sh demo   the same, with the meter emulator standing in for a meter on COM1
#   ./qm.sh test   install what is missing, build and run the whole test suite headless
#   ./qm.sh test --sanitize   the same, built with AddressSanitizer and UBSan
#   ./qm.sh fuzz [SECONDS]   fuzz the readout with libFuzzer (clang), default 600 s
#   ./qm.sh package   build (Release) the Debian package of the programs and print its path
#   ./qm.sh windows   cross-build the 64-bit Windows zip into dist/ (Qt for Windows is built
#                     once into ~/.cache/qm-windows: 20 to 25 min on 2 idle cores the first time,
#                     about 50 beside other builds)
#   ./qm.sh windows-test [--screenshot]   the same, then the Windows tests and programs
#                     under Wine (--screenshot: the window's pictures into docs/ as well)
set -euo pipefail
cd "$(dirname "$(readlink -f "$0")")"

PACKAGES=(
  cmake g++ make pkg-config
  qt6-base-dev qt6-base-dev-tools qt6-serialport-dev libqt6sql6-sqlite libgl-dev fonts-liberation
  libqcustomplot-dev libqcustomplot2.1-qt6
  libsqlite3-dev libbenchmark-dev sqlite3
  poppler-utils
  dpkg-dev desktop-file-utils
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
    if [ "${2:-}" = "--sanitize" ]; then
      # Every library, tool and test built with AddressSanitizer and UBSan; any report fails.
      # Lightly optimised, with line tables only: it builds a minute faster and still names
      # the line of every report.
      build build-asan RelWithDebInfo -DQM_SANITIZE=ON -DQM_BUILD_BENCH=ON \
        "-DCMAKE_CXX_FLAGS_RELWITHDEBINFO=-O1 -g1"
      cd build-asan
      export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1:quarantine_size_mb=64
      export LSAN_OPTIONS="suppressions=$PWD/../tests/lsan.supp:print_suppressions=0"
      export UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1
      QT_QPA_PLATFORM=offscreen ctest --output-on-failure --timeout 600 -j"$(nproc)"
    else
      # Line tables only: a failure still names its line, and the build takes about a third
      # less time than with full debug information.
      build build-test RelWithDebInfo "-DCMAKE_CXX_FLAGS_RELWITHDEBINFO=-O2 -g1"
      cd build-test
      QT_QPA_PLATFORM=offscreen ctest --output-on-failure --timeout 300 -j"$(nproc)"
    fi
    ;;
  fuzz)
    PACKAGES+=(clang libclang-rt-14-dev)
    ensure_packages
    seconds=${2:-600}
    build_dir=build-fuzz
    flags="-fsanitize=fuzzer-no-link,address,undefined -fno-omit-frame-pointer"
    cmake -S . -B "$build_dir" -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_BUILD_TYPE=RelWithDebInfo \
      -DQM_FUZZ=ON -DQM_BUILD_BENCH=OFF "-DCMAKE_CXX_FLAGS=$flags" >/dev/null
    cmake --build "$build_dir" -j"$(nproc)" --target fuzz_readout
    # New inputs go to a working corpus beside the build; the committed seeds stay small.
    work="$build_dir/corpus/readout"
    mkdir -p "$work" "$build_dir/crashes"
    UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1 \
      "$build_dir/tests/fuzz/fuzz_readout" -max_total_time="$seconds" -print_final_stats=1 \
      -artifact_prefix="$build_dir/crashes/" "$work" tests/fuzz/corpus/readout
    ;;
  package)
    ensure_packages
    build build-release Release -DQM_BUILD_TESTS=OFF -DQM_BUILD_BENCH=OFF
    rm -f build-release/*.deb
    (cd build-release && cpack -G DEB >/dev/null)
    deb=$(ls build-release/*.deb)
    echo "$PWD/$deb"
    ;;
  windows)
    shift
    exec packaging/windows/build.sh "$@"
    ;;
  windows-test)
    # The Linux emulator and decoder to test against, and the tools that drive Wine.
    PACKAGES+=(xvfb x11-utils xdotool imagemagick unzip)
    ensure_packages
    shift
    exec packaging/windows/test.sh "$@"
    ;;
  *)
    sed -n '2,13p' "$0"
    exit 2
    ;;
esac
