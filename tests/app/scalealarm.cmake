qm_add_test(tst_scalealarm SOURCES ${CMAKE_CURRENT_LIST_DIR}/tst_scalealarm.cpp LIBS qm_app)
