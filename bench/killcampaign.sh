#!/usr/bin/env bash
# The kill campaign in full: a copy of the window records from the meter emulator and is
# killed with SIGKILL at random moments (while recording, inside Save, Clear, Save as, an
# export, a reopening, and while the next start opens the table and asks), 160 rounds by
# default; after each, the next start answers Yes (No in one round of four) and saves, and the
# table must hold exactly the last save plus the records offered, each once, in order, with
# every record older than two seconds among them. Then a run that recorded 10,000 readings
# is killed and the next start must offer all 10,000.
#
#   bench/killcampaign.sh [ROUNDS]
#
# Builds the test program (build-test, as ./qm.sh test does) and runs it; ctest runs the same
# test with 4 rounds and 1,000 readings.
set -euo pipefail
cd "$(dirname "$(readlink -f "$0")")/.."
rounds=${1:-160}
cmake -S . -B build-test -DCMAKE_BUILD_TYPE=RelWithDebInfo "-DCMAKE_CXX_FLAGS_RELWITHDEBINFO=-O2 -g1" \
  >/dev/null
cmake --build build-test -j"$(nproc)" --target tst_recovery qm-meter-sim >/dev/null
cd build-test/tests/app
export QT_QPA_PLATFORM=offscreen
QM_KILL_ROUNDS=$rounds QM_KILL_LONGEST_MS=4000 ./tst_recovery \
  killedAtRandomMomentsLosesNoSavedOrSecuredRecord
QM_DONE_READINGS=10000 ./tst_recovery everyReadingOfAKilledRunComesBack
