qm_add_test(tst_faults SOURCES ${CMAKE_CURRENT_LIST_DIR}/tst_faults.cpp
            ${PROJECT_SOURCE_DIR}/tests/common/writebudget.cpp LIBS qm_app SQLite::SQLite3 TIMEOUT 240
            METER_SIM)
if(TARGET tst_faults)
  target_compile_definitions(tst_faults PRIVATE QM_INTERFACE="$<TARGET_FILE:qm-interface>")
  add_dependencies(tst_faults qm-interface)
endif()
