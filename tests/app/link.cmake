# On pseudo-terminals, which Windows does not have.
if(NOT WIN32)
  find_library(QM_UTIL_LIB util)
  qm_add_test(tst_link SOURCES ${CMAKE_CURRENT_LIST_DIR}/tst_link.cpp LIBS qm_app ${QM_UTIL_LIB})
endif()
