# Unit test binaries: stickdup_test(name HOST|KERNEL sources...)
stickdup_test(appliance_host_test HOST unit/appliance_host_test.cpp)
stickdup_test(job_common_test HOST unit/job_common_test.cpp)
