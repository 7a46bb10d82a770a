# System test binaries (the real daemon in the simulated appliance)
stickdup_test(buttons_host_test HOST system/buttons_host_test.cpp)
