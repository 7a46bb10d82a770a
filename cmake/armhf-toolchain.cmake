# Cross build for the board: 32-bit ARM Linux, hard-float, with Debian's
# g++-arm-linux-gnueabihf. Binaries built here run on this machine only through
# qemu-arm-static, which CTest puts in front of every test binary.
#
#   cmake -S . -B build-arm -DCMAKE_TOOLCHAIN_FILE=cmake/armhf-toolchain.cmake -DSTICKDUP_STATIC=ON
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR arm)

set(CMAKE_C_COMPILER arm-linux-gnueabihf-gcc)
set(CMAKE_CXX_COMPILER arm-linux-gnueabihf-g++)

# Headers and libraries come from the cross sysroot only, never from this machine's
# own /usr: GoogleTest is then built from its sources for the board.
set(CMAKE_FIND_ROOT_PATH /usr/arm-linux-gnueabihf)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

set(CMAKE_CROSSCOMPILING_EMULATOR qemu-arm-static)

# GCC notes on the board that the way 64-bit vector elements are passed changed in
# GCC 7.1: an ABI note for mixing objects of older compilers, which this one build
# never does.
add_compile_options(-Wno-psabi)
