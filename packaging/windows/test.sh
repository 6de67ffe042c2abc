#!/usr/bin/env bash
# Tests the Windows build under Wine, on Debian, after building it (build.sh --tests):
#   1. every test program, built for Windows, under Wine; PDFs are read back with the build
#      machine's pdftotext; no case may be skipped. Wine's COM ports are emulators on
#      pseudo-terminals: COM1 answers as a meter, COM2 stopped reading with its line full,
#      COM3 answers and goes away and comes back when a test says so
#   2. qm-decode.exe from the zip against the Linux qm-decode on a capture of 10,000 frames
#      made with the meter emulator: the same bytes out, from a file and from standard input
#   3. qm-interface.exe from the zip under Wine and Xvfb: the window's title, a screenshot
#      after Connect (in the run's work folder), the emulator asked for frames, and the
#      window at a scale of 125 %
#   4. end to end: the window connects, records and saves on COM1 (tst_windowoncomport, run
#      in step 1), qm-log.exe logs until Ctrl+C; both tables read back with sqlite3
#
#   packaging/windows/test.sh [--screenshot]
#
# --screenshot also copies the screenshots into docs/ (screenshot-windows.png and
# screenshot-windows-125.png). Environment: as build.sh; QM_WINDOWS_TEST_WORK, the work
# folder (default build-windows/wine-test).
set -Eeuo pipefail

ROOT=$(cd "$(dirname "$(readlink -f "$0")")/../.." && pwd)
BUILD=$ROOT/build-windows
HOST=$ROOT/build-windows-host
WORK=${QM_WINDOWS_TEST_WORK:-$BUILD/wine-test}
JOBS=${QM_JOBS:-$(nproc)}
TITLE="QM30 Interface Program _Ver: 1.00"
FRAMES=10000
SCREENSHOT=0
case "${1:-}" in
  --screenshot) SCREENSHOT=1 ;;
  "") ;;
  *)
    echo "usage: $0 [--screenshot]" >&2
    exit 2
    ;;
esac
# Every wait has its limit (seconds): Wine's set-up, one program's run, a window showing.
SETUP_LIMIT=300
RUN_LIMIT=300

export WINEPREFIX=$BUILD/wine
export WINEDEBUG=-all
# No Mono and no Gecko: nothing here needs them, and Wine would offer to download them.
export WINEDLLOVERRIDES="mscoree,mshtml="
unset DISPLAY

STAGES=6
# shellcheck source=packaging/windows/stages.sh
. "$ROOT/packaging/windows/stages.sh"
total_start=$(date +%s)
pids=()

cleanup() {
  local pid
  # Wine's programs first, so that none of them sees its display go away.
  timeout 30 wineserver -k 2>/dev/null || true
  for pid in "${pids[@]}"; do
    kill "$pid" 2>/dev/null || true
  done
}
trap cleanup EXIT

fail() {
  echo "qm-windows-test: FAILED in \"$stage_name\": $*" >&2
  exit 1
}
trap 'fail "command failed (line $LINENO)"' ERR

wait_for() { # wait_for <seconds> <command...>: true once the command succeeds
  local until=$(($(date +%s) + $1))
  shift
  until "$@"; do
    [ "$(date +%s)" -lt "$until" ] || return 1
    sleep 0.2
  done
}

wait_pid() { # wait_pid <seconds> <pid>: its exit code, or 124 (and killed) when it ran on
  local until=$(($(date +%s) + $1)) rc=0
  while kill -0 "$2" 2>/dev/null; do
    if [ "$(date +%s)" -ge "$until" ]; then
      kill "$2" 2>/dev/null || true
      wait "$2" 2>/dev/null || true
      return 124
    fi
    sleep 0.2
  done
  wait "$2" || rc=$?
  return $rc
}

start_emulator() { # start_emulator <name> <options...>: starts it, sets EMU_PTY
  # Its commands come from the file $WORK/<name>.commands, which tests append to.
  local name=$1
  shift
  : >"$WORK/$name.commands"
  mkfifo "$WORK/$name.fifo"
  tail -n +1 -F "$WORK/$name.commands" >"$WORK/$name.fifo" 2>/dev/null &
  pids+=($!)
  "$HOST/tools/metersim/qm-meter-sim" "$@" <"$WORK/$name.fifo" >"$WORK/$name.out" 2>"$WORK/$name.err" &
  pids+=($!)
  wait_for 10 grep -q '^/dev/' "$WORK/$name.out" || fail "the meter emulator did not start: $(cat "$WORK/$name.err")"
  EMU_PTY=$(head -n 1 "$WORK/$name.out")
}

winpath_of() { # the Windows name of a Linux path (Wine's Z: is the root)
  echo "Z:${1//\//\\}"
}

# --- the Windows build, its tests, the zip ------------------------------------------------
"$ROOT/packaging/windows/build.sh" --tests
ZIP=$(ls -t "$ROOT"/dist/qm-interface-*-win64.zip | head -n 1)
echo "qm-windows-test: testing $ZIP"
tests_start=$(date +%s)

# --- 1. Linux programs to test against -----------------------------------------------------
stage_begin "the Linux emulator and decoder"
cmake -S "$ROOT" -B "$HOST" -DCMAKE_BUILD_TYPE=Release -DQM_BUILD_TESTS=OFF -DQM_BUILD_BENCH=OFF \
  >"$BUILD/host-configure.log" 2>&1 || fail "configuring the Linux build (see $BUILD/host-configure.log)"
cmake --build "$HOST" --parallel "$JOBS" --target qm-meter-sim qm-decode >"$BUILD/host-build.log" 2>&1 ||
  fail "building the Linux emulator and decoder (see $BUILD/host-build.log)"

# --- 2. Wine, with COM1 at the emulator, on a display of its own -------------------------
stage_begin "Wine with COM1 to COM3 at meter emulators, and Xvfb"
rm -rf "$WORK"
mkdir -p "$WORK"
# The Windows programs and the tests' windows show on Qt's Windows platform (the one the
# program ships with; Wine keeps QT_QPA_PLATFORM from them) in this display. Xvfb picks a
# free display number itself and writes it once it is ready to take clients, so no other
# server's display is ever used.
Xvfb -displayfd 3 -screen 0 1280x1024x24 -nolisten tcp 3>"$WORK/xvfb.display" >"$WORK/xvfb.log" 2>&1 &
xvfb=$!
pids+=($xvfb)
wait_for 15 grep -q '^[0-9][0-9]*$' "$WORK/xvfb.display" ||
  fail "Xvfb did not start: $(tail -n 5 "$WORK/xvfb.log")"
kill -0 $xvfb 2>/dev/null || fail "Xvfb ended: $(tail -n 5 "$WORK/xvfb.log")"
export DISPLAY=:$(head -n 1 "$WORK/xvfb.display")
if [ ! -f "$WINEPREFIX/system.reg" ]; then
  timeout $SETUP_LIMIT wineboot -i >"$WORK/wineboot.log" 2>&1 || fail "wineboot could not make $WINEPREFIX"
fi
# COM1: the meter. COM2: a device that stopped reading, its line kept full. COM3: the meter
# behind a link, which goes away and comes back when a test writes "hangup MS" into
# $WORK/farend.commands.
start_emulator meter --log "$WORK/meter-rx.log"
COM1=$EMU_PTY
start_emulator stalled --fixed
COM2=$EMU_PTY
echo deaf >>"$WORK/stalled.commands"
wait_for 10 grep -q 'deaf' "$WORK/stalled.err" || fail "the emulator on COM2 did not stop reading"
start_emulator farend --fixed --link "$WORK/farend-port"
COM3=$WORK/farend-port
for port in COM1 COM2 COM3; do
  timeout $SETUP_LIMIT wine reg add 'HKLM\Software\Wine\Ports' /v $port /t REG_SZ /d "${!port}" /f \
    >/dev/null 2>&1 || fail "could not point Wine's $port at ${!port}"
done
# Wine reads its ports when its server starts.
timeout 30 wineserver -k 2>/dev/null || true
timeout 30 wineserver -w 2>/dev/null || true
# Started here, and kept running (-p) until the end, so that what it prints (it dumps its
# objects when the display goes away) goes to a log, not between the stage lines.
wineserver -p >"$WORK/wineserver.log" 2>&1
# The first program after the server starts also starts Wine's own background processes,
# which live as long as the server and keep that program's output open: done here with the
# output to a file, not by the first test, whose output ctest would wait for until its
# time-out. It reads back the ports too.
timeout $SETUP_LIMIT wine reg query 'HKLM\Software\Wine\Ports' >"$WORK/ports.txt" 2>&1 ||
  fail "Wine's registry has no ports: $(cat "$WORK/ports.txt")"
for port in COM1 COM2 COM3; do
  grep -qF "${!port}" "$WORK/ports.txt" || fail "Wine's $port is not ${!port}: $(cat "$WORK/ports.txt")"
done
echo "      COM1 is $COM1 (the meter), COM2 $COM2 (stopped reading), COM3 $COM3 (goes away and back)"

# --- 3. the test programs -------------------------------------------------------------------
stage_begin "the test programs under Wine"
KEEP=$WORK/window
mkdir -p "$KEEP"
export QM_TEST_METER_PORT=COM1 QM_TEST_STALL_PORT=COM2 QM_TEST_REOPEN_PORT=COM3
export QM_TEST_KEEP_DIR QM_TEST_REOPEN_CONTROL
QM_TEST_KEEP_DIR=$(winpath_of "$KEEP")
QM_TEST_REOPEN_CONTROL=$(winpath_of "$WORK/farend.commands")
export QM_PDFTOTEXT
QM_PDFTOTEXT=$(command -v pdftotext)
# One at a time: tests that wait for their window to become active share the display.
ctest_rc=0
(cd "$BUILD" && timeout 3600 ctest --output-on-failure --timeout 600) >"$WORK/ctest.log" 2>&1 ||
  ctest_rc=$?
grep -E '^ *[0-9]+/[0-9]+ Test' "$WORK/ctest.log" | sed 's/^ */      /'
if [ $ctest_rc -ne 0 ] || ! grep -q '100% tests passed' "$WORK/ctest.log"; then
  sed -n '/tests passed/,$p' "$WORK/ctest.log" >&2
  fail "not every test program passed under Wine (see $WORK/ctest.log)"
fi
echo "      $(grep 'tests passed' "$WORK/ctest.log")"
[ -f "$KEEP/Qm20db.db.count" ] || fail "tst_windowoncomport left no table behind"
window_count=$(cat "$KEEP/Qm20db.db.count")
stored=$(sqlite3 "$KEEP/Qm20db.db" 'SELECT count(*) FROM Qm20db')
[ "$stored" = "$window_count" ] || fail "the window saved $window_count records, sqlite3 reads $stored"
echo "      the window on COM1 saved $stored records; sqlite3 reads them all:"
sqlite3 -separator ' | ' "$KEEP/Qm20db.db" 'SELECT * FROM Qm20db ORDER BY "Not" LIMIT 3' | sed 's/^/        /'

# --- 4. the zip's programs ------------------------------------------------------------------
stage_begin "the zip's programs: qm-decode.exe and qm-log.exe"
unzip -q -o "$ZIP" -d "$WORK/zip"
PROGRAMS=$(dirname "$(find "$WORK/zip" -name qm-interface.exe)")
# A capture of the meter's answers, as the window asks: one display request to three
# secondary ones. A script of states that changes every 2 ms gives frames of every function,
# range and annunciator.
awk 'BEGIN {
  n = split("vdc:3 vac:4 mvdc:1 mvac:1 ohm:5 cap:5 adc:1 aac:1 madc:1 maac:1 diode:0 hz:5 duty:0", f, " ")
  split("|manual|hold|rec=max|rec=min|rec=avg|lowbat|ol|five|manual hold", flags, "|")
  for (i = 0; i < 120; i++) {
    split(f[i % n + 1], p, ":")
    range = p[1] == "hz" ? 1 + (i * 7) % 5 : (i * 7) % (p[2] + 1)
    value = (i * 2654435761) % 9000
    if (i % 4 == 1) value = -value
    flag = flags[int(i / n) % 10 + 1]
    if (p[1] == "ohm" && i % 3 == 0) flag = flag " cont"
    if (p[1] == "duty" && flag == "five") flag = ""
    printf "func=%s range=%d value=%d %s\n", p[1], range, value, flag
  }
}' >"$WORK/states.txt"
start_emulator capture --script "$WORK/states.txt" --step 2 --seed 3
stty -F "$EMU_PTY" raw -echo
capture=$WORK/capture.bin
timeout $RUN_LIMIT head -n "$FRAMES" "$EMU_PTY" >"$capture" &
reader=$!
exec 3>"$EMU_PTY"
for _ in $(seq $((FRAMES / 4 + 500))); do
  kill -0 $reader 2>/dev/null || break
  printf '\x89\x8a\x8a\x8a\x89\x8a\x8a\x8a' >&3
  sleep 0.003
done
exec 3>&-
wait_pid $RUN_LIMIT $reader || fail "the capture from the emulator did not complete"
frames=$(tr -dc '\n' <"$capture" | wc -c)
[ "$frames" -eq "$FRAMES" ] || fail "the capture holds $frames frames, not $FRAMES"
"$HOST/tools/decode/qm-decode" --stream "$capture" >"$WORK/decode-linux.txt"
timeout $RUN_LIMIT wine "$PROGRAMS/qm-decode.exe" --stream "$(winpath_of "$capture")" >"$WORK/decode-windows.txt" ||
  fail "qm-decode.exe failed or ran longer than $RUN_LIMIT s on the capture file"
timeout $RUN_LIMIT wine "$PROGRAMS/qm-decode.exe" --stream <"$capture" >"$WORK/decode-windows-stdin.txt" ||
  fail "qm-decode.exe failed or ran longer than $RUN_LIMIT s on standard input"
cmp "$WORK/decode-linux.txt" "$WORK/decode-windows.txt" ||
  fail "qm-decode.exe decodes the capture file differently from the Linux build"
cmp "$WORK/decode-linux.txt" "$WORK/decode-windows-stdin.txt" ||
  fail "qm-decode.exe decodes the capture on standard input differently from the Linux build"
echo "      $FRAMES frames ($(stat -c %s "$capture") bytes, $(sort -u "$capture" | wc -l) different):" \
  "$(wc -l <"$WORK/decode-linux.txt") lines, $(stat -c %s "$WORK/decode-linux.txt") bytes, the same from both builds"

# qm-log.exe on COM1 until Ctrl+C (Wine turns SIGINT into the console's Ctrl+C).
log_table=$WORK/qm-log.db
wine "$PROGRAMS/qm-log.exe" --port COM1 --out "$(winpath_of "$log_table")" \
  >"$WORK/qm-log.out" 2>"$WORK/qm-log.err" &
logger=$!
wait_for 30 grep -q 'the meter answers' "$WORK/qm-log.err" ||
  fail "qm-log.exe got no answer on COM1: $(cat "$WORK/qm-log.err")"
sleep 3
kill -INT $logger
log_rc=0
wait_pid 60 $logger || log_rc=$?
[ $log_rc -eq 0 ] || fail "qm-log.exe ended with $log_rc after Ctrl+C: $(cat "$WORK/qm-log.err")"
grep -q 'interrupted (Ctrl+C)' "$WORK/qm-log.err" || fail "qm-log.exe did not see Ctrl+C: $(cat "$WORK/qm-log.err")"
said=$(sed -n 's/.*interrupted (Ctrl+C): .* \([0-9]*\) recorded.*/\1/p' "$WORK/qm-log.err")
stored=$(sqlite3 "$log_table" 'SELECT count(*) FROM "qm-log"')
[ -n "$said" ] && [ "$stored" = "$said" ] || fail "qm-log.exe said it recorded '$said', sqlite3 reads $stored"
echo "      qm-log.exe on COM1: Ctrl+C after $(grep -c . "$WORK/qm-log.err") lines of messages, exit 0," \
  "$stored records, sqlite3 reads them all"

# --- 5. the window ------------------------------------------------------------------------
stage_begin "qm-interface.exe under Xvfb"
start_window() { # start_window <name> [scale]: starts the zip's program, sets wid, WIDTH, HEIGHT, X, Y
  local name=$1 scale=${2:-}
  # The program keeps its record table in the folder it starts in. Wine does not hand the
  # build machine's QT_ variables on: a scale goes through cmd's environment.
  mkdir -p "$WORK/start-in-$name"
  if [ -n "$scale" ]; then
    (cd "$WORK/start-in-$name" && exec wine cmd /c "set QT_SCALE_FACTOR=$scale&& $(winpath_of "$PROGRAMS/qm-interface.exe")") \
      >"$WORK/window-$name.out" 2>&1 &
  else
    (cd "$WORK/start-in-$name" && exec wine "$PROGRAMS/qm-interface.exe") >"$WORK/window-$name.out" 2>&1 &
  fi
  window_pid=$!
  pids+=($window_pid)
  wait_for 60 xdotool search --name "^${TITLE}\$" >/dev/null 2>&1 ||
    fail "no window titled \"$TITLE\" within 60 s ($name)"
  wid=$(xdotool search --name "^${TITLE}\$" | head -n 1)
  sleep 2
  eval "$(xdotool getwindowgeometry --shell "$wid")"
}
stop_window() {
  timeout 60 wine taskkill /f /im qm-interface.exe >/dev/null 2>&1 || true
  wait_pid 30 "$window_pid" || true
  wait_for 30 sh -c "! xdotool search --name '^${TITLE}\$' >/dev/null 2>&1" || fail "the window did not close"
}
shots=()
start_window plain
echo "      window $wid: \"$(xdotool getwindowname "$wid")\", ${WIDTH}x${HEIGHT}"
plain_width=$WIDTH
plain_height=$HEIGHT
# Connect, in the window's top right corner below the menu bar, as a user would click it
# (the middle of the button, whose top is 26 pixels below the window's).
# Taken afresh at each try of wait_for, so functions rather than arguments.
requests_now() { grep -c ' 89$' "$WORK/meter-rx.log" || true; }
asked_since_connect() { [ "$(requests_now)" -gt $((requests_before + 3)) ]; }
requests_before=$(requests_now)
xdotool mousemove --window "$wid" $((WIDTH - 130)) 38 click 1
wait_for 15 asked_since_connect || {
  import -window root "$WORK/connect-failed.png" || true
  fail "after Connect the window did not ask the emulator on COM1 for readings (screen in $WORK/connect-failed.png)"
}
sleep 3
timeout 60 import -window root -crop "${WIDTH}x${HEIGHT}+${X}+${Y}" "$WORK/window.png"
shots+=("$WORK/window.png:screenshot-windows.png")
echo "      after Connect: $(($(requests_now) - requests_before)) display" \
  "requests reached the emulator; screenshot ${WIDTH}x${HEIGHT} in $WORK/window.png"
stop_window

# At 125 %, as most Windows laptops run: the whole window scaled, nothing cut or moved.
start_window 125 1.25
ratio=$(awk -v a="$WIDTH" -v b="$plain_width" -v c="$HEIGHT" -v d="$plain_height" \
  'BEGIN { w = a / b; h = c / d; printf "%.3f %.3f", w, h; exit !(w > 1.2 && w < 1.3 && h > 1.15 && h < 1.3) }') ||
  fail "at 125 % the window is ${WIDTH}x${HEIGHT}, not about 1.25 times ${plain_width}x${plain_height} ($ratio)"
timeout 60 import -window root -crop "${WIDTH}x${HEIGHT}+${X}+${Y}" "$WORK/window-125.png"
shots+=("$WORK/window-125.png:screenshot-windows-125.png")
echo "      at 125 %: ${WIDTH}x${HEIGHT} (${ratio/ / x } the plain size); screenshot in $WORK/window-125.png"
stop_window
if [ $SCREENSHOT -eq 1 ]; then
  for shot in "${shots[@]}"; do
    cp "${shot%%:*}" "$ROOT/docs/${shot#*:}"
    echo "      copied into docs/${shot#*:}"
  done
fi

stage_begin "summary"
stage_done
echo "qm-windows-test: all passed in $(($(date +%s) - total_start)) s, of which the tests $(($(date +%s) - tests_start)) s"
