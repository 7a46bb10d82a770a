# The daemon as at boot, without sticks: the emulated computer has the LED expander chip. Its
# minute or two starts among the groups, not after them all.
stickdup_test(daemon_test KERNEL system/daemon_test.cpp)
set_tests_properties(daemon_test PROPERTIES COST 2)

# The scenario table: one appliance boot a group of rows, each writing its part of build/report/.
add_executable(scenario_test system/scenario.cpp)
target_link_libraries(scenario_test PRIVATE stickdup_testsupport GTest::gtest_main)
target_compile_definitions(scenario_test
  PRIVATE STICKDUP_SCENARIOS="${CMAKE_CURRENT_SOURCE_DIR}/system/scenarios.txt")
add_dependencies(scenario_test stickdupd)
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS system/scenarios.txt)
file(READ system/scenarios.txt table)
string(REGEX MATCHALL "\n[a-z0-9]+ " groups "${table}")
list(TRANSFORM groups STRIP)
list(REMOVE_DUPLICATES groups)
set(cuts ${groups})   # a power cut and the boot after it: one test
list(FILTER cuts INCLUDE REGEX "^power")
list(FILTER groups EXCLUDE REGEX "^(after)?power")
set(run SIM_TIMEOUT=2700 ${STICKDUP_APPLIANCE} --kernel --share ${PROJECT_BINARY_DIR}
  --out ${PROJECT_BINARY_DIR}/report)
# Each group's minutes in a whole run on a two-core machine: the longest start first, so
# that the short ones fill the gaps at the end.
set(minutes " watchdog=7 slow=7 classc=6 verify=6 classb=6 watchdog2=5 whole=5 special=5"
            " classa=5 collect=5 stall=4 distribute=4 stall2=4 buttons=3 restart=3 update=2")
foreach(group IN LISTS groups)
  add_test(NAME scenario_${group} COMMAND ${CMAKE_COMMAND} -E env STICKDUP_GROUP=${group}
           GTEST_FILTER=Table/Scenario.Row/${group}_* ${run} -- $<TARGET_FILE:scenario_test>)
  set(cost 1)
  if("${minutes}" MATCHES " ${group}=([0-9]+)")
    set(cost ${CMAKE_MATCH_1})
  endif()
  set_tests_properties(scenario_${group} PROPERTIES LABELS KERNEL TIMEOUT 2800 COST ${cost})
endforeach()

# A power cut: the first boot stops mid-job; a second plugs the sticks it left and checks them.
string(REPLACE ";" " " run "GTEST_FILTER=Table/Scenario.Row/\${g}_* STICKDUP_GROUP=\${g} ${run}")
foreach(cut IN LISTS cuts)
  set(power "d=\$(mktemp -d); rm -f ${PROJECT_BINARY_DIR}/report/${cut}.sums;")
  string(APPEND power " g=${cut}; ${run} --keep \$d/a -- $<TARGET_FILE:scenario_test>;")
  string(APPEND power " g=after${cut}; ${run} --sticks \$d/a -- $<TARGET_FILE:scenario_test>;")
  string(APPEND power " s=\$?; rm -rf \$d; exit \$s")
  add_test(NAME scenario_${cut} COMMAND bash -c "${power}")
  set_tests_properties(scenario_${cut} PROPERTIES LABELS KERNEL TIMEOUT 2800 COST 2)
endforeach()
