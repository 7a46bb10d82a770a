# The board's crypto library in a cross build: Debian's package of the board's
# architecture (libssl-dev:armhf), either installed beside this machine's own (its
# archive and two headers under the board's triplet, the other headers shared) or
# unpacked apart by sim/build-arm. Its headers are gathered into the build folder,
# so that no other header of this machine's /usr/include reaches the board's build.
set(triplet arm-linux-gnueabihf)
set(STICKDUP_ARMHF_CRYPTO /usr CACHE PATH
    "Where libssl-dev:armhf lies (include/, lib/): /usr when installed")
set(root ${STICKDUP_ARMHF_CRYPTO})
set(stage ${PROJECT_BINARY_DIR}/openssl-${triplet})
if(NOT EXISTS ${root}/lib/${triplet}/libcrypto.a)
  message(FATAL_ERROR "no ${root}/lib/${triplet}/libcrypto.a: sim/build-arm unpacks it")
endif()
file(MAKE_DIRECTORY ${stage}/openssl)
file(GLOB headers ${root}/include/openssl/*.h ${root}/include/${triplet}/openssl/*.h)
foreach(header ${headers})
  get_filename_component(name ${header} NAME)
  file(CREATE_LINK ${header} ${stage}/openssl/${name} SYMBOLIC)
endforeach()
set(OPENSSL_INCLUDE_DIR ${stage} CACHE PATH "The board's crypto headers" FORCE)
set(OPENSSL_CRYPTO_LIBRARY ${root}/lib/${triplet}/libcrypto.a CACHE FILEPATH
    "The board's crypto library" FORCE)
