qm_add_test(tst_recording SOURCES ${CMAKE_CURRENT_LIST_DIR}/tst_recording.cpp
            LIBS qm_app qm_recording qm_recording_widgets)
