# The live screenshot needs the meter emulator, which Windows builds lack; the rest of the
# layout runs everywhere.
if(TARGET qm-meter-sim)
  qm_add_test(tst_layout SOURCES ${CMAKE_CURRENT_LIST_DIR}/tst_layout.cpp LIBS qm_app METER_SIM)
else()
  qm_add_test(tst_layout SOURCES ${CMAKE_CURRENT_LIST_DIR}/tst_layout.cpp LIBS qm_app)
endif()
