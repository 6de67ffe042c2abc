qm_add_test(tst_tfcommreadout SOURCES ${CMAKE_CURRENT_LIST_DIR}/tst_tfcommreadout.cpp
            LIBS qm_app)
