# The window on a COM port of Windows (under Wine, pointed at the meter emulator).
if(WIN32)
  qm_add_test(tst_windowoncomport SOURCES ${CMAKE_CURRENT_LIST_DIR}/tst_windowoncomport.cpp
              LIBS qm_app)
  set_tests_properties(tst_windowoncomport PROPERTIES RESOURCE_LOCK meter_port)
else()
  # Compiled here too, never run: a change of the window's interface that breaks this test
  # must fail this build, not only the Windows one.
  add_library(tst_windowoncomport_check OBJECT ${CMAKE_CURRENT_LIST_DIR}/tst_windowoncomport.cpp)
  target_link_libraries(tst_windowoncomport_check PRIVATE Qt6::Test qm_app)
  target_include_directories(tst_windowoncomport_check PRIVATE ${PROJECT_SOURCE_DIR}/tests/common)
endif()
