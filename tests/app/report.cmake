qm_add_test(tst_report SOURCES ${CMAKE_CURRENT_LIST_DIR}/tst_report.cpp
            LIBS qm_app qm_report qm_report_print)
target_include_directories(tst_report PRIVATE ${CMAKE_CURRENT_LIST_DIR}/../report)
