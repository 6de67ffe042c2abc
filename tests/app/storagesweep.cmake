qm_add_test(tst_storagesweep SOURCES ${CMAKE_CURRENT_LIST_DIR}/tst_storagesweep.cpp
            ${PROJECT_SOURCE_DIR}/tests/common/writebudget.cpp
            ${PROJECT_SOURCE_DIR}/tests/common/testspoolio.cpp LIBS qm_app SQLite::SQLite3)
