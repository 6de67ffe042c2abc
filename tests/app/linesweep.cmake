qm_add_test(tst_linesweep SOURCES ${CMAKE_CURRENT_LIST_DIR}/tst_linesweep.cpp LIBS qm_app)
