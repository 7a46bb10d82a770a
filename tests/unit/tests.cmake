stickdup_test(supervisor_unit_test unit/supervisor_test.cpp)
stickdup_test(sticks_unit_test unit/sticks_test.cpp unit/jobs_test.cpp)
stickdup_test(copy_unit_test unit/copy_test.cpp)
target_link_options(copy_unit_test PRIVATE -Wl,--wrap=close)   # see copy_test.cpp
