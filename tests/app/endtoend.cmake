qm_add_test(tst_endtoend SOURCES ${CMAKE_CURRENT_LIST_DIR}/tst_endtoend.cpp LIBS qm_app TIMEOUT 180
            METER_SIM)
