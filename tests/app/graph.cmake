qm_add_test(tst_graph SOURCES ${CMAKE_CURRENT_LIST_DIR}/tst_graph.cpp LIBS qm_app)
