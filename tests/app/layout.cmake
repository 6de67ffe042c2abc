# The live screenshot needs the meter emulator, which Windows builds lack; the rest of the
# layout runs everywhere.
if(TARGET qm-meter-sim)
  qm_add_test(tst_layout SOURCES ${CMAKE_CURRENT_LIST_DIR}/tst_layout.cpp LIBS qm_app METER_SIM)
else()
  qm_add_test(tst_layout SOURCES ${CMAKE_CURRENT_LIST_DIR}/tst_layout.cpp LIBS qm_app)
endif()
if(WIN32)
  # The same at 125 %, as most Windows laptops run: Qt scales the whole window.
  add_test(NAME tst_layout_125 COMMAND tst_layout)
  set_tests_properties(tst_layout_125 PROPERTIES
    ENVIRONMENT "QT_QPA_PLATFORM=offscreen;QT_SCALE_FACTOR=1.25;QM_EXPECT_SCALE=1.25;QM_BUILD_DIR=${CMAKE_BINARY_DIR}"
    TIMEOUT 120 WORKING_DIRECTORY ${CMAKE_CURRENT_BINARY_DIR})
endif()
