#!/usr/bin/env bash
# Builds the self-contained 64-bit Windows package on Debian: MinGW-w64 cross compiler,
# Qt 6 for Windows (static) from Debian's qt6-base source, the SQLite amalgamation from
# Debian's sqlite3 source and QCustomPlot from Debian's qcustomplot source. What is built
# from those sources goes to a cache outside the work tree, keyed by the versions, so a
# second run only rebuilds the program.
#
#   packaging/windows/build.sh [--deps-only | --tests]
#
# --tests also builds the test suite for Windows, in the same build folder; its ctest runs
# each test program under Wine (packaging/windows/test.sh does that).
#
# Environment: QM_WINDOWS_CACHE (default ${XDG_CACHE_HOME:-~/.cache}/qm-windows),
# QM_JOBS (default: the number of cores).
set -Eeuo pipefail

ROOT=$(cd "$(dirname "$(readlink -f "$0")")/../.." && pwd)
CACHE=${QM_WINDOWS_CACHE:-${XDG_CACHE_HOME:-$HOME/.cache}/qm-windows}
JOBS=${QM_JOBS:-$(nproc)}
TRIPLE=x86_64-w64-mingw32
TOOLCHAIN=$ROOT/cmake/mingw-w64-x86_64.cmake
HOST_CMAKE_DIR=/usr/lib/x86_64-linux-gnu/cmake
# Raised whenever a recipe below changes in a way that needs the cached builds redone.
RECIPE=2
DEPS_ONLY=0
TESTS=0
case "${1:-}" in
  --deps-only) DEPS_ONLY=1 ;;
  --tests) TESTS=1 ;;
  "") ;;
  *)
    echo "usage: $0 [--deps-only | --tests]" >&2
    exit 2
    ;;
esac

PACKAGES=(
  g++-mingw-w64-x86-64-posix binutils-mingw-w64-x86-64 ninja-build cmake perl tcl
  dpkg-dev zip wine64 xvfb
  # The build machine's Qt of the very same version: its moc, rcc and uic build Qt and the
  # program for Windows.
  qt6-base-dev qt6-base-dev-tools libsqlite3-dev libqcustomplot-dev
)

STAGES=8
# shellcheck source=packaging/windows/stages.sh
. "$ROOT/packaging/windows/stages.sh"
stage_log=""
total_start=$(date +%s)

fail() {
  echo "qm-windows: FAILED in stage \"$stage_name\": $*" >&2
  if [ -n "$stage_log" ] && [ -s "$stage_log" ]; then
    echo "---- last lines of $stage_log ----" >&2
    tail -n 40 "$stage_log" >&2
  fi
  exit 1
}
trap 'fail "command failed (line $LINENO)"' ERR

stage() { # stage <log name> <title>: starts the next stage with its progress line and log
  stage_done
  stage_log=$CACHE/logs/$1.log
  mkdir -p "$CACHE/logs"
  : >"$stage_log"
  stage_begin "$2"
}

run() { # run <command...>: runs into the stage's log, a failure names the stage
  if ! "$@" >>"$stage_log" 2>&1; then
    fail "'$*' failed"
  fi
}

run_in() { # run_in <dir> <command...>: the same, in another folder
  local dir=$1
  shift
  if ! (cd "$dir" && "$@") >>"$stage_log" 2>&1; then
    fail "'$*' failed"
  fi
}

as_root() {
  if [ "$(id -u)" -eq 0 ]; then "$@"; else sudo "$@"; fi
}

# --- 1. packages --------------------------------------------------------------------------
stage packages "packages"
missing=()
for p in "${PACKAGES[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  echo "      installing: ${missing[*]}"
  as_root apt-get update -q >>"$stage_log" 2>&1 || fail "apt-get update failed (no network to the package archive?)"
  DEBIAN_FRONTEND=noninteractive as_root apt-get install -y -q "${missing[@]}" >>"$stage_log" 2>&1 ||
    fail "could not install ${missing[*]}"
fi

src_version() { # the Debian source version of an installed binary package
  dpkg-query -W -f='${source:Version}' "$1"
}
QT_DEB=$(src_version qt6-base-dev)
SQLITE_DEB=$(src_version libsqlite3-dev)
QCP_DEB=$(src_version libqcustomplot-dev)
GCC_VER=$($TRIPLE-gcc-posix -dumpversion)
KEY_SQLITE="sqlite-${SQLITE_DEB}-gcc${GCC_VER}-r${RECIPE}"
KEY_QT="qt-${QT_DEB}-${KEY_SQLITE}"
KEY_QCP="qcustomplot-${QCP_DEB}-${KEY_QT}"
SQLITE_PREFIX=$CACHE/$KEY_SQLITE
QT_PREFIX=$CACHE/$KEY_QT
QCP_PREFIX=$CACHE/$KEY_QCP

# --- 2. sources ---------------------------------------------------------------------------
stage sources "sources"
# Source packages need a deb-src entry beside the deb entry the machine installs from.
add_deb_src() {
  local out822=/etc/apt/sources.list.d/qm-windows-src.sources
  local outlist=/etc/apt/sources.list.d/qm-windows-src.list
  local tmp822 tmplist
  tmp822=$(mktemp)
  tmplist=$(mktemp)
  # deb822 files: every stanza of Debian's archive whose Types has deb but not deb-src.
  for f in /etc/apt/sources.list.d/*.sources; do
    [ -e "$f" ] && [ "$f" != "$out822" ] || continue
    awk 'BEGIN { RS = ""; FS = "\n" }
      {
        types = ""; archive = 0; enabled = 1; body = ""
        for (i = 1; i <= NF; i++) {
          line = $i
          if (line ~ /^#/) continue
          if (line ~ /^Types:/) { types = line; continue }
          if (line ~ /^Enabled:[ \t]*no/) enabled = 0
          if (line ~ /^URIs:.*\/debian(-security)?\/?([ \t]|$)/ || line ~ /debian-archive-keyring/) archive = 1
          body = body line "\n"
        }
        if (enabled && archive && types ~ /[ \t]deb([ \t]|$)/ && types !~ /deb-src/)
          printf "Types: deb-src\n%s\n", body
      }' "$f" >>"$tmp822"
  done
  # One-line lists.
  for f in /etc/apt/sources.list /etc/apt/sources.list.d/*.list; do
    [ -e "$f" ] && [ "$f" != "$outlist" ] || continue
    sed -n 's/^[ \t]*deb[ \t]\(.*\/debian\(-security\)\?\/\?[ \t].*\)$/deb-src \1/p' "$f" >>"$tmplist"
  done
  if [ ! -s "$tmp822" ] && [ ! -s "$tmplist" ]; then
    rm -f "$tmp822" "$tmplist"
    fail "found no deb entry of Debian's archive in /etc/apt/sources.list{,.d} to add a deb-src entry beside"
  fi
  local written=()
  if [ -s "$tmp822" ]; then
    as_root install -m 644 "$tmp822" "$out822"
    written+=("$out822")
  fi
  if [ -s "$tmplist" ]; then
    as_root install -m 644 "$tmplist" "$outlist"
    written+=("$outlist")
  fi
  rm -f "$tmp822" "$tmplist"
  echo "      added deb-src entries: ${written[*]}"
  as_root apt-get update -q >>"$stage_log" 2>&1 || fail "apt-get update failed after adding the deb-src entries"
}

fetch_source() { # fetch_source <source package> <version>: unpacks into $CACHE/src
  local pkg=$1 ver=$2 dir=$CACHE/src/${1}_${2}
  [ -f "$dir/.done" ] && return 0
  rm -rf "$dir"
  mkdir -p "$dir"
  echo "      downloading $pkg $ver"
  (cd "$dir" && apt-get source -q "$pkg=$ver") >>"$stage_log" 2>&1 ||
    fail "could not download the source package $pkg $ver (apt-get source; see the log)"
  touch "$dir/.done"
}

need_fetch=0
for pkg in "qt6-base=$QT_DEB" "sqlite3=$SQLITE_DEB" "qcustomplot=$QCP_DEB"; do
  [ -f "$CACHE/src/${pkg%%=*}_${pkg#*=}/.done" ] || need_fetch=1
done
if [ $need_fetch -eq 1 ] && ! apt-get source --print-uris -q "qt6-base=$QT_DEB" >/dev/null 2>&1; then
  add_deb_src
fi
fetch_source qt6-base "$QT_DEB"
fetch_source sqlite3 "$SQLITE_DEB"
fetch_source qcustomplot "$QCP_DEB"
src_dir() { # the unpacked tree of a fetched source package
  find "$CACHE/src/${1}_${2}" -mindepth 1 -maxdepth 1 -type d | head -n 1
}
QT_SRC=$(src_dir qt6-base "$QT_DEB")
SQLITE_SRC=$(src_dir sqlite3 "$SQLITE_DEB")
QCP_SRC=$(src_dir qcustomplot "$QCP_DEB")

# --- 3. SQLite ----------------------------------------------------------------------------
# One static library from the amalgamation: Qt's SQLite driver and the program link this
# very library, so the record table's bulk commands and the driver share one SQLite.
stage sqlite "SQLite"
if [ -f "$SQLITE_PREFIX/.done" ]; then
  echo "      cached: $SQLITE_PREFIX"
else
  rm -rf "$SQLITE_PREFIX" "$CACHE/build/sqlite"
  mkdir -p "$CACHE/build/sqlite" "$SQLITE_PREFIX/lib" "$SQLITE_PREFIX/include"
  if [ -f "$SQLITE_SRC/sqlite3.c" ]; then
    cp "$SQLITE_SRC/sqlite3.c" "$SQLITE_SRC/sqlite3.h" "$CACHE/build/sqlite/"
  else
    # Debian ships the full source tree; its makefile writes the amalgamation (with tclsh).
    run_in "$CACHE/build/sqlite" "$SQLITE_SRC/configure" --disable-tcl
    run_in "$CACHE/build/sqlite" make sqlite3.c
  fi
  # The compile options Debian builds its libsqlite3 with, so the Windows build behaves as
  # the Linux one does.
  SQLITE_DEFINES=(
    -DSQLITE_THREADSAFE=1 -DSQLITE_SECURE_DELETE -DSQLITE_ENABLE_COLUMN_METADATA
    -DSQLITE_ENABLE_FTS3 -DSQLITE_ENABLE_FTS3_PARENTHESIS -DSQLITE_ENABLE_FTS4 -DSQLITE_ENABLE_FTS5
    -DSQLITE_ENABLE_RTREE=1 -DSQLITE_SOUNDEX=1 -DSQLITE_ENABLE_UNLOCK_NOTIFY
    -DSQLITE_ENABLE_DBSTAT_VTAB -DSQLITE_ENABLE_UPDATE_DELETE_LIMIT=1 -DSQLITE_ENABLE_JSON1
    -DSQLITE_LIKE_DOESNT_MATCH_BLOBS -DSQLITE_USE_URI=1 -DSQLITE_MAX_SCHEMA_RETRY=25
    -DSQLITE_ENABLE_PREUPDATE_HOOK -DSQLITE_ENABLE_SESSION -DSQLITE_ENABLE_STMTVTAB
    -DSQLITE_MAX_VARIABLE_NUMBER=250000 -DSQLITE_OMIT_LOAD_EXTENSION
  )
  run $TRIPLE-gcc-posix -O2 "${SQLITE_DEFINES[@]}" -c "$CACHE/build/sqlite/sqlite3.c" \
    -o "$CACHE/build/sqlite/sqlite3.o"
  run $TRIPLE-ar rcs "$SQLITE_PREFIX/lib/libsqlite3.a" "$CACHE/build/sqlite/sqlite3.o"
  cp "$CACHE/build/sqlite/sqlite3.h" "$SQLITE_PREFIX/include/"
  [ -f "$CACHE/build/sqlite/sqlite3ext.h" ] && cp "$CACHE/build/sqlite/sqlite3ext.h" "$SQLITE_PREFIX/include/"
  rm -rf "$CACHE/build/sqlite"
  touch "$SQLITE_PREFIX/.done"
fi
SQLITE_LIB=$SQLITE_PREFIX/lib/libsqlite3.a
SQLITE_INC=$SQLITE_PREFIX/include

# --- 4. Qt --------------------------------------------------------------------------------
QT_BUILD=$CACHE/build/qt
configure_qt() {
  # Only the modules the programs and their tests use; bundled third-party libraries, so
  # nothing but Windows' own DLLs is needed; no OpenGL, D-Bus or ICU. Debian's tarball
  # leaves out the Wintab headers, so no tablet events. Direct2D stays: without it Qt 6.4
  # leaves out the DirectWrite font engine that the Windows plugin and printing still call.
  run_in "$QT_BUILD" "$QT_SRC/configure" \
    -prefix "$QT_PREFIX" \
    -xplatform win32-g++ -static -static-runtime -release \
    -qt-host-path /usr \
    -nomake examples -nomake tests \
    -qt-zlib -qt-pcre -qt-libpng -qt-libjpeg -qt-freetype -qt-harfbuzz \
    -no-opengl -no-dbus -no-icu -no-feature-tabletevent -no-feature-vulkan \
    -no-feature-concurrent -no-feature-xml -no-feature-network \
    -sql-sqlite -system-sqlite -no-sql-odbc -no-sql-psql -no-sql-mysql -no-sql-ibase \
    -no-sql-oci -no-sql-db2 \
    -- -G Ninja \
    "-DCMAKE_TOOLCHAIN_FILE=$TOOLCHAIN" \
    "-DQT_HOST_PATH_CMAKE_DIR=$HOST_CMAKE_DIR" \
    "-DSQLite3_INCLUDE_DIR=$SQLITE_INC" "-DSQLite3_LIBRARY=$SQLITE_LIB"
}

stage qt "Qt for Windows (static; 20 to 25 min on 2 idle cores the first time, about 50 on a busy machine)"
if [ -f "$QT_PREFIX/.done" ]; then
  echo "      cached: $QT_PREFIX"
else
  echo "      log: $stage_log"
  # An interrupted build of the same versions goes on where it stopped.
  if [ -f "$QT_BUILD/build.ninja" ] && [ "$(cat "$QT_BUILD/.configured" 2>/dev/null)" = "$KEY_QT" ]; then
    echo "      going on with the interrupted build in $QT_BUILD"
  else
    rm -rf "$QT_PREFIX" "$QT_BUILD"
    mkdir -p "$QT_BUILD"
    configure_qt
    echo "$KEY_QT" >"$QT_BUILD/.configured"
  fi
  run cmake --build "$QT_BUILD" --parallel "$JOBS"
  run cmake --install "$QT_BUILD"
  rm -rf "$QT_BUILD"
  touch "$QT_PREFIX/.done"
fi

# --- 5. QCustomPlot -----------------------------------------------------------------------
stage qcustomplot "QCustomPlot"
if [ -f "$QCP_PREFIX/.done" ]; then
  echo "      cached: $QCP_PREFIX"
else
  rm -rf "$QCP_PREFIX" "$CACHE/build/qcustomplot"
  mkdir -p "$CACHE/build/qcustomplot" "$QCP_PREFIX"
  cat >"$CACHE/build/qcustomplot/CMakeLists.txt" <<EOF
cmake_minimum_required(VERSION 3.21)
project(qcustomplot_windows LANGUAGES CXX)
find_package(Qt6 REQUIRED COMPONENTS Widgets PrintSupport)
set(CMAKE_AUTOMOC ON)
add_library(QCustomPlotQt6 STATIC "$QCP_SRC/qcustomplot.cpp" "$QCP_SRC/qcustomplot.h")
target_include_directories(QCustomPlotQt6 PUBLIC \$<INSTALL_INTERFACE:include>)
target_link_libraries(QCustomPlotQt6 PUBLIC Qt6::Widgets Qt6::PrintSupport)
install(TARGETS QCustomPlotQt6 EXPORT QCustomPlotQt6Targets ARCHIVE DESTINATION lib)
install(FILES "$QCP_SRC/qcustomplot.h" DESTINATION include)
install(EXPORT QCustomPlotQt6Targets NAMESPACE QCustomPlotQt6:: DESTINATION lib/cmake/QCustomPlotQt6)
file(WRITE "\${CMAKE_CURRENT_BINARY_DIR}/QCustomPlotQt6Config.cmake"
  "include(CMakeFindDependencyMacro)\nfind_dependency(Qt6 COMPONENTS Widgets PrintSupport)\ninclude(\"\\\${CMAKE_CURRENT_LIST_DIR}/QCustomPlotQt6Targets.cmake\")\n")
install(FILES "\${CMAKE_CURRENT_BINARY_DIR}/QCustomPlotQt6Config.cmake" DESTINATION lib/cmake/QCustomPlotQt6)
EOF
  run "$QT_PREFIX/bin/qt-cmake" -S "$CACHE/build/qcustomplot" -B "$CACHE/build/qcustomplot/build" \
    "-DQT_CHAINLOAD_TOOLCHAIN_FILE=$TOOLCHAIN" -G Ninja -DCMAKE_BUILD_TYPE=Release "-DCMAKE_INSTALL_PREFIX=$QCP_PREFIX"
  run cmake --build "$CACHE/build/qcustomplot/build" --parallel "$JOBS"
  run cmake --install "$CACHE/build/qcustomplot/build"
  rm -rf "$CACHE/build/qcustomplot"
  touch "$QCP_PREFIX/.done"
fi

if [ $DEPS_ONLY -eq 1 ]; then
  stage_done
  echo "qm-windows: the libraries are ready in $CACHE"
  exit 0
fi

# --- 6. the program -----------------------------------------------------------------------
BUILD=$ROOT/build-windows
if [ $TESTS -eq 1 ]; then
  stage program "the programs and their tests"
  WITH_TESTS=ON
else
  stage program "the programs"
  WITH_TESTS=OFF
fi
echo "      log: $stage_log"
# CMake keeps what it found at the first configure (the Qt toolchain file's content among
# it): a build folder made against other libraries would go on linking them. The folder
# carries the key of the libraries it was made with and starts afresh when that differs.
DEPS_KEY="$KEY_QCP"
if [ -d "$BUILD" ] && [ "$(cat "$BUILD/.qm-deps-key" 2>/dev/null)" != "$DEPS_KEY" ]; then
  echo "      the libraries changed: building $BUILD afresh"
  rm -rf "$BUILD"
fi
mkdir -p "$BUILD"
echo "$DEPS_KEY" >"$BUILD/.qm-deps-key"
# The toolchain file of this work tree, not the one Qt was configured with (the tree may
# have moved since). The tests share the programs' build folder, so switching them on or
# off rebuilds nothing else; ctest runs each test program through the Wine runner.
run "$QT_PREFIX/bin/qt-cmake" -S "$ROOT" -B "$BUILD" -G Ninja -DCMAKE_BUILD_TYPE=Release \
  "-DQT_CHAINLOAD_TOOLCHAIN_FILE=$TOOLCHAIN" \
  "-DCMAKE_PREFIX_PATH=$QCP_PREFIX" \
  "-DSQLite3_INCLUDE_DIR=$SQLITE_INC" "-DSQLite3_LIBRARY=$SQLITE_LIB" \
  -DQM_BUILD_TESTS=$WITH_TESTS -DQM_BUILD_BENCH=OFF \
  "-DCMAKE_CROSSCOMPILING_EMULATOR=$ROOT/packaging/windows/wine-test.sh"
run cmake --build "$BUILD" --parallel "$JOBS"

# --- 7. check the imports -----------------------------------------------------------------
stage imports "DLL check"
PROGRAMS=(app/qm-interface.exe tools/log/qm-log.exe tools/decode/qm-decode.exe)
# What Windows itself has in System32; anything else would have to ship beside the programs.
WINDOWS_DLLS='kernel32|user32|gdi32|advapi32|shell32|ole32|oleaut32|comdlg32|comctl32|winspool\.drv|imm32|winmm|version|uxtheme|dwmapi|shcore|shlwapi|userenv|netapi32|mpr|ws2_32|iphlpapi|crypt32|bcrypt|secur32|authz|wtsapi32|setupapi|dwrite|d2d1|d3d9|d3d11|d3d12|dxgi|msvcrt|ucrtbase|api-ms-win-[a-z0-9-]+'
built=()
missing=()
for exe in "${PROGRAMS[@]}"; do
  if [ ! -f "$BUILD/$exe" ]; then
    missing+=("$(basename "$exe")")
    continue
  fi
  imports=$($TRIPLE-objdump -p "$BUILD/$exe" | sed -n 's/^[ \t]*DLL Name: //p' | tr 'A-Z' 'a-z')
  foreign=$(echo "$imports" | grep -v -x -E "($WINDOWS_DLLS)(\.dll)?" || true)
  [ -z "$foreign" ] || fail "$exe needs DLLs that Windows does not have: $(echo $foreign)"
  echo "      $(basename "$exe"): imports only Windows' own $(echo $imports)"
  built+=("$exe")
done

# --- 8. zip -------------------------------------------------------------------------------
stage zip "zip"
VERSION=$(sed -n 's/^project(qm_interface VERSION \([0-9.]*\).*/\1/p' "$ROOT/CMakeLists.txt")
NAME=qm-interface-$VERSION-win64
STAGING=$BUILD/$NAME
rm -rf "$STAGING"
mkdir -p "$STAGING" "$ROOT/dist"
for exe in "${built[@]}"; do
  run $TRIPLE-strip -o "$STAGING/$(basename "$exe")" "$BUILD/$exe"
done
# Windows readers expect CR LF.
sed 's/$/\r/' "$ROOT/packaging/windows/README.txt" >"$STAGING/README.txt"
rm -f "$ROOT/dist/$NAME.zip"
run_in "$BUILD" zip -q -9 -r "$ROOT/dist/$NAME.zip" "$NAME"
stage_done
ZIP=$ROOT/dist/$NAME.zip
echo "qm-windows: $ZIP ($(du -k "$ZIP" | cut -f1) KiB) in $(($(date +%s) - total_start)) s;" \
  "cache $(du -sh "$CACHE" | cut -f1) in $CACHE"
if [ ${#missing[@]} -gt 0 ]; then
  echo "qm-windows: INCOMPLETE: ${missing[*]} not built for Windows, so not in the zip" >&2
  exit 1
fi

