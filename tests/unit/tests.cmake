# Unit test binaries: stickdup_test(name HOST|KERNEL sources...)
