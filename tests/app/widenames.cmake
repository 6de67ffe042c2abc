# The window and the logger with folder and file names in any script. The logger records
# from the meter emulator on Linux, from the port QM_TEST_METER_PORT names under Wine.
if(TARGET qm-log)
  if(TARGET qm-meter-sim)
    qm_add_test(tst_widenames SOURCES ${CMAKE_CURRENT_LIST_DIR}/tst_widenames.cpp LIBS qm_app
                TIMEOUT 180 METER_SIM)
  else()
    qm_add_test(tst_widenames SOURCES ${CMAKE_CURRENT_LIST_DIR}/tst_widenames.cpp LIBS qm_app
                TIMEOUT 180)
    set_tests_properties(tst_widenames PROPERTIES RESOURCE_LOCK meter_port)
  endif()
  target_include_directories(tst_widenames PRIVATE ${PROJECT_SOURCE_DIR}/report)
  target_compile_definitions(tst_widenames PRIVATE QM_LOG_BINARY="$<TARGET_FILE:qm-log>")
  add_dependencies(tst_widenames qm-log)
endif()
