qm_add_test(tst_hostiletables SOURCES ${CMAKE_CURRENT_LIST_DIR}/tst_hostiletables.cpp
            LIBS qm_app qm_recording qm_recording_widgets qm_report qm_report_print)
target_include_directories(tst_hostiletables PRIVATE ${CMAKE_CURRENT_LIST_DIR}/../report)
