# The board's crypto library in a cross build: Debian's package of the board's
# architecture (libssl-dev:armhf) installs beside this machine's own, its archive
# and two headers under the board's triplet, the other headers shared. Those are
# gathered into the build folder, so that no other header of this machine's
# /usr/include reaches the board's build.
set(triplet arm-linux-gnueabihf)
set(stage ${PROJECT_BINARY_DIR}/openssl-${triplet})
if(NOT EXISTS /usr/lib/${triplet}/libcrypto.a)
  message(FATAL_ERROR "no /usr/lib/${triplet}/libcrypto.a: apt-get install libssl-dev:armhf")
endif()
file(MAKE_DIRECTORY ${stage}/openssl)
file(GLOB headers /usr/include/openssl/*.h /usr/include/${triplet}/openssl/*.h)
foreach(header ${headers})
  get_filename_component(name ${header} NAME)
  file(CREATE_LINK ${header} ${stage}/openssl/${name} SYMBOLIC)
endforeach()
set(OPENSSL_INCLUDE_DIR ${stage} CACHE PATH "The board's crypto headers" FORCE)
set(OPENSSL_CRYPTO_LIBRARY /usr/lib/${triplet}/libcrypto.a CACHE FILEPATH
    "The board's crypto library" FORCE)
