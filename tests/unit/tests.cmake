# Unit test binaries: stickdup_test(name HOST|KERNEL sources...)
stickdup_test(appliance_host_test HOST unit/appliance_host_test.cpp)
