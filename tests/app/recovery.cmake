# What a run left behind, offered back; against the meter emulator (where there is one) the
# kill campaign.
if(TARGET qm-meter-sim)
  qm_add_test(tst_recovery SOURCES ${CMAKE_CURRENT_LIST_DIR}/tst_recovery.cpp LIBS qm_app
              TIMEOUT 240 METER_SIM)
else()
  qm_add_test(tst_recovery SOURCES ${CMAKE_CURRENT_LIST_DIR}/tst_recovery.cpp LIBS qm_app)
endif()
