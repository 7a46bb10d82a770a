# Unit test binaries: stickdup_test(name HOST|KERNEL sources...)
stickdup_test(appliance_host_test HOST unit/appliance_host_test.cpp)
stickdup_test(job_common_test HOST unit/job_common_test.cpp)
stickdup_test(led_board_test HOST unit/led_board_test.cpp)
stickdup_test(self_update_test HOST unit/self_update_test.cpp)
stickdup_test(sticks_host_test HOST unit/mount_format_host_test.cpp unit/space_test.cpp
              unit/folder_layout_test.cpp)
stickdup_test(copy_file_test HOST unit/copy_file_test.cpp)
stickdup_test(foundation_test HOST unit/text_utils_test.cpp unit/file_helpers_test.cpp unit/shell_runner_test.cpp unit/function_leds_test.cpp unit/detection_test.cpp)
