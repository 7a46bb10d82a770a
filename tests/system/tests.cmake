# The daemon as at boot, without sticks: the emulated computer has the LED expander chip. Its
# minute or so starts among the short groups, not after them all.
stickdup_test(daemon_test KERNEL system/daemon_test.cpp)
set_tests_properties(daemon_test PROPERTIES COST 77)

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
# Each test's seconds in a whole run on a two-core machine: the longest start first, so
# that the short ones fill the gaps at the end.
set(seconds " watchdog=475 collect=469 whole=452 classb=420 verify=418 special=417 classc=410"
            " slow=360 watchdog2=344 distribute=339 classa=338 stall=273 stall2=237 restart=185"
            " buttons=147 power3=147 update=123 power2=102 power=99")
function(kernel_test test group)
  set(cost 1)
  if("${seconds}" MATCHES " ${group}=([0-9]+)")
    set(cost ${CMAKE_MATCH_1})
  endif()
  set_tests_properties(${test} PROPERTIES LABELS KERNEL TIMEOUT 2800 COST ${cost})
endfunction()
foreach(group IN LISTS groups)
  add_test(NAME scenario_${group} COMMAND ${CMAKE_COMMAND} -E env STICKDUP_GROUP=${group}
           GTEST_FILTER=Table/Scenario.Row/${group}_* ${run} -- $<TARGET_FILE:scenario_test>)
  kernel_test(scenario_${group} ${group})
endforeach()

# A power cut: the first boot stops mid-job; a second plugs the sticks it left and checks them.
string(REPLACE ";" " " run "GTEST_FILTER=Table/Scenario.Row/\${g}_* STICKDUP_GROUP=\${g} ${run}")
foreach(cut IN LISTS cuts)
  set(power "d=\$(mktemp -d); rm -f ${PROJECT_BINARY_DIR}/report/${cut}.sums;")
  string(APPEND power " g=${cut}; ${run} --keep \$d/a -- $<TARGET_FILE:scenario_test>;")
  string(APPEND power " g=after${cut}; ${run} --sticks \$d/a -- $<TARGET_FILE:scenario_test>;")
  string(APPEND power " s=\$?; rm -rf \$d; exit \$s")
  add_test(NAME scenario_${cut} COMMAND bash -c "${power}")
  kernel_test(scenario_${cut} ${cut})
endforeach()
