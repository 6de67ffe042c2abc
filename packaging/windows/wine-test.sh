#!/usr/bin/env bash
# ctest's runner for the Windows build (its CMAKE_CROSSCOMPILING_EMULATOR): runs one program
# under Wine, in the Wine prefix and the X display that packaging/windows/test.sh sets up
# (WINEPREFIX, DISPLAY). Wine keeps the build machine's QT_ variables from Windows programs,
# QT_QPA_PLATFORM=offscreen among them, so the tests' windows are real Windows windows (Qt's
# Windows platform, the one the program ships with) on that display.
#
# A test program (tst_*) writes its QTest log into a file, which is shown afterwards, and
# fails when it skipped a case: under Wine every case must run, none may be left out for a
# tool or a port that is missing.
set -u
exe=$1
shift
case "$(basename "$exe")" in
  tst_*) ;;
  *) exec wine "$exe" "$@" ;;
esac
log=$(mktemp "${TMPDIR:-/tmp}/qm-wine-test.XXXXXX")
trap 'rm -f "$log"' EXIT
# Wine's Z: is the build machine's root. Wine does not hand the build machine's QT_
# variables on; QT_SCALE_FACTOR (a test at 125 %, say) goes through cmd's environment.
rc=0
if [ -n "${QT_SCALE_FACTOR:-}" ]; then
  wine cmd /c "set QT_SCALE_FACTOR=$QT_SCALE_FACTOR&& Z:${exe//\//\\} $* -o Z:$log,txt" || rc=$?
else
  wine "$exe" "$@" -o "Z:$log,txt" || rc=$?
fi
cat "$log"
if grep -q '^SKIP   :' "$log"; then
  echo "wine-test: $(basename "$exe") skipped a case; under Wine every case must run" >&2
  [ $rc -eq 0 ] && rc=1
fi
# A program that died before QTest wrote its totals has not passed, whatever it returned.
if ! grep -q '^Totals: ' "$log"; then
  echo "wine-test: $(basename "$exe") ended without QTest's totals" >&2
  [ $rc -eq 0 ] && rc=1
fi
exit $rc
