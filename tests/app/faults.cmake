if(TARGET qm-meter-sim)
  qm_add_test(tst_faults SOURCES ${CMAKE_CURRENT_LIST_DIR}/tst_faults.cpp LIBS qm_app TIMEOUT 240)
  target_compile_definitions(tst_faults PRIVATE QM_METER_SIM="$<TARGET_FILE:qm-meter-sim>"
                                                QM_INTERFACE="$<TARGET_FILE:qm-interface>")
  add_dependencies(tst_faults qm-meter-sim qm-interface)
endif()
