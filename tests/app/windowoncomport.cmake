# The window on a COM port of Windows (under Wine, pointed at the meter emulator).
if(WIN32)
  qm_add_test(tst_windowoncomport SOURCES ${CMAKE_CURRENT_LIST_DIR}/tst_windowoncomport.cpp
              LIBS qm_app)
  set_tests_properties(tst_windowoncomport PROPERTIES RESOURCE_LOCK meter_port)
endif()
