# The bulk commands of the record table (text export, the .db copy, the table walk) call
# SQLite's C interface on the connection handle that Qt's SQLite driver opened. That is only
# sound when the driver plugin uses the very SQLite library this program links: two copies
# in one process would each keep their own state for one database handle. Refuse to
# configure a build where that cannot be confirmed.
#
# QM_SKIP_SQLITE_PLUGIN_CHECK=ON skips the check, for a platform where the plugin is known
# to share the program's SQLite by other means.
#
# Script mode, for the test of this check:
#   cmake -DQM_CHECK_PLUGIN=<plugin> -DQM_CHECK_SQLITE=<libsqlite3> -P CheckSqlitePlugin.cmake

set(_qm_sqlite_hint "Build Qt's SQLite driver against the system SQLite (Debian's qt6 packages do), or set -DQM_SKIP_SQLITE_PLUGIN_CHECK=ON if you have made sure by other means.")

# Fails the configuration unless `plugin` needs the shared library whose soname `sqlite_lib`
# carries.
function(qm_check_plugin_links plugin sqlite_lib)
  if(NOT (UNIX AND NOT APPLE))
    message(FATAL_ERROR "Cannot check on this platform that ${plugin} uses the system SQLite library. ${_qm_sqlite_hint}")
  endif()
  find_program(QM_READELF NAMES readelf)
  if(NOT QM_READELF)
    message(FATAL_ERROR "readelf (binutils) is needed to check ${plugin}. ${_qm_sqlite_hint}")
  endif()
  execute_process(COMMAND ${QM_READELF} -d "${sqlite_lib}" OUTPUT_VARIABLE ours RESULT_VARIABLE rc1 ERROR_QUIET)
  execute_process(COMMAND ${QM_READELF} -d "${plugin}" OUTPUT_VARIABLE theirs RESULT_VARIABLE rc2 ERROR_QUIET)
  string(REGEX MATCH "Library soname: \\[([^]]+)\\]" _ "${ours}")
  set(soname "${CMAKE_MATCH_1}")
  if(NOT rc1 EQUAL 0 OR NOT rc2 EQUAL 0 OR soname STREQUAL "")
    message(FATAL_ERROR "Could not read the dynamic sections of ${sqlite_lib} and ${plugin}. ${_qm_sqlite_hint}")
  endif()
  string(FIND "${theirs}" "Shared library: [${soname}]" at)
  if(at EQUAL -1)
    message(FATAL_ERROR "Qt's SQLite driver plugin ${plugin} does not link the system SQLite library ${soname} (it carries its own copy). The record table's bulk commands would then use two SQLite copies on one connection. ${_qm_sqlite_hint}")
  endif()
  message(STATUS "Qt's SQLite plugin uses the system SQLite (${soname})")
endfunction()

# The static build (Windows): the driver is an archive linked into the program. It must
# leave SQLite's functions undefined, to be taken from SQLite::SQLite3 (the very library the
# program links), rather than carry a copy of its own.
function(qm_check_static_plugin_links plugin)
  get_target_property(deps Qt6::QSQLiteDriverPlugin INTERFACE_LINK_LIBRARIES)
  if(NOT "${deps}" MATCHES "SQLite::SQLite3")
    message(FATAL_ERROR "Qt's static SQLite driver ${plugin} is not linked against SQLite::SQLite3 (it carries its own copy). ${_qm_sqlite_hint}")
  endif()
  set(nm "${CMAKE_NM}")
  if(NOT nm)
    find_program(nm NAMES nm)
  endif()
  if(NOT nm)
    message(FATAL_ERROR "nm (binutils) is needed to check ${plugin}. ${_qm_sqlite_hint}")
  endif()
  execute_process(COMMAND ${nm} -g "${plugin}" OUTPUT_VARIABLE symbols RESULT_VARIABLE rc ERROR_QUIET)
  if(NOT rc EQUAL 0)
    message(FATAL_ERROR "Could not read the symbols of ${plugin}. ${_qm_sqlite_hint}")
  endif()
  if(symbols MATCHES "[ \t][TD] _?sqlite3_open_v2[\r\n]")
    message(FATAL_ERROR "Qt's static SQLite driver ${plugin} defines SQLite's functions itself (a copy of its own). The record table's bulk commands would then use two SQLite copies on one connection. ${_qm_sqlite_hint}")
  endif()
  if(NOT symbols MATCHES "[ \t]U _?sqlite3_open_v2[\r\n]")
    message(FATAL_ERROR "Qt's static SQLite driver ${plugin} does not call SQLite at all; it cannot be the driver this program needs. ${_qm_sqlite_hint}")
  endif()
  message(STATUS "Qt's static SQLite driver takes SQLite from SQLite::SQLite3")
endfunction()

function(qm_check_sqlite_plugin)
  option(QM_SKIP_SQLITE_PLUGIN_CHECK "Do not check that Qt's SQLite plugin uses the system SQLite" OFF)
  if(QM_SKIP_SQLITE_PLUGIN_CHECK)
    return()
  endif()
  if(NOT TARGET Qt6::QSQLiteDriverPlugin)
    find_package(Qt6QSQLiteDriverPlugin CONFIG QUIET HINTS "${Qt6Sql_DIR}")
  endif()
  if(NOT TARGET Qt6::QSQLiteDriverPlugin)
    message(FATAL_ERROR "Qt's SQLite driver plugin (Qt6::QSQLiteDriverPlugin) was not found, so it cannot be checked that it uses the system SQLite library. ${_qm_sqlite_hint}")
  endif()
  set(plugin "")
  foreach(property IMPORTED_LOCATION IMPORTED_LOCATION_NONE IMPORTED_LOCATION_RELEASE
                   IMPORTED_LOCATION_RELWITHDEBINFO IMPORTED_LOCATION_DEBUG)
    get_target_property(plugin Qt6::QSQLiteDriverPlugin ${property})
    if(plugin)
      break()
    endif()
  endforeach()
  if(NOT plugin OR NOT EXISTS "${plugin}")
    message(FATAL_ERROR "Qt's SQLite driver plugin file was not found (${plugin}). ${_qm_sqlite_hint}")
  endif()
  get_target_property(sqlite_lib SQLite::SQLite3 IMPORTED_LOCATION)
  if(NOT sqlite_lib)
    set(sqlite_lib "${SQLite3_LIBRARY}")
  endif()
  if(plugin MATCHES "\\${CMAKE_STATIC_LIBRARY_SUFFIX}$")
    qm_check_static_plugin_links("${plugin}")
  else()
    qm_check_plugin_links("${plugin}" "${sqlite_lib}")
  endif()
  set(QM_SQLITE_PLUGIN "${plugin}" CACHE INTERNAL "Qt's SQLite driver plugin")
  set(QM_SQLITE_LIBRARY "${sqlite_lib}" CACHE INTERNAL "The system SQLite library")
endfunction()

if(CMAKE_SCRIPT_MODE_FILE AND DEFINED QM_CHECK_PLUGIN)
  qm_check_plugin_links("${QM_CHECK_PLUGIN}" "${QM_CHECK_SQLITE}")
endif()
