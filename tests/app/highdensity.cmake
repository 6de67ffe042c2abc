qm_add_test(tst_highdensity SOURCES ${CMAKE_CURRENT_LIST_DIR}/tst_highdensity.cpp LIBS qm_app)
